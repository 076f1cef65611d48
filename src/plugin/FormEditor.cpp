#include "plugin/Editor.h"

#include "ui/common/CodePage.h"
#include "ui/editor/frmZULINF.h"

namespace zul::plugin {

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

} // namespace

std::unique_ptr<Editor> makeFormEditor()
{
    return std::make_unique<FormEditor>();
}

} // namespace zul::plugin
