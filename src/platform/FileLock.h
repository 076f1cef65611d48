#pragma once

#include "platform/Result.h"
#include "platform/SafeOpen.h"

#include <chrono>
#include <string>

namespace zul::platform {

// A lock file in a shared folder, opened (and made 0660 when new) without
// following a link. One that another user made and the group may not write is
// opened read-only: flock works through any descriptor.
Result<UniqueFd> openLockFile(const std::string& path);

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
    // Takes the lock only when nobody holds it.
    bool tryAcquire(const std::string& path);
    void release();
    bool held() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

} // namespace zul::platform
