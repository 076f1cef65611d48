#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zul::platform {

Result<UniqueFd> openLockFile(const std::string& path)
{
    auto fd = openNoFollow(path, O_RDWR | O_CREAT, 0660);
    if (!fd && fd.error().code == ErrorCode::PermissionDenied)
        fd = openNoFollow(path, O_RDONLY);
    return fd;
}

LockOutcome lockDescriptor(int fd, LockKind kind, const LockWait& wait, int* error)
{
    using namespace std::chrono;
    const int operation = (kind == LockKind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    const auto start = steady_clock::now();
    milliseconds pause(1);
    for (bool waited = false;; waited = true) {
        int r;
        while ((r = ::flock(fd, operation)) != 0 && errno == EINTR) {
        }
        if (r == 0)
            return waited ? LockOutcome::Waited : LockOutcome::Taken;
        if (errno != EWOULDBLOCK) {
            if (error)
                *error = errno;
            return LockOutcome::Failed;
        }
        if (wait.giveUp && wait.giveUp())
            return LockOutcome::GaveUp;
        if (wait.limit != LockWait::unlimited) {
            const auto left = wait.limit - duration_cast<milliseconds>(steady_clock::now() - start);
            if (left <= milliseconds(0))
                return LockOutcome::TimedOut;
            pause = std::min(pause, left);
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, milliseconds(100));
    }
}

bool tryLockDescriptor(int fd)
{
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool lockedElsewhere(int fd)
{
    return ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

LockOutcome FileLock::acquire(const std::string& path, const LockWait& wait, std::string& error)
{
    release();
    auto opened = openLockFile(path);
    if (!opened) {
        error = "cannot open the lock file: " + opened.error().description;
        return LockOutcome::Failed;
    }
    int err = 0;
    const LockOutcome outcome = lockDescriptor(opened->get(), LockKind::Exclusive, wait, &err);
    switch (outcome) {
    case LockOutcome::Taken:
    case LockOutcome::Waited:
        m_fd = opened->release();
        break;
    case LockOutcome::Failed:
        error = "cannot lock " + path + ": " + std::strerror(err);
        break;
    case LockOutcome::TimedOut:
        error = "timed out waiting for the lock '" + path + "'";
        break;
    case LockOutcome::GaveUp:
        error = "gave up waiting for the lock '" + path + "'";
        break;
    }
    return outcome;
}

Status FileLock::acquire(const std::string& path, std::chrono::milliseconds wait)
{
    std::string error;
    const LockOutcome outcome = acquire(path, LockWait{wait, {}}, error);
    if (outcome == LockOutcome::Taken || outcome == LockOutcome::Waited)
        return success();
    return Error{ErrorCode::Other, error};
}

bool FileLock::tryAcquire(const std::string& path)
{
    release();
    auto opened = openLockFile(path);
    if (!opened)
        return false;
    if (!tryLockDescriptor(opened->get()))
        return false;
    m_fd = opened->release();
    return true;
}

void FileLock::release()
{
    if (m_fd >= 0) {
        ::close(m_fd); // drops the lock
        m_fd = -1;
    }
}

} // namespace zul::platform
