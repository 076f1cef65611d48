#pragma once

#include <string>

namespace zul::ui {

// The Fast Path run's script, tempZUL.zul in the application folder. It holds
// a password, so only its owner may read it.
std::string tempScriptPath();

// Creates or replaces the file with content; a failure raises ComError.
void writeTempScript(const std::string& content);

// The file's lifetime across one Run Now. The handler holds it from the write
// to its end; a runner started on it holds it until it exits. Once the run's
// runner has exited and the handler has ended, the file goes. A run that
// started no runner leaves the file, and an older runner never deletes a
// newer run's file.
class TempScriptUse {
public:
    TempScriptUse(); // taken before the write
    ~TempScriptUse();
    TempScriptUse(const TempScriptUse&) = delete;
    TempScriptUse& operator=(const TempScriptUse&) = delete;

    // Call before starting the runner, and before taking the hand-over lock;
    // the action, run once the runner has exited, releases the runner's hold.
    void runnerStarting();
    // The runner did not start after all.
    void runnerNotStarted();

private:
    unsigned m_generation;
};

} // namespace zul::ui
