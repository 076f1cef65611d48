#include "com/ModFTP1.h"

#include "com/ModuleState.h"
#include "com/Registry.h"

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

} // namespace ModFTP1
