#include "runner/Housekeeping.h"

#include "platform/FileLock.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"

#include "runner/LocalFiles.h"
#include "runner/ReceiptRegister.h"
#include "runner/RunSpool.h"
#include "runner/Settings.h"
#include "runner/Transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

namespace {

template <typename T> void readNumber(const ConfigFile& config, const char* key, T& target)
{
    const auto v = config.value(key);
    if (!v || v->empty())
        return;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v->c_str(), &end, 10);
    if (end && *end == '\0' && errno == 0 && n >= 0)
        target = T(n);
}

std::string sysError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}


} // namespace

// "<name>_<8 digits>-<6 digits>_<digits>-<hex digits>.log", as the runner names
// its transcripts; older runners wrote no "-<hex digits>".
bool isTranscriptName(const char* name)
{
    const std::size_t n = std::strlen(name);
    if (n < 4 || std::strcmp(name + n - 4, ".log") != 0)
        return false;
    std::string base(name, n - 4);
    if (const auto dash = base.rfind('-'); dash != std::string::npos && dash + 1 < base.size() &&
                                           base.find_first_not_of("0123456789abcdef", dash + 1) == std::string::npos &&
                                           base.find('_', dash) == std::string::npos)
        base.erase(dash);
    const auto pidAt = base.rfind('_');
    if (pidAt == std::string::npos || pidAt + 1 == base.size() || pidAt < 16)
        return false;
    for (std::size_t i = pidAt + 1; i < base.size(); ++i)
        if (base[i] < '0' || base[i] > '9')
            return false;
    const std::string stamp = base.substr(pidAt - 15, 15);
    if (base[pidAt - 16] != '_' || stamp[8] != '-')
        return false;
    for (std::size_t i = 0; i < stamp.size(); ++i)
        if (i != 8 && (stamp[i] < '0' || stamp[i] > '9'))
            return false;
    return true;
}

Housekeeping Housekeeping::fromConfig(const ConfigFile& config)
{
    Housekeeping h;
    readNumber(config, "LOG_MAX_BYTES", h.logMaxBytes);
    readNumber(config, "LOG_KEEP", h.logKeep);
    readNumber(config, "TRANSCRIPT_DAYS", h.transcriptDays);
    readNumber(config, "RECEIPT_DAYS", h.receiptDays);
    return h;
}

int lockRunLog(const std::string& logFolder, std::string* error)
{
    // A side lock, since runs.jsonl itself is renamed. Shared by the users of
    // one installed folder: one made by another user is still locked through
    // a read-only descriptor.
    const std::string lockPath = logFolder + "/.runs.jsonl.lock";
    auto opened = zul::platform::openLockFile(lockPath);
    if (!opened) {
        if (error)
            *error = "cannot open " + lockPath + ": " + opened.error().description;
        return -1;
    }
    int err = 0;
    if (zul::platform::lockDescriptor(opened->get(), zul::platform::LockKind::Exclusive, {}, &err) ==
        zul::platform::LockOutcome::Failed) {
        if (error)
            *error = "cannot lock " + lockPath + ": " + std::strerror(err);
        return -1;
    }
    return opened->release();
}

bool rotateRunLog(const std::string& logFolder, std::int64_t maxBytes, int keep, std::string* error)
{
    const std::string runs = logFolder + "/runs.jsonl";
    struct stat st {};
    if (maxBytes <= 0 || ::stat(runs.c_str(), &st) != 0 || st.st_size < maxBytes)
        return false;

    // One rotation at a time, and no history read while the files move.
    const int lock = lockRunLog(logFolder, error);
    if (lock < 0)
        return false;
    bool rotated = false;
    if (::stat(runs.c_str(), &st) == 0 && st.st_size >= maxBytes) {
        // Another runner may have rotated while this one waited: checked again.
        auto numbered = [&](int k) { return runs + "." + std::to_string(k); };
        // Files beyond the number kept, from an earlier, larger LOG_KEEP too.
        int last = keep;
        while (::access(numbered(last + 1).c_str(), F_OK) == 0)
            ++last;
        for (int k = last; k >= std::max(keep, 1); --k)
            if (::unlink(numbered(k).c_str()) != 0 && errno != ENOENT && error && error->empty())
                *error = sysError("cannot remove " + numbered(k));
        for (int k = keep - 1; k >= 1; --k)
            if (::rename(numbered(k).c_str(), numbered(k + 1).c_str()) != 0 && errno != ENOENT && error &&
                error->empty())
                *error = sysError("cannot rename " + numbered(k));
        const int moved = keep > 0 ? ::rename(runs.c_str(), numbered(1).c_str()) : ::unlink(runs.c_str());
        if (moved == 0)
            rotated = true;
        else if (error && error->empty())
            *error = sysError("cannot rotate " + runs);
    }
    ::close(lock); // releases the lock
    return rotated;
}

int removeOldTranscripts(const std::string& logFolder, int days, std::int64_t now, std::string* error)
{
    if (days <= 0)
        return 0;
    auto dir = platform::openFolder(logFolder);
    if (!dir) {
        if (error && dir.error().code != platform::ErrorCode::FileNotFound)
            *error = "cannot read " + logFolder + ": " + dir.error().description;
        return 0;
    }
    // A folder that cannot be listed (one open only to write in) is a sweep
    // that failed, not one that found nothing: it is not stamped.
    const auto names = platform::namesIn(dir->get(), logFolder);
    if (!names) {
        if (error)
            *error = "cannot read " + logFolder + ": " + names.error().description;
        return 0;
    }
    const std::int64_t before = now - std::int64_t(days) * 86400;
    int removed = 0;
    for (const std::string& name : *names) {
        if (!isTranscriptName(name.c_str()))
            continue;
        struct stat st {};
        if (::fstatat(dir->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            std::int64_t(st.st_mtime) >= before)
            continue;
        if (::unlinkat(dir->get(), name.c_str(), 0) == 0)
            ++removed;
        else if (errno != ENOENT && error && error->empty())
            *error = sysError("cannot remove " + logFolder + "/" + name);
    }
    return removed;
}

bool transcriptSweepDue(const std::string& logFolder, std::int64_t now)
{
    // A stamp far in the future came from a wrong clock and must not put the
    // sweep off; one a second ahead is only the file system's finer clock,
    // which runs ahead of time()'s.
    constexpr std::int64_t kClockSlackSeconds = 60;
    struct stat st {};
    const std::string stamp = logFolder + "/" + kSweepStamp;
    return ::fstatat(AT_FDCWD, stamp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
           std::int64_t(st.st_mtime) > now + kClockSlackSeconds ||
           now - std::int64_t(st.st_mtime) >= kSweepEverySeconds;
}

void markTranscriptSweep(const std::string& logFolder)
{
    // No link followed, and only a plain file with no other name touched (a
    // hard link planted in the shared folder could name anybody's file); a
    // stamp that cannot be set only means the next run sweeps again.
    // A new stamp is the group's to touch, whatever the umask.
    auto fd = platform::openNoFollow(logFolder + "/" + kSweepStamp, O_RDONLY | O_CREAT, 0664);
    struct stat st {};
    if (fd && ::fstat(fd->get(), &st) == 0 && st.st_nlink == 1)
        ::futimens(fd->get(), nullptr);
}

HousekeepingResult tidyLog(const std::string& logFolder, const Housekeeping& settings)
{
    HousekeepingResult r;
    r.rotated = rotateRunLog(logFolder, settings.logMaxBytes, settings.logKeep, &r.error);
    const SpoolResult spooled = appendSpooled(logFolder);
    r.spooledAppended = spooled.appended;
    if (r.error.empty())
        r.error = spooled.error;
    // Every transcript's age is a stat of its own: with many events and a
    // month kept, that is thousands a run. Retention counts days, so once an
    // hour is plenty.
    const auto now = std::int64_t(std::time(nullptr));
    if (settings.transcriptDays > 0 && transcriptSweepDue(logFolder, now)) {
        // A sweep that failed is not stamped: the next run tries again.
        std::string swept;
        r.transcriptsRemoved = removeOldTranscripts(logFolder, settings.transcriptDays, now, &swept);
        if (swept.empty())
            markTranscriptSweep(logFolder);
        else if (r.error.empty())
            r.error = swept;
    }
    return r;
}

void tidyLog(const std::string& logFolder, const ConfigFile& config, Transcript& transcript)
{
    const HousekeepingResult r = tidyLog(logFolder, Housekeeping::fromConfig(config));
    if (r.rotated)
        transcript.note("runs.jsonl reached its size limit and was rotated");
    if (r.transcriptsRemoved > 0)
        transcript.note("removed " + platform::counted(r.transcriptsRemoved, "transcript", "transcripts") +
                        " past the retention period");
    if (r.spooledAppended > 0)
        transcript.note("appended " + platform::counted(r.spooledAppended, "run record", "run records") +
                        " that earlier runs could not append to runs.jsonl");
    if (!r.error.empty())
        transcript.error("tidying the log folder: " + r.error);
}

void tidyReceipts(const std::string& appFolder, const ConfigFile& config, Transcript& transcript)
{
    const int days = Housekeeping::fromConfig(config).receiptDays;
    const PruneResult r = pruneOldRecords(appFolder, days, std::int64_t(std::time(nullptr)));
    if (r.removed > 0)
        transcript.note("removed " + platform::counted(r.removed, "receipt record", "receipt records") + " older than " +
                        std::to_string(days) + " days whose Junction file is gone from Rcvdchkr.txt");
    if (!r.error.empty())
        transcript.error("tidying the receipt register: " + r.error);
}

} // namespace zul::runner
