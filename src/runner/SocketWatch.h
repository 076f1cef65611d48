#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace zul::runner {

// Ends a blocking call on a socket that waits too long: a thread shuts the
// socket down once the limit passes without progress, or when the run is to
// stop, and the call then fails as on a lost connection. For libraries that
// wait without a limit of their own.
class SocketWatch {
public:
    enum class Fired { No, Stalled, Stopped };
    // What counts as progress: only progress() (a request must have its
    // answer), or also our bytes that the partner takes, as the kernel counts
    // them (one long write on a slow line is no stall). Bytes that come in do
    // not count: keep-alives and other chatter are no part of a transfer.
    enum class Counts { Calls, Sent };

    explicit SocketWatch(std::function<bool()> shouldStop);
    ~SocketWatch();
    SocketWatch(const SocketWatch&) = delete;
    SocketWatch& operator=(const SocketWatch&) = delete;

    // Guards fd until disarm(); what fired before is forgotten.
    void arm(int fd, std::chrono::seconds limit, Counts counts = Counts::Calls);
    // Something moved: the limit counts from now.
    void progress() { m_last.store(now(), std::memory_order_relaxed); }
    void disarm();
    // Why the socket was shut down since the last arm().
    Fired fired() const;
    // The limit of the last arm().
    std::chrono::seconds limit() const { return std::chrono::seconds(m_limitMs / 1000); }

private:
    static std::int64_t now();
    void watch();
    void closeCopy(); // with m_mutex held

    std::function<bool()> m_shouldStop;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_fd = -1; // our own copy of the watched descriptor
    std::int64_t m_limitMs = 0;
    Counts m_counts = Counts::Calls;
    std::uint64_t m_acked = 0; // our bytes the partner had taken at the last look
    bool m_waiting = false;    // and more of ours waited then
    std::atomic<std::int64_t> m_last{0};
    Fired m_fired = Fired::No;
    bool m_quit = false;
    std::thread m_thread; // started on the first arm()
};

// Arms a watch for one scope.
class WatchedCall {
public:
    WatchedCall(SocketWatch& watch, int fd, std::chrono::seconds limit,
                SocketWatch::Counts counts = SocketWatch::Counts::Calls)
        : m_watch(watch)
    {
        watch.arm(fd, limit, counts);
    }
    ~WatchedCall() { m_watch.disarm(); }
    WatchedCall(const WatchedCall&) = delete;
    WatchedCall& operator=(const WatchedCall&) = delete;

private:
    SocketWatch& m_watch;
};

} // namespace zul::runner
