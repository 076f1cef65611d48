#include "runner/Handover.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

namespace {

// A descriptor number from the environment, or -1.
int descriptorFrom(const char* value)
{
    if (!value || !*value)
        return -1;
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    if (*end != '\0' || fd <= STDERR_FILENO || fd >= 65536)
        return -1;
    return int(fd);
}

} // namespace

void confirmScriptRead()
{
    const int fd = descriptorFrom(std::getenv("ZUL_HANDOVER_FD"));
    // Only a pipe is closed: a stale variable must not close a descriptor we use.
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        ::close(fd);
    ::unsetenv("ZUL_HANDOVER_FD");
}

zul::platform::Result<std::string> readHandedScript(const std::string& path)
{
    using zul::platform::Error;
    using zul::platform::ErrorCode;
    const char* value = std::getenv("ZUL_SCRIPT_FD");
    if (!value)
        return zul::platform::readAll(path);
    const int fd = descriptorFrom(value);
    ::unsetenv("ZUL_SCRIPT_FD");
    const std::string why = checkFailureFromHost();
    if (fd < 0)
        return Error{ErrorCode::Other, why.empty() ? "the run driver handed over no script" : why};
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || (flags & O_ACCMODE) == O_WRONLY)
        return Error{ErrorCode::Other, "descriptor " + std::to_string(fd) + " from the run driver is not a script"};
    // From the start, whatever offset the descriptor was left at.
    std::string text;
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return zul::platform::errorFromErrno(err, path);
        }
        if (n == 0)
            break;
        text.append(buf, std::size_t(n));
        at += n;
    }
    ::close(fd);
    return text;
}

std::string checkFailureFromHost()
{
    const char* value = std::getenv("ZUL_CHECK_FAILURE");
    return value ? std::string(value) : std::string();
}

} // namespace zul::runner
