#include "runner/Handover.h"

#include "platform/SafeOpen.h"
#include "records/HandoverNames.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

namespace {

// A descriptor number from the environment, or -1.

} // namespace

void confirmScriptRead()
{
    const int fd = records::descriptorNamed(std::getenv(records::kHandshakeFdVariable));
    // Only a pipe is closed: a stale variable must not close a descriptor we use.
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        ::close(fd);
    ::unsetenv(records::kHandshakeFdVariable);
}

zul::platform::Result<std::string> readHandedScript(const std::string& path)
{
    using zul::platform::Error;
    using zul::platform::ErrorCode;
    const char* value = std::getenv(records::kScriptFdVariable);
    if (!value)
        return zul::platform::readTrusted(path);
    const int fd = records::descriptorNamed(value);
    ::unsetenv(records::kScriptFdVariable);
    const std::string why = checkFailureFromHost();
    if (fd < 0)
        return Error{ErrorCode::Other, why.empty() ? "the run driver handed over no script" : why};
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || (flags & O_ACCMODE) == O_WRONLY)
        return Error{ErrorCode::Other, "descriptor " + std::to_string(fd) + " from the run driver is not a script"};
    // Written by the driver as this runner's user; anything else is refused.
    if (auto trusted = zul::platform::checkTrusted(fd, path); !trusted) {
        ::close(fd);
        return trusted.error();
    }
    auto text = zul::platform::readFrom(fd, path); // from the start, whatever the offset
    ::close(fd);
    return text;
}

std::string checkFailureFromHost()
{
    const char* value = std::getenv(records::kCheckFailureVariable);
    return value ? std::string(value) : std::string();
}

} // namespace zul::runner
