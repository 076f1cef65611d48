#include "runner/ReceiptRegister.h"

#include "platform/AppPath.h"
#include "platform/DropLines.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"
#include "records/ReceiptLayout.h"

#include <climits>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <set>

namespace zul::runner {

namespace {

constexpr std::size_t kKeyWidth = records::receipt::kKeyWidth;
constexpr std::size_t kStampAt = records::receipt::kStampAt;
constexpr std::size_t kStampWidth = records::receipt::kStampWidth;

// Runs edit under the hand-over lock; an edit that cannot have it is not made.
std::string editUnderLock(const std::string& appFolder, const std::function<bool(std::string_view)>& drop,
                          std::size_t* removed)
{
    platform::makeSharedFolder(appFolder + "/Lock");
    platform::FileLock lock;
    if (auto taken = lock.acquire(handoverLockPath(appFolder), RegisterLockWait); !taken)
        return "Rcvdchkr.txt left as it is: " + taken.error().description;
    auto dropped = platform::dropLines(registerPath(appFolder), drop);
    if (!dropped)
        return "cannot rewrite Rcvdchkr.txt: " + dropped.error().description;
    if (removed)
        *removed = *dropped;
    return {};
}

// Seconds since the epoch of a record's local stamp yyyymmddhhnnss; -1 when it is none.
std::int64_t stampTime(std::string_view line)
{
    if (line.size() < kStampAt + kStampWidth || line[kStampAt - 1] != ' ')
        return -1;
    int v[6] = {};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    std::size_t at = kStampAt;
    for (int f = 0; f < 6; ++f)
        for (int i = 0; i < widths[f]; ++i, ++at) {
            const char c = line[at];
            if (c < '0' || c > '9')
                return -1;
            v[f] = v[f] * 10 + (c - '0');
        }
    std::tm tm{};
    tm.tm_year = v[0] - 1900;
    tm.tm_mon = v[1] - 1;
    tm.tm_mday = v[2];
    tm.tm_hour = v[3];
    tm.tm_min = v[4];
    tm.tm_sec = v[5];
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    return t == std::time_t(-1) ? -1 : std::int64_t(t);
}

// Keys of the files waiting in Junction/: the name up to its extension.
std::set<std::string, std::less<>> waitingKeys(const std::string& appFolder, std::string* error)
{
    std::set<std::string, std::less<>> keys;
    const std::string junction = appFolder + "/Junction";
    auto dir = platform::openFolder(junction);
    if (!dir) {
        if (dir.error().code != platform::ErrorCode::FileNotFound)
            *error = "cannot read " + junction;
        return keys;
    }
    // A folder that cannot be listed is not an empty one: its records would go.
    const auto names = platform::namesIn(dir->get(), junction);
    if (!names) {
        *error = "cannot read " + junction;
        return keys;
    }
    for (const std::string_view name : *names)
        if (name.size() >= kKeyWidth && (name.size() == kKeyWidth || name[kKeyWidth] == '.'))
            keys.emplace(name.substr(0, kKeyWidth));
    return keys;
}

} // namespace

std::string registerPath(const std::string& appFolder)
{
    // An installed application folder links the register to a writable place:
    // the rewrite replaces the target and leaves the link alone. Only that one
    // link is followed, never one planted in the shared folder it points into.
    return platform::followAppLink(appFolder + "/Rcvdchkr.txt");
}

std::string handoverLockPath(const std::string& appFolder)
{
    return appFolder + "/Lock/handover.lock";
}

std::string_view recordKey(std::string_view line)
{
    if (line.size() < kKeyWidth || (line.size() > kKeyWidth && line[kKeyWidth] != ' '))
        return {};
    const std::string_view key = line.substr(0, kKeyWidth);
    return key.find(' ') == std::string_view::npos ? key : std::string_view();
}

std::string removeDeliveredRecords(const std::string& appFolder, const std::vector<std::string>& lines)
{
    if (lines.empty())
        return {};
    // The run driver renews the first record of a key; later ones are never read.
    std::map<std::string, std::string, std::less<>> wanted;
    for (const auto& l : lines)
        if (const auto key = recordKey(l); !key.empty())
            wanted.emplace(std::string(key), l);
    std::set<std::string, std::less<>> seen;
    return editUnderLock(
        appFolder,
        [&](std::string_view line) {
            const auto key = recordKey(line);
            const auto w = wanted.find(key);
            if (key.empty() || w == wanted.end() || !seen.emplace(key).second)
                return false;
            return line == w->second;
        },
        nullptr);
}

PruneResult pruneOldRecords(const std::string& appFolder, int days, std::int64_t now)
{
    PruneResult r;
    if (days <= 0)
        return r;
    const std::int64_t before = now - std::int64_t(days) * 86400;
    const auto waiting = waitingKeys(appFolder, &r.error);
    if (!r.error.empty())
        return r; // a Junction file that cannot be seen may be waiting
    const auto stale = [&](std::string_view line) {
        const auto key = recordKey(line);
        if (key.empty() || waiting.count(key))
            return false;
        const std::int64_t at = stampTime(line);
        return at >= 0 && at < before;
    };
    // Most runs find nothing to prune, and take no lock for it.
    auto lines = platform::readLines(registerPath(appFolder));
    if (!lines)
        return r;
    bool any = false;
    for (const auto& l : *lines)
        if ((any = stale(l)))
            break;
    if (any)
        r.error = editUnderLock(appFolder, stale, &r.removed);
    return r;
}

} // namespace zul::runner
