#pragma once

#include <functional>

namespace ModExecut {

// An action to run once the next runner started on this thread has exited
// (it runs on the watcher's thread). For files that must outlive the
// runner's read of them.
void AfterNextRunnerExit(std::function<void()> action);

// Takes the pending action back: the runner start consumes it; a caller whose
// run started no runner gets it back here.
std::function<void()> TakeAfterExitAction();

} // namespace ModExecut
