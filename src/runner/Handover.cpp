#include "runner/Handover.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

void confirmScriptRead()
{
    const char* value = std::getenv("ZUL_HANDOVER_FD");
    if (!value)
        return;
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    // Only a pipe is closed: a stale variable must not close a descriptor we use.
    struct stat st {};
    if (end != value && *end == '\0' && fd > STDERR_FILENO && fd < 65536 && ::fstat(int(fd), &st) == 0 &&
        S_ISFIFO(st.st_mode))
        ::close(int(fd));
    ::unsetenv("ZUL_HANDOVER_FD");
}

std::string checkFailureFromHost()
{
    const char* value = std::getenv("ZUL_CHECK_FAILURE");
    return value ? std::string(value) : std::string();
}

} // namespace zul::runner
