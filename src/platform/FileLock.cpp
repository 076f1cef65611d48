#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace zul::platform {

namespace {

int openLockFile(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

} // namespace

Status FileLock::acquire(const std::string& path, std::chrono::milliseconds wait)
{
    release();
    const int fd = openLockFile(path);
    if (fd < 0)
        return errorFromErrno(errno, path);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    // Short polls first: holders normally keep it for milliseconds.
    auto pause = std::chrono::milliseconds(1);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int err = errno;
            ::close(fd);
            return errorFromErrno(err, path);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Error{ErrorCode::Other, "timed out waiting for the lock '" + path + "'"};
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    m_fd = fd;
    return success();
}

bool FileLock::tryAcquire(const std::string& path)
{
    release();
    const int fd = openLockFile(path);
    if (fd < 0)
        return false;
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
