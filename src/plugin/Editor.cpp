#include "plugin/Editor.h"

#include "ui/common/CodePage.h"
#include "ui/editor/frmZULINF.h"

namespace zul::plugin {

Editor::~Editor() = default;

namespace {

// The editor panel form; each call reaches the thread's instance, creating
// it when it is not loaded.
class FormEditor : public Editor {
public:
    std::string caption() const override { return ui::toCodePage(frmZULINF::instance().windowTitle()); }
    void setCaption(const std::string& c) override { frmZULINF::instance().setWindowTitle(ui::fromCodePage(c)); }
    void setScriptText(const std::string& t) override { frmZULINF::instance().setScriptText(t); }
    void lockForDelete() override { frmZULINF::instance().lockForDelete(); }
    void showModal() override { frmZULINF::instance().showModal(); }
    void unload() override { frmZULINF::unloadInstance(); }
};

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
        t_editor = factory() ? factory()() : std::make_unique<FormEditor>();
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
