#pragma once

namespace zul::ui {

// The work copy handed to a runner (Run Now of an event without a saved
// script) must stay until that runner has exited. Deletion requests wait for
// every such runner; the last one out deletes it.
void workCopyRunnerStarted();
void workCopyRunnerExited();
void deleteWorkCopyWhenFree();

} // namespace zul::ui
