#include "runner/EventLock.h"

#include "runner/LocalFiles.h"

#include "platform/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace zul::runner {

EventLock::~EventLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

std::string EventLock::lockPath(const std::string& appFolder, const std::string& safeEvent)
{
    return appFolder + "/Lock/event-" + safeEvent + ".lock";
}

EventLock::Result EventLock::acquire(const std::string& path, const std::function<bool()>& giveUp, std::string& error)
{
    // Only locked, never written: the runs of one event may be different
    // users', and a file someone else made is locked read-only. Never through a link.
    auto opened = zul::platform::openLockFile(path);
    if (!opened) {
        error = "cannot open the lock file: " + opened.error().description;
        return Result::Failed;
    }
    m_fd = opened->release();
    bool waited = false;
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = "cannot lock " + path + ": " + errnoText(errno);
            return Result::Failed;
        }
        waited = true;
        if (giveUp())
            return Result::GaveUp;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return waited ? Result::Waited : Result::Taken;
}

} // namespace zul::runner
