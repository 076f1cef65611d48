#include "platform/Clock.h"

#include <cstdio>
#include <ctime>

namespace zul::platform {

namespace {
std::function<LocalDateTime()> g_clock;
}

LocalDateTime now()
{
    if (g_clock)
        return g_clock();
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void setClock(std::function<LocalDateTime()> clock)
{
    g_clock = std::move(clock);
}

std::string formatMmDdYyyy(const LocalDateTime& t)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.month, t.day, t.year);
    return buf;
}

std::string formatHhMmSs(const LocalDateTime& t)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string formatStamp(const LocalDateTime& t)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

} // namespace zul::platform
