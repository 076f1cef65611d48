#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zul::runner {

// An exclusive lock per event on a file in the Junction folder. The kernel
// drops it when the holder dies, so a crashed runner never blocks the next.
class EventLock {
public:
    EventLock() = default;
    ~EventLock();
    EventLock(const EventLock&) = delete;
    EventLock& operator=(const EventLock&) = delete;

    enum class Result { Taken, Waited, Failed, GaveUp };
    // Waits while another runner holds it, until giveUp() says to stop.
    Result acquire(const std::string& path, const std::function<bool()>& giveUp, std::string& error);

private:
    int m_fd = -1;
};

} // namespace zul::runner
