#include "records/RunStatus.h"

#include "records/KeyValueLines.h"

#include "platform/FileLock.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace zul::records {

namespace {

constexpr std::string_view kPrefix = "run-";
constexpr std::string_view kLock = ".lock";
constexpr std::string_view kStatus = ".status";

std::int64_t number(const std::string& v)
{
    return std::strtoll(v.c_str(), nullptr, 10);
}

// "run-<digits>[-<hex>]" followed by suffix: the part before suffix, or empty.
std::string_view stemOf(std::string_view name, std::string_view suffix)
{
    if (name.size() <= kPrefix.size() + suffix.size() || !name.starts_with(kPrefix) || !name.ends_with(suffix))
        return {};
    const std::string_view stem = name.substr(0, name.size() - suffix.size());
    const std::string_view rest = stem.substr(kPrefix.size());
    const auto dash = rest.find('-');
    const std::string_view pid = rest.substr(0, dash);
    const std::string_view hex = dash == std::string_view::npos ? std::string_view() : rest.substr(dash + 1);
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    if (dash != std::string_view::npos && (hex.empty() || !std::all_of(hex.begin(), hex.end(), [](char c) {
                                               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                                           })))
        return {};
    return stem;
}

std::string decimal(std::int64_t bytes, double unit)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", double(bytes) / unit);
    return buf;
}

struct Unit {
    double size;
    const char* name;
};

Unit unitFor(std::int64_t bytes)
{
    if (bytes < 1000)
        return {1, "B"};
    if (bytes < 1000'000)
        return {1e3, "kB"};
    if (bytes < 1000'000'000)
        return {1e6, "MB"};
    return {1e9, "GB"};
}

std::string shownSeconds(std::int64_t s)
{
    if (s < 60)
        return std::to_string(std::max<std::int64_t>(s, 1)) + " s";
    // Rounded to the nearest minute, without overflowing on a record's nonsense.
    const std::int64_t m = s / 60 + (s % 60 >= 30 ? 1 : 0);
    if (m < 60)
        return std::to_string(m) + " min";
    return std::to_string(m / 60) + " h " + std::to_string(m % 60) + " min";
}

// Held by its run: a shared lock cannot be had without waiting.
bool lockHeld(int folderFd, const std::string& name, const std::string& path)
{
    auto fd = platform::openInFolder(folderFd, name, O_RDONLY, 0, path);
    if (!fd)
        return false;
    return platform::lockedElsewhere(fd->get());
}

} // namespace

std::optional<std::int64_t> RunStatus::secondsLeft() const
{
    if (total <= 0 || rate <= 0 || done < 0 || done > total)
        return std::nullopt;
    const std::int64_t left = total - done;
    return left / rate + (left % rate != 0 ? 1 : 0);
}

std::string statusText(const RunStatus& s)
{
    // One value a line: nothing a partner named may break a line.
    auto text = [](std::string_view v) { return platform::escapeControls(v, ""); };
    return "pid " + std::to_string(s.pid) + "\nevent " + text(s.event) + "\nstart " + text(s.start) + "\nstart_ms " +
           std::to_string(s.startMs) + "\nline " + std::to_string(s.line) + "\ncommand " + text(s.command) + "\nfile " +
           text(s.file) + "\ndone " + std::to_string(s.done) + "\ntotal " + std::to_string(s.total) + "\nrate " +
           std::to_string(s.rate) + "\nupdated_ms " + std::to_string(s.updatedMs) + "\n";
}

std::optional<RunStatus> parseStatus(std::string_view text)
{
    RunStatus s;
    forEachKeyValue(text, [&s](std::string_view key, std::string_view raw) {
        const std::string value(raw);
        if (key == "pid")
            s.pid = long(number(value));
        else if (key == "event")
            s.event = value;
        else if (key == "start")
            s.start = value;
        else if (key == "start_ms")
            s.startMs = number(value);
        else if (key == "line")
            s.line = int(number(value));
        else if (key == "command")
            s.command = value;
        else if (key == "file")
            s.file = value;
        else if (key == "done")
            s.done = number(value);
        else if (key == "total")
            s.total = number(value);
        else if (key == "rate")
            s.rate = number(value);
        else if (key == "updated_ms")
            s.updatedMs = number(value);
    });
    if (s.pid <= 0)
        return std::nullopt;
    return s;
}

std::string statusNameFor(std::string_view lockName)
{
    const std::string_view stem = stemOf(lockName, kLock);
    return stem.empty() ? std::string() : std::string(stem) + std::string(kStatus);
}

std::string lockNameFor(std::string_view statusName)
{
    const std::string_view stem = stemOf(statusName, kStatus);
    return stem.empty() ? std::string() : std::string(stem) + std::string(kLock);
}

std::vector<RunningRun> runningRuns(const std::string& lockFolder, std::string_view event)
{
    std::vector<RunningRun> out;
    auto dir = platform::openFolder(lockFolder);
    if (!dir)
        return out;
    // Unlisted, as unopened: no run is shown, so none is offered for cancelling.
    const auto names = platform::namesIn(dir->get(), lockFolder);
    if (!names)
        return out;
    for (const std::string& name : *names) {
        const std::string lock = lockNameFor(name);
        if (lock.empty())
            continue;
        const std::string path = lockFolder + "/" + name;
        auto fd = platform::openInFolder(dir->get(), name, O_RDONLY, 0, path);
        if (!fd || !platform::checkTrusted(fd->get(), path))
            continue;
        const auto text = platform::readFrom(fd->get(), path);
        auto status = text ? parseStatus(*text) : std::nullopt;
        // The pid in its name, and a lock its run still holds.
        if (!status || std::to_string(status->pid) != lock.substr(4, lock.find_first_of("-.", 4) - 4))
            continue;
        if (!event.empty() && status->event != event)
            continue;
        if (!lockHeld(dir->get(), lock, lockFolder + "/" + lock))
            continue;
        out.push_back({std::move(*status), lockFolder + "/" + lock});
    }
    std::sort(out.begin(), out.end(),
              [](const RunningRun& a, const RunningRun& b) { return a.status.startMs > b.status.startMs; });
    return out;
}

std::string shownBytes(std::int64_t bytes)
{
    const Unit u = unitFor(bytes);
    return u.size == 1 ? std::to_string(bytes) + " B" : decimal(bytes, u.size) + " " + u.name;
}

std::string progressText(const RunStatus& s)
{
    if (s.line <= 0)
        return "starting";
    std::string out = "line " + std::to_string(s.line);
    if (!s.command.empty())
        out += ", " + s.command + (s.file.empty() ? std::string() : " " + s.file);
    if (s.file.empty())
        return out;
    if (s.total > 0) {
        const Unit u = unitFor(s.total);
        out += u.size == 1 ? ", " + std::to_string(s.done) + " of " + std::to_string(s.total) + " B"
                           : ", " + decimal(s.done, u.size) + " of " + decimal(s.total, u.size) + " " + u.name;
    } else {
        out += ", " + shownBytes(s.done);
    }
    if (s.rate > 0) {
        // Whole units from 10 on: a rate wobbles, its tenths say nothing.
        const Unit u = unitFor(s.rate);
        out += ", " +
               (u.size == 1 || double(s.rate) / u.size >= 10 ? std::to_string(std::int64_t(double(s.rate) / u.size))
                                                             : decimal(s.rate, u.size)) +
               " " + u.name + "/s";
    }
    if (const auto left = s.secondsLeft())
        out += ", about " + shownSeconds(*left) + " left";
    return out;
}

} // namespace zul::records
