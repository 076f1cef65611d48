#pragma once

#include <string>

namespace zul::runner {

// The run that started this runner waits, holding the hand-over lock, until
// the runner has its whole script in memory: the runner then closes the pipe
// descriptor named by ZUL_HANDOVER_FD. Nothing happens without the variable.
void confirmScriptRead();

// Why the transfer check before the run failed, when the run driver says so
// (ZUL_CHECK_FAILURE); empty otherwise.
std::string checkFailureFromHost();

} // namespace zul::runner
