#include "runner/RunSpool.h"

#include "runner/Housekeeping.h"
#include "runner/Transcript.h"

#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zul::runner {

namespace {

constexpr std::string_view kSuffix = ".json";

// The spool folder, opened without following a link; made (shared, sticky)
// when missing.
platform::Result<platform::UniqueFd> openSpool(const std::string& logFolder, bool make)
{
    const std::string folder = spoolFolder(logFolder);
    if (make)
        platform::makeSharedFolder(folder);
    return platform::openFolder(folder);
}

// A spooled file holds one record line, as the runner writes them.
bool isRecordLine(std::string_view text)
{
    return text.size() > 12 && text.starts_with("{\"event\":") && text.ends_with("}\n") &&
           text.find('\n') == text.size() - 1;
}

// This user's spooled record, read from the one descriptor whose owner was
// checked; empty for anything else.
std::string readOwn(int dir, const std::string& name, const std::string& path)
{
    auto f = platform::openInFolder(dir, name, O_RDONLY, 0, path);
    struct stat st {};
    if (!f || ::fstat(f->get(), &st) != 0 || st.st_uid != ::geteuid() || st.st_size > (1 << 20))
        return {};
    auto text = platform::readFrom(f->get(), path);
    return text ? *text : std::string();
}

} // namespace

std::string spoolFolder(const std::string& logFolder)
{
    return logFolder + "/spool";
}

std::string spoolRunLine(const std::string& logFolder, std::string_view line, std::string* why)
{
    auto dir = openSpool(logFolder, true);
    if (!dir) {
        *why = "cannot open " + spoolFolder(logFolder) + ": " + dir.error().description;
        return {};
    }
    // Named by the time it was kept, so that names sort as the records came.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "%012lld.%09ld-%d-%d%.*s", static_cast<long long>(now.tv_sec),
                      long(now.tv_nsec), int(::getpid()), attempt, int(kSuffix.size()), kSuffix.data());
        std::string path = spoolFolder(logFolder) + "/" + name;
        auto f = platform::openInFolder(dir->get(), name, O_WRONLY | O_CREAT | O_EXCL, 0660, path);
        if (!f && ::faccessat(dir->get(), name, F_OK, AT_SYMLINK_NOFOLLOW) == 0)
            continue; // taken: the next name
        if (!f) {
            *why = "cannot create " + path + ": " + f.error().description;
            return {};
        }
        if (!platform::writeAllTo(f->get(), line, path) || ::fsync(f->get()) != 0) {
            *why = "cannot write " + path + ": " + std::strerror(errno);
            ::unlinkat(dir->get(), name, 0);
            return {};
        }
        return path;
    }
    *why = "cannot find a free name in " + spoolFolder(logFolder);
    return {};
}

SpoolResult appendSpooled(const std::string& logFolder)
{
    SpoolResult r;
    const std::string folder = spoolFolder(logFolder);
    struct stat there {};
    if (::lstat(folder.c_str(), &there) != 0 && errno == ENOENT)
        return r; // nothing was ever spooled
    auto dir = openSpool(logFolder, false);
    if (!dir) {
        r.error = "cannot open " + folder + ": " + dir.error().description;
        return r;
    }
    auto listed = platform::namesIn(dir->get(), folder);
    if (!listed) {
        r.error = "cannot read " + folder + ": " + listed.error().description;
        return r;
    }
    std::vector<std::string> names;
    for (std::string& name : *listed) {
        struct stat st {};
        if (name.size() > kSuffix.size() && name.ends_with(kSuffix) && name.front() != '.' &&
            ::fstatat(dir->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            names.push_back(std::move(name));
    }
    if (names.empty())
        return r;
    std::sort(names.begin(), names.end());
    // One runner at a time: two would append the same record twice.
    const platform::UniqueFd lock(lockRunLog(logFolder, &r.error));
    if (lock.get() < 0)
        return r;
    for (const auto& name : names) {
        const std::string path = folder + "/" + name;
        const std::string text = readOwn(dir->get(), name, path);
        if (text.empty())
            continue; // taken by a runner before us
        if (!isRecordLine(text)) {
            if (r.error.empty())
                r.error = path + " holds no run record; left as it is";
            continue;
        }
        std::string why;
        if (!appendRunLine(logFolder + "/runs.jsonl", text, &why)) {
            r.error = "the run records in " + spoolFolder(logFolder) + " still wait: cannot append to " + logFolder +
                      "/runs.jsonl: " + why;
            break;
        }
        ::unlinkat(dir->get(), name.c_str(), 0);
        ++r.appended;
    }
    return r;
}

std::string recordRun(const std::string& logFolder, const RunRecord& record)
{
    const std::string runs = logFolder + "/runs.jsonl";
    std::string why;
    const std::string line = records::runRecordLine(record);
    if (appendRunLine(runs, line, &why))
        return {};
    std::string spoolWhy;
    const std::string kept = spoolRunLine(logFolder, line, &spoolWhy);
    std::string text = "cannot append the run record to " + runs + ": " + why;
    if (!kept.empty())
        return text + "; it waits in " + kept + " for the next run to append it";
    std::string shown = line;
    shown.pop_back();
    return text + "; nor keep it: " + spoolWhy + "; the record: " + shown;
}

} // namespace zul::runner
