#include "runner/SocketWatch.h"

#include <cstddef>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zul::runner {

namespace {
// How often an armed watch asks whether the run is to stop.
constexpr std::chrono::milliseconds kTick{200};

// What the partner has taken of our bytes so far, and whether more of them
// wait to be taken: nothing where the kernel does not say.
struct Sending {
    std::uint64_t acked = 0;
    bool waiting = false;
};

Sending sending(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    int queued = 0;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked ||
        ::ioctl(fd, SIOCOUTQ, &queued) != 0)
        return {};
    return {info.tcpi_bytes_acked, queued > 0};
}
} // namespace

SocketWatch::SocketWatch(std::function<bool()> shouldStop) : m_shouldStop(std::move(shouldStop)) {}

SocketWatch::~SocketWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    closeCopy();
}

std::int64_t SocketWatch::now()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SocketWatch::arm(int fd, std::chrono::seconds limit, Counts counts)
{
    // A copy of the descriptor: the library may close its own while the watch
    // is armed (a good-bye closes the socket), and its number could then be
    // given to another file that a shutdown must never reach.
    const int copy = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    {
        std::lock_guard lock(m_mutex);
        closeCopy();
        m_fd = copy;
        m_limitMs = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
        m_counts = counts;
        const Sending sent = counts == Counts::Sent && copy >= 0 ? sending(copy) : Sending{};
        m_acked = sent.acked;
        m_waiting = sent.waiting;
        m_fired = Fired::No;
        progress();
        if (!m_thread.joinable())
            m_thread = std::thread([this] { watch(); });
    }
    m_wake.notify_all();
}

void SocketWatch::disarm()
{
    std::lock_guard lock(m_mutex);
    closeCopy();
}

void SocketWatch::closeCopy()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

SocketWatch::Fired SocketWatch::fired() const
{
    std::lock_guard lock(m_mutex);
    return m_fired;
}

void SocketWatch::watch()
{
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (m_fd < 0) {
            m_wake.wait(lock);
            continue;
        }
        m_wake.wait_for(lock, kTick);
        if (m_fd < 0 || m_quit)
            continue;
        if (m_counts == Counts::Sent) {
            // Only a backlog of ours that the partner takes while more of it
            // waits: the answer to a partner's keep-alive is one small piece,
            // taken whole, and a partner that talks while it takes nothing of
            // ours is still stalled.
            const Sending sent = sending(m_fd);
            if (m_waiting && sent.waiting && sent.acked != m_acked)
                progress();
            m_acked = sent.acked;
            m_waiting = sent.waiting;
        }
        Fired why = Fired::No;
        if (m_shouldStop && m_shouldStop())
            why = Fired::Stopped;
        else if (now() - m_last.load(std::memory_order_relaxed) > m_limitMs)
            why = Fired::Stalled;
        if (why != Fired::No) {
            m_fired = why;
            // Through the copy: the socket itself, whatever became of the library's descriptor.
            ::shutdown(m_fd, SHUT_RDWR);
            closeCopy();
        }
    }
}

} // namespace zul::runner
