#include "runner/RunReport.h"

#include "platform/Text.h"
#include "records/HandoverNames.h"

#include "runner/Masking.h"
#include "runner/Transcript.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zul::runner {

namespace {

constexpr int kFacilityUser = 1 << 3;
// Long enough for any outcome worth reading; a server's endless reply is cut.
constexpr std::size_t kMaxMessage = 4000;
constexpr auto kMaxWait = std::chrono::seconds(2);

std::string cutAtCharacter(std::string text, std::size_t max)
{
    if (text.size() <= max)
        return text;
    std::size_t at = max;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        --at;
    text.resize(at);
    return text + "...";
}

bool sendTo(const std::string& path, int type, const std::string& datagram, int* error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (sent) {
        // A stream log (some syslog daemons) ends each message with a NUL.
        const std::string bytes = type == SOCK_STREAM ? datagram + '\0' : datagram;
        // A log that does not read its queue costs the run at most a few seconds, never the run.
        const auto limit = std::chrono::steady_clock::now() + kMaxWait;
        ssize_t n;
        for (;;) {
            n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0 || (errno != EINTR && errno != EAGAIN))
                break;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, int(left.count()));
        }
        sent = n == ssize_t(bytes.size());
    }
    *error = sent ? 0 : errno;
    ::close(fd);
    return sent;
}

// Tells the waiting qorvhost our status once; the pipe must be a pipe, so a
// stray number in the environment cannot make us write into some file.
void tellWaiter(int status)
{
    const char* named = std::getenv(records::kStatusFdVariable);
    if (!named)
        return;
    const int fd = records::descriptorNamed(named);
    ::unsetenv(records::kStatusFdVariable);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    const std::string line = std::to_string(status) + "\n";
    while (::write(fd, line.data(), line.size()) < 0 && errno == EINTR) {
    }
    ::close(fd);
}

} // namespace

bool sendToSyslog(LogPriority priority, const std::string& message, std::string* why)
{
    const char* override = std::getenv("ZUL_SYSLOG_SOCKET");
    const std::string path = override && *override ? override : "/dev/log";
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &tm);
    const std::string datagram = "<" + std::to_string(kFacilityUser | int(priority)) + ">" + stamp + " VelundZUL[" +
                                 std::to_string(::getpid()) + "]: " + cutAtCharacter(message, kMaxMessage);
    int error = 0;
    if (sendTo(path, SOCK_DGRAM, datagram, &error))
        return true;
    if (error == EPROTOTYPE && sendTo(path, SOCK_STREAM, datagram, &error))
        return true;
    if (why)
        *why = path + ": " + std::strerror(error);
    return false;
}

std::string journalLine(const RunRecord& r)
{
    auto files = [](int n) { return platform::counted(n, "file", "files"); };
    return "event " + (r.event.empty() ? std::string("(Fast Path)") : r.event) + ": " + r.outcome + " (exit status " +
           std::to_string(r.exitStatus) + "); sent " + std::to_string(r.bytesUp) + " bytes in " + files(r.filesUp) +
           ", received " + std::to_string(r.bytesDown) + " bytes in " + files(r.filesDown) + "; transcript " +
           (r.transcript.empty() ? std::string("none") : r.transcript);
}

void reportRunEnd(const RunRecord& record, Transcript& transcript)
{
    const LogPriority priority = record.exitStatus == 0 ? LogPriority::Info : LogPriority::Error;
    std::string why;
    if (!sendToSyslog(priority, platform::escapeControls(transcript.scrub(journalLine(record))), &why))
        transcript.note("the run's line reached no journal or syslog: " + why);
    transcript.flush(); // the waiter, told the run ended, may read it
    tellWaiter(record.exitStatus);
}

} // namespace zul::runner
