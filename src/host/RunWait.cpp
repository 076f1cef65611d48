#include "host/RunWait.h"

#include "records/HandoverNames.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zul::host {

RunnerWait::~RunnerWait()
{
    handedOver();
    if (m_read >= 0)
        ::close(m_read);
}

bool RunnerWait::prepare(std::string* error)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot make the pipe to wait for the runner: ") + std::strerror(errno);
        return false;
    }
    m_read = fds[0];
    m_write = fds[1];
    // Only the write end crosses to the runner: the run driver hands the
    // descriptor named here to the runner alone; it stays close-on-exec for
    // anything else this process starts.
    ::setenv(records::kStatusFdVariable, std::to_string(m_write).c_str(), 1);
    return true;
}

void RunnerWait::handedOver()
{
    if (m_write < 0)
        return;
    ::unsetenv(records::kStatusFdVariable);
    ::close(m_write);
    m_write = -1;
}

std::optional<int> RunnerWait::wait()
{
    handedOver();
    std::string said;
    char buf[64];
    for (;;) {
        const ssize_t n = ::read(m_read, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (said.size() < 64)
            said.append(buf, std::size_t(n));
    }
    const auto end = said.find('\n');
    if (end == std::string::npos || end == 0 || end > 3)
        return std::nullopt;
    int status = 0;
    for (std::size_t i = 0; i < end; ++i) {
        if (said[i] < '0' || said[i] > '9')
            return std::nullopt;
        status = status * 10 + (said[i] - '0');
    }
    return status <= 255 ? std::optional<int>(status) : std::nullopt;
}

} // namespace zul::host
