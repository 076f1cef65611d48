#include "platform/FileLock.h"

#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
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

Status FileLock::acquire(const std::string& path, std::chrono::milliseconds wait)
{
    release();
    auto opened = openLockFile(path);
    if (!opened)
        return opened.error();
    const int fd = opened->release();
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_fd = fd;
        return success();
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
        const int err = errno;
        ::close(fd);
        return errorFromErrno(err, path);
    }

    // A blocking flock wakes the moment the holder lets go, where polling would
    // leave the lock idle between polls; it waits on a helper thread so that
    // the wait can end. A helper that gets the lock after we gave up drops it.
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        int error = 0;
    };
    auto state = std::make_shared<Wait>();
    std::thread([state, fd] {
        int err = 0;
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                err = errno;
                break;
            }
        }
        std::lock_guard lock(state->mutex);
        if (state->abandoned) {
            ::close(fd);
            return;
        }
        state->error = err;
        state->finished = true;
        state->done.notify_all();
    }).detach();

    std::unique_lock lock(state->mutex);
    if (!state->done.wait_for(lock, wait, [&] { return state->finished; })) {
        state->abandoned = true;
        return Error{ErrorCode::Other, "timed out waiting for the lock '" + path + "'"};
    }
    if (state->error != 0) {
        ::close(fd);
        return errorFromErrno(state->error, path);
    }
    m_fd = fd;
    return success();
}

bool FileLock::tryAcquire(const std::string& path)
{
    release();
    auto opened = openLockFile(path);
    if (!opened)
        return false;
    const int fd = opened->release();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
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
