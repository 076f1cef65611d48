#pragma once

#include "platform/FileLock.h"
#include "platform/Yield.h"

#include <chrono>
#include <string>

// Runs share the runner copy, the receipt register and tempZUL.zul. A run
// holds the hand-over lock from its register merge until the runner it
// started has its whole script in memory; every other run, in this process
// or another, waits for it.
namespace ModExecut {

// The runner's environment: the descriptor it closes once its script is in
// memory, and why the transfer check failed when it gets no script.
inline constexpr const char* HandshakeVariable = "ZUL_HANDOVER_FD";
inline constexpr const char* CheckFailureVariable = "ZUL_CHECK_FAILURE";

// <application folder>/Lock/handover.lock
std::string HandoverLockPath();

// How long a run waits for the lock, and for a started runner to say that
// it has read its script, before it goes on regardless (and logs it).
inline constexpr std::chrono::milliseconds HandoverLockWait{60000};
inline constexpr std::chrono::milliseconds ScriptReadWait{5000};

class HandoverLock {
public:
    HandoverLock();
    ~HandoverLock();
    HandoverLock(const HandoverLock&) = delete;
    HandoverLock& operator=(const HandoverLock&) = delete;

    bool held() const { return m_lock.held(); }

private:
    // The register is read, merged and written under the lock: a run started
    // from a window message in between would write over this run's records.
    zul::platform::YieldPause m_noYields;
    zul::platform::FileLock m_lock;
};

// A line for the host's log about the hand-over: a wait that ran out, a
// check that failed and why (zul::com::diagnostic).
void HandoverNote(const std::string& text);

} // namespace ModExecut
