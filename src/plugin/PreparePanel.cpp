#include "plugin/PreparePanel.h"

#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "plugin/Editor.h"
#include "plugin/Seams.h"

using zul::com::moduleState;

namespace ModFTP1 {

void PreparePanel(std::int32_t& OEventOption, zul::com::EventStructPtr& EventStruct)
{
    auto& ms = moduleState();
    try {
        auto& ed = zul::plugin::editor();
        auto& event = zul::com::use(EventStruct);
        std::string id = event.text("BAEvent");
        if (auto text = zul::plugin::seams().loadEventScript(id))
            ed.setScriptText(*text);

        const std::string caption = ed.caption();
        if (!ms.sNewId.empty() && OEventOption == 4) {
            ed.setCaption(caption + " - Duplicate Script " + event.text("BAEvent"));
        } else if (OEventOption == 2) {
            ed.setCaption(caption + " - Update Script " + event.text("BAEvent"));
        } else if (OEventOption == 3) {
            ed.setCaption(caption + " - Update Script " + event.text("BAEvent"));
            ed.lockForDelete();
        }
        ed.showModal();
    } catch (const std::exception& e) {
        reportFailure(e.what());
    }
}

} // namespace ModFTP1
