#pragma once

#include "com/HostComponents.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zul::com {

// The plug-in's module-level state: one set per thread, zeroed at first use,
// outliving every instance of the public class on that thread. It lives in
// the shared component library so that every module of the plug-in sees the
// same set.
struct ModuleState {
    std::shared_ptr<IErrorMessages> oMsgService;
    std::shared_ptr<IFileUtility> oFileUtil;
    EventStructPtr oCurEvent;
    std::int32_t uEventOption = 0;
    std::string sNewId;
    std::int32_t uPanelResult = 0;
    std::int32_t uHostPanelAction = 0;
    bool bNeedRefresh = false;
    std::string sRunScript;
    std::string sRunDate;
    std::string sRunTime;
};

ZUL_COM_EXPORT ModuleState& moduleState();

// Back to the zeroed state; for tests that reuse a thread.
ZUL_COM_EXPORT void resetModuleState();

} // namespace zul::com
