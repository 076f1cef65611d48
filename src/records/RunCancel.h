#pragma once

#include "records/RunStatus.h"

#include <chrono>
#include <string>

// Cancelling a running run: a SIGTERM that carries kCancelValue, so the
// runner tells an operator's cancel from any other stop and records it so.
namespace zul::records {

constexpr int kCancelValue = 0x7a756c63;

struct CancelResult {
    enum class Kind { Ended, Killed, NotOurs, Failed };
    Kind kind = Kind::Failed;
    std::string message;
};

// Signals the run only once its process is known to be the run's own: a
// VelundZUL of this user with the run's lock file open. Waits up to grace
// for the run to let go of its lock, then kills the process; a killed run is
// recorded by the next run as one that ended without finishing.
CancelResult cancelRun(const RunningRun& run, std::chrono::milliseconds grace);

// Whether process pid is a VelundZUL of this user holding the file at lockPath open.
bool isRunProcess(long pid, const std::string& lockPath);

} // namespace zul::records
