#pragma once

#include "platform/Result.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zul::platform {

// Starts program with the given arguments (argv[0] is the program path) through
// posix_spawn, never through a shell, so blanks and shell characters in paths
// and arguments are passed as they are. The child is not waited for.
Result<pid_t> startProcess(const std::string& program, const std::vector<std::string>& args);

// Runs action on a background thread once the child has exited (the child is
// reaped there, so it never stays a zombie). Without an action the child is
// only reaped.
void watchChild(pid_t pid, std::function<void(int exitStatus)> action = {});

// Waits for every child started with watchChild to be reaped; for tests and
// orderly shutdown.
void waitForWatchedChildren();

} // namespace zul::platform
