#include "runner/EventLock.h"

#include "runner/LocalFiles.h"

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
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        error = "cannot open the lock file " + path + ": " + errnoText(errno);
        return Result::Failed;
    }
    shareWithGroup(m_fd);
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
