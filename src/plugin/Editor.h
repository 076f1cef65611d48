#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zul::plugin {

inline constexpr const char* kEditorDesignCaption = "File Transfer Protocol - Client";

// What the feature class needs of the script editor panel. One instance per
// thread, created on first use and gone once unloaded, so that the next use
// starts from the design settings.
class Editor {
public:
    virtual ~Editor() = default;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setScriptText(const std::string& text) = 0;
    // The read-only state of a Delete: clipboard timer, Fast Path, Cut, Copy,
    // Paste, the text box, Fetch, Run Now and View off; Continue reads "&Delete".
    virtual void lockForDelete() = 0;
    // Shows the panel modally; returns once it has closed.
    virtual void showModal() = 0;
    // Unloads the panel if it is loaded.
    virtual void unload() {}
};

using EditorFactory = std::function<std::unique_ptr<Editor>()>;

// The thread's editor, created by the installed factory on first use.
Editor& editor();
void unloadEditor();

// Installs the factory for new instances; an empty one restores the default.
void setEditorFactory(EditorFactory factory);

// The default: the editor panel form. The plug-in loads the forms from their
// own library on first use, so that a run never loads the widgets; linked
// with the forms, it is made in place. Throws when the forms cannot be had.
std::unique_ptr<Editor> makeFormEditor();

} // namespace zul::plugin
