#include "plugin/ModFTP1.h"

#include "com/ModuleState.h"
#include "com/Registry.h"
#include "plugin/Editor.h"
#include "plugin/Seams.h"

using zul::com::moduleState;

namespace ModFTP1 {

namespace {
template <typename Interface>
void replaceWith(std::shared_ptr<Interface>& ref, const char* progId)
{
    if (auto obj = zul::com::CreateObjectAs<Interface>(progId))
        ref = std::move(obj);
}
} // namespace

void CreateMessageService()
{
    replaceWith(moduleState().oMsgService, zul::com::kErrorMessagesProgId);
}

void CreateFileUtility()
{
    replaceWith(moduleState().oFileUtil, zul::com::kFileUtilityProgId);
}

void CreateEventStruct()
{
    replaceWith(moduleState().oCurEvent, zul::com::kEventStructProgId);
}

void StampEventType()
{
    zul::com::use(moduleState().oCurEvent).SetField("BAEvTYPE", std::string("ZUL"));
}

void reportFailure(const std::string& description)
{
    if (auto svc = moduleState().oMsgService) {
        try {
            svc->HandleMessages({false, description, "D"});
        } catch (...) {
            // A failing report has nowhere further to go.
        }
    }
}

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
