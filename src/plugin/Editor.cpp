#include "plugin/Editor.h"

namespace zul::plugin {

namespace {

EditorFactory& factory()
{
    static EditorFactory f;
    return f;
}

thread_local std::unique_ptr<Editor> t_editor;

} // namespace

Editor& editor()
{
    if (!t_editor)
        t_editor = factory() ? factory()() : makeFormEditor();
    return *t_editor;
}

void unloadEditor()
{
    if (t_editor)
        t_editor->unload();
    t_editor.reset();
}

void setEditorFactory(EditorFactory f)
{
    factory() = std::move(f);
}

} // namespace zul::plugin
