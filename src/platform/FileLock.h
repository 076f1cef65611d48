#pragma once

#include "platform/Result.h"
#include "platform/SafeOpen.h"

#include <chrono>
#include <functional>
#include <string>

namespace zul::platform {

// A lock file in a shared folder, opened (and made 0660 when new) without
// following a link. One that another user made and the group may not write is
// opened read-only: flock works through any descriptor.
Result<UniqueFd> openLockFile(const std::string& path);

enum class LockKind { Exclusive, Shared };
enum class LockOutcome { Taken, Waited, TimedOut, GaveUp, Failed };

// How long to wait for a lock someone else holds: up to limit, and only while
// giveUp (when set) says to go on.
struct LockWait {
    static constexpr std::chrono::milliseconds unlimited = std::chrono::milliseconds::max();
    std::chrono::milliseconds limit = unlimited;
    std::function<bool()> giveUp;
};

// Locks an open descriptor with flock. A held lock is tried again without
// blocking after a sleep that grows from 1 ms to 100 ms, so the wait can end
// at any time and leaves no thread behind blocked on the descriptor. On
// Failed, error (when given) receives errno.
LockOutcome lockDescriptor(int fd, LockKind kind, const LockWait& wait, int* error = nullptr);
// Takes an exclusive lock only when nobody holds it.
bool tryLockDescriptor(int fd);
// Someone holds an exclusive lock on the file: a shared one cannot be had
// without waiting. When nobody does, the descriptor keeps the shared lock it
// got until it is closed.
bool lockedElsewhere(int fd);

// An exclusive flock on a file, held while the object lives. Locks taken
// through separate opens exclude each other, between processes and between
// threads of one process alike; the kernel drops the lock when its holder
// dies, so a crash never blocks the next taker.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { release(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the file when missing and waits up to wait for the lock.
    Status acquire(const std::string& path, std::chrono::milliseconds wait);
    // The same with any wait; the outcome tells whether it had to wait.
    LockOutcome acquire(const std::string& path, const LockWait& wait, std::string& error);
    // Takes the lock only when nobody holds it.
    bool tryAcquire(const std::string& path);
    void release();
    bool held() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

} // namespace zul::platform
