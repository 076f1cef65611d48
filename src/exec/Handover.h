#pragma once

#include "platform/FileLock.h"
#include "platform/Result.h"
#include "platform/Yield.h"
#include "records/HandoverNames.h"

#include <chrono>
#include <string>

// Runs share the runner copy, the receipt register and tempZUL.zul. A run
// writes them only while it holds the hand-over lock, and hands its runner
// the script as an open descriptor of what it wrote, so that a later run may
// replace the file at once: the runner reads what was prepared for it,
// however late it starts. A run that cannot have the lock writes nothing and
// gives its runner no script, so the run ends as a failure with the cause.
namespace ModExecut {

// The runner's environment: the descriptor it closes once its script is in
// memory, the descriptor its script is read from (empty when the driver
// could not hand one over), and why it gets no script.
inline constexpr const char* HandshakeVariable = zul::records::kHandshakeFdVariable;
inline constexpr const char* ScriptVariable = zul::records::kScriptFdVariable;
inline constexpr const char* CheckFailureVariable = zul::records::kCheckFailureVariable;
// Seconds a run waits for its turn (and at most ScriptReadWait for its
// runner to read its script).
inline constexpr const char* WaitVariable = "ZUL_HANDOVER_WAIT";
inline constexpr std::chrono::milliseconds ScriptReadWait{5000};

// <application folder>/Lock/handover.lock
std::string HandoverLockPath();

// How long a run waits for the lock and for a started runner to say that it
// has read its script: ZUL_HANDOVER_WAIT seconds, else 600. The wait for the
// lock ends early when its holder dies (the kernel drops the lock); the wait
// for the runner ends when the runner exits.
std::chrono::milliseconds HandoverWait();

class HandoverLock {
public:
    HandoverLock();
    ~HandoverLock();
    HandoverLock(const HandoverLock&) = delete;
    HandoverLock& operator=(const HandoverLock&) = delete;

    // True while this thread may write the shared files: the lock is held
    // here or by a run further down this thread's stack.
    bool held() const { return m_held; }
    // Why the lock is not held, for the log and the runner.
    const std::string& failure() const { return m_failure; }
    // Throws zul::com::ComError with failure() unless held().
    void require() const;
    // Lets the next run in; the shared files must not be written after this.
    void release();

private:
    // The register is read, merged and written under the lock: a run started
    // from a window message in between would write over this run's records.
    zul::platform::YieldPause m_noYields;
    zul::platform::FileLock m_lock;
    bool m_held = false;
    bool m_nested = false;
    std::string m_failure;
};

// A read-only descriptor of a script that is about to be handed to a runner,
// opened without following links. With expected, the file must hold exactly
// those bytes: anything else was put there by someone else after it was
// written, and is refused.
class PinnedScript {
public:
    PinnedScript() = default;
    ~PinnedScript();
    PinnedScript(const PinnedScript&) = delete;
    PinnedScript& operator=(const PinnedScript&) = delete;

    zul::platform::Status pin(const std::string& path, const std::string* expected);
    int fd() const { return m_fd; }
    // In a sticky folder only a file's owner may replace it, so a copy left
    // there would stop other users' runs: once pinned, its name goes. The
    // name is removed only while it still names the pinned file.
    void releaseNameInStickyFolder(const std::string& path) const;

private:
    int m_fd = -1;
};

// A line for the host's log about the hand-over: a wait that ran out, a
// check that failed and why (zul::com::diagnostic).
void HandoverNote(const std::string& text);

} // namespace ModExecut
