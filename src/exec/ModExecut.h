#pragma once

#include "com/HostComponents.h"

#include <cstdint>
#include <string>

// The run driver: partner address, reachability, transfer check and the start
// of the FTP runner.
namespace ModExecut {

// True once the runner has been started; False when the partner did not
// answer. Other failures leave as zul::com::ComError for the caller's trap.
bool RunEvent(std::int32_t& uRunMode, zul::com::EventStructPtr& oEvtStruct);

} // namespace ModExecut
