#include "runner/Settings.h"

#include <cstdlib>
#include <string>

namespace zul::runner {

namespace {
template <typename T> void readNumber(const char* name, T& target)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        return;
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end && *end == '\0' && n >= 0)
        target = T(n);
}
} // namespace

Settings Settings::fromEnvironment()
{
    Settings s;
    readNumber("ZUL_RUNNER_CONNECT_TIMEOUT", s.connectTimeout);
    readNumber("ZUL_RUNNER_REPLY_TIMEOUT", s.replyTimeout);
    readNumber("ZUL_RUNNER_STALL_TIMEOUT", s.stallTimeout);
    readNumber("ZUL_RUNNER_DEADLINE", s.deadline);
    readNumber("ZUL_RUNNER_RETRIES", s.retries);
    readNumber("ZUL_RUNNER_BACKOFF_MS", s.backoff);
    int sync = 1;
    readNumber("ZUL_RUNNER_SYNC", sync);
    s.syncReceived = sync != 0;
    return s;
}

} // namespace zul::runner
