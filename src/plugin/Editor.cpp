#include "plugin/Editor.h"

namespace zul::plugin {

Editor::~Editor() = default;

namespace {

// Stands in until a form is installed: keeps caption and text, closes at once.
class PlainEditor : public Editor {
public:
    std::string caption() const override { return m_caption; }
    void setCaption(const std::string& c) override { m_caption = c; }
    void setScriptText(const std::string& t) override { m_text = t; }
    void lockForDelete() override {}
    void showModal() override {}

private:
    std::string m_caption = kEditorDesignCaption;
    std::string m_text;
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
        t_editor = factory() ? factory()() : std::make_unique<PlainEditor>();
    return *t_editor;
}

bool editorLoaded()
{
    return t_editor != nullptr;
}

void unloadEditor()
{
    t_editor.reset();
}

void setEditorFactory(EditorFactory f)
{
    factory() = std::move(f);
}

} // namespace zul::plugin
