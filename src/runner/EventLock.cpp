#include "runner/EventLock.h"

namespace zul::runner {

std::string EventLock::lockPath(const std::string& appFolder, const std::string& safeEvent)
{
    return appFolder + "/Lock/event-" + safeEvent + ".lock";
}

EventLock::Result EventLock::acquire(const std::string& path, const std::function<bool()>& giveUp, std::string& error)
{
    // Only locked, never written: the runs of one event may be different
    // users', and a file someone else made is locked read-only. Never through a link.
    switch (m_lock.acquire(path, zul::platform::LockWait{zul::platform::LockWait::unlimited, giveUp}, error)) {
    case zul::platform::LockOutcome::Taken:
        return Result::Taken;
    case zul::platform::LockOutcome::Waited:
        return Result::Waited;
    case zul::platform::LockOutcome::GaveUp:
        return Result::GaveUp;
    case zul::platform::LockOutcome::TimedOut:
    case zul::platform::LockOutcome::Failed:
        break;
    }
    return Result::Failed;
}

} // namespace zul::runner
