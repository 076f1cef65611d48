#pragma once

#include "platform/Result.h"

#include <string>

namespace zul::runner {

// The run that started this runner waits until the runner has its whole
// script in memory: the runner then closes the pipe descriptor named by
// ZUL_HANDOVER_FD. Nothing happens without the variable.
void confirmScriptRead();

// The script this runner was started for. The run driver hands it over as an
// open descriptor (ZUL_SCRIPT_FD) of the file it wrote, so a later run that
// replaces the file by then changes nothing here; with the variable present
// but no usable descriptor in it the run gets no script (fail closed). Only a
// runner started by hand, without the variable, reads path.
zul::platform::Result<std::string> readHandedScript(const std::string& path);

// Why the transfer check before the run failed, when the run driver says so
// (ZUL_CHECK_FAILURE); empty otherwise.
std::string checkFailureFromHost();

} // namespace zul::runner
