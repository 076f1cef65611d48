#pragma once

#include "platform/FileLock.h"

#include <chrono>
#include <functional>
#include <string>

namespace zul::runner {

// An exclusive lock per event on a file in the Lock folder (see lockPath).
// The kernel drops it when the holder dies, so a crashed runner never blocks
// the next. The file holds nothing: a run is named in a lock file of its own
// (see RunRegistration).
class EventLock {
public:
    enum class Result { Taken, Waited, Failed, GaveUp };
    // Waits while another runner holds it, until giveUp() says to stop.
    Result acquire(const std::string& path, const std::function<bool()>& giveUp, std::string& error);

    // <application folder>/Lock/event-<id>.lock for an id made safe for a file name.
    static std::string lockPath(const std::string& appFolder, const std::string& safeEvent);

private:
    zul::platform::FileLock m_lock;
};

} // namespace zul::runner
