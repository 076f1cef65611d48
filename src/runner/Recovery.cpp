#include "runner/Recovery.h"

#include "records/ExitStatus.h"
#include "runner/Housekeeping.h"
#include "runner/LocalFiles.h"
#include "runner/RunSpool.h"
#include "runner/Transcript.h"

#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"
#include "records/KeyValueLines.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

using records::ExitStatus;

namespace {

std::string isoTime(std::time_t seconds, long nanoseconds)
{
    tm t{};
    ::localtime_r(&seconds, &t);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &t);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &t);
    return std::string(buf) + "." + std::to_string(1000 + nanoseconds / 1000000).substr(1) + zone;
}

bool hasPrefix(std::string_view s, std::string_view p)
{
    return s.substr(0, p.size()) == p;
}

bool hasSuffix(std::string_view s, std::string_view p)
{
    return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}

} // namespace

bool trustedLockFile(const struct stat& st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

LockHolder parseHolder(std::string_view text)
{
    LockHolder h;
    records::forEachKeyValue(text, [&h](std::string_view key, std::string_view raw) {
        const std::string value(raw);
        if (key == "pid")
            h.pid = std::strtol(value.c_str(), nullptr, 10);
        else if (key == "since")
            h.since = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "event")
            h.event = value;
        else if (key == "start")
            h.start = value;
        else if (key == "transcript")
            h.transcript = value;
    });
    return h;
}

std::string holderHeader(const LockHolder& h)
{
    return "pid " + std::to_string(h.pid) + "\nsince " + std::to_string(h.since) + "\nevent " + h.event + "\nstart " +
           h.start + "\ntranscript " + h.transcript + "\n";
}

RunRegistration::RunRegistration(std::string appFolder, std::string event, std::string start,
                                 std::string transcriptPath)
    : m_appFolder(std::move(appFolder))
{
    m_self.pid = long(::getpid());
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    m_self.since = std::int64_t(now.tv_sec);
    m_startNs = std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    m_self.event = std::move(event);
    m_self.start = std::move(start);
    m_self.transcript = std::move(transcriptPath);
}

RunRegistration::~RunRegistration()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_folderFd >= 0)
        ::close(m_folderFd);
}

void RunRegistration::announce(Transcript& transcript)
{
    if (m_fd >= 0)
        return;
    const std::string lockFolder = m_appFolder + "/Lock";
    zul::platform::makeSharedFolder(lockFolder);
    auto dir = zul::platform::openFolder(lockFolder);
    std::string why = dir ? std::string() : dir.error().description;
    // run-<pid>.lock; should another user's file or a link hold that name, a
    // name of our own beside it.
    const std::string plain = "run-" + std::to_string(m_self.pid);
    for (int attempt = 0; dir && attempt < 4 && m_fd < 0; ++attempt) {
        const std::string name = plain + (attempt == 0 ? "" : "-" + zul::platform::randomHex(8)) + ".lock";
        auto fd = zul::platform::openInFolder(dir->get(), name, O_RDWR | O_CREAT | (attempt == 0 ? 0 : O_EXCL), 0640,
                                              lockFolder + "/" + name);
        struct stat st {};
        if (!fd || ::fstat(fd->get(), &st) != 0 || st.st_uid != ::geteuid()) {
            why = fd ? "the file belongs to another user" : fd.error().description;
            continue;
        }
        if (!zul::platform::tryLockDescriptor(fd->get())) {
            why = std::strerror(errno);
            continue;
        }
        m_ownPath = lockFolder + "/" + name;
        m_fd = fd->release();
        m_statusName = records::statusNameFor(name);
        m_folderFd = ::dup(dir->get());
    }
    if (m_fd < 0) {
        transcript.error("cannot register this run in " + lockFolder + "/" + plain + ".lock: " + why +
                         "; should it be killed, no later run will record it");
        return;
    }
    // Still naming a run: an earlier runner with this process id died.
    claim(m_fd, transcript);
}

void RunRegistration::begin(Transcript& transcript)
{
    announce(transcript);
    recoverOthers(transcript);
}

// Settles what the file names when it can be believed, then names this run in it.
bool RunRegistration::claim(int fd, Transcript& transcript)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (trustedLockFile(st)) {
        const auto text = zul::platform::readFrom(fd, m_ownPath);
        const LockHolder dead = text ? parseHolder(*text) : LockHolder{};
        if (!dead.empty())
            settle(dead, st, transcript);
    }
    // Whatever the umask or an older runner left: written by this user only.
    ::fchmod(fd, 0640);
    const std::string header = holderHeader(m_self);
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, header.data(), header.size(), 0) == ssize_t(header.size());
}

void RunRegistration::end()
{
    if (m_fd < 0)
        return;
    // Should this fail, the next run records this one again: twice beats never.
    [[maybe_unused]] const int emptied = ::ftruncate(m_fd, 0);
    // The status first: while the lock is held it may still be believed.
    if (m_folderFd >= 0 && !m_statusName.empty())
        ::unlinkat(m_folderFd, m_statusName.c_str(), 0);
    // By name in the opened Lock folder: never through a link to its path.
    if (!m_ownPath.empty() && m_folderFd >= 0)
        ::unlinkat(m_folderFd, baseName(m_ownPath).c_str(), 0);
    ::close(m_fd);
    m_fd = -1;
}

void RunRegistration::alive()
{
    if (m_fd >= 0)
        ::futimens(m_fd, nullptr);
}

void RunRegistration::status(records::RunStatus status)
{
    if (m_fd < 0 || m_folderFd < 0 || m_statusName.empty() || m_statusFailed)
        return;
    status.pid = m_self.pid;
    status.event = m_self.event;
    status.start = m_self.start;
    status.startMs = m_startNs / 1000000;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    status.updatedMs = std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    const std::string text = records::statusText(status);
    // A fresh name each time, created exclusively, then renamed over the record.
    const std::string temp = "." + m_statusName + "-" + zul::platform::randomHex(12);
    bool created = false;
    bool written = false;
    {
        auto fd = zul::platform::openInFolder(m_folderFd, temp, O_WRONLY | O_CREAT | O_EXCL, 0640,
                                              m_appFolder + "/Lock/" + temp);
        created = bool(fd);
        written = created && ::write(fd->get(), text.data(), text.size()) == ssize_t(text.size());
    }
    if (!written || ::renameat(m_folderFd, temp.c_str(), m_folderFd, m_statusName.c_str()) != 0) {
        if (created)
            ::unlinkat(m_folderFd, temp.c_str(), 0);
        // One failure is enough to know: a full or foreign folder stays so.
        m_statusFailed = true;
    }
}

bool RunRegistration::ourTranscript(const std::string& path) const
{
    return folderPart(path) == m_appFolder + "/Log" && isTranscriptName(baseName(path).c_str());
}

void RunRegistration::settle(const LockHolder& dead, const struct stat& lockFile, Transcript& transcript)
{
    // The transcript only when it is this user's own file in our Log folder.
    zul::platform::UniqueFd log;
    struct stat st {};
    if (!dead.transcript.empty() && ourTranscript(dead.transcript)) {
        if (auto fd = zul::platform::openNoFollow(dead.transcript, O_WRONLY | O_APPEND);
            fd && ::fstat(fd->get(), &st) == 0 && st.st_uid == ::geteuid())
            log = std::move(*fd);
    }
    const bool transcriptOk = log.get() >= 0;

    // The last sign of life: its transcript's last line or its lock file's time,
    // whichever is later. One from before the run began says nothing: no end.
    timespec last = lockFile.st_mtim;
    if (transcriptOk &&
        (st.st_mtim.tv_sec > last.tv_sec || (st.st_mtim.tv_sec == last.tv_sec && st.st_mtim.tv_nsec > last.tv_nsec)))
        last = st.st_mtim;
    const std::string end = last.tv_sec >= dead.since ? isoTime(last.tv_sec, last.tv_nsec) : std::string();

    // The mark tells the history that this record is not the runner's own.
    const std::string what = "the run ended " + std::string(records::kUnfinishedMark) + ": runner process " +
                             std::to_string(dead.pid) + " stopped before writing its record (found by process " +
                             std::to_string(m_self.pid) + ")";
    RunRecord record;
    record.event = dead.event;
    record.start = dead.start;
    record.end = end;
    record.exitStatus = int(ExitStatus::Interrupted);
    record.outcome = std::string(describe(ExitStatus::Interrupted)) + ": " + what;
    record.transcript = transcriptOk ? dead.transcript : std::string();
    if (const std::string problem = recordRun(m_appFolder + "/Log", record); !problem.empty())
        transcript.error("the unfinished run of process " + std::to_string(dead.pid) + ": " + problem);

    if (transcriptOk) {
        const std::string line = "! " + what + "\n";
        [[maybe_unused]] const ssize_t n = ::write(log.get(), line.data(), line.size());
    }
    transcript.note("the run of process " + std::to_string(dead.pid) + " (event " +
                    (dead.event.empty() ? std::string("none") : dead.event) + ", started " + dead.start +
                    ") ended without finishing; recorded it");
}

void RunRegistration::recoverOthers(Transcript& transcript)
{
    const std::string lockFolder = m_appFolder + "/Lock";
    auto dir = zul::platform::openFolder(lockFolder);
    if (!dir)
        return;
    // In nanoseconds: a run killed a moment before this one started still
    // leaves part files older than this run.
    std::int64_t oldestLive = m_startNs;
    bool liveUnknown = false;
    struct stat mine {};
    const bool haveMine = m_fd >= 0 && ::fstat(m_fd, &mine) == 0;
    // Unlisted, the live runs are unknown, and so is whose part files are whose.
    const auto listed = zul::platform::namesIn(dir->get(), lockFolder);
    if (!listed) {
        transcript.error("cannot look for runs that ended without finishing: " + listed.error().description);
        return;
    }
    const std::vector<std::string>& names = *listed;
    for (const auto& name : names) {
        const bool runLock = hasPrefix(name, "run-");
        if (!(runLock || hasPrefix(name, "event-")) || !hasSuffix(name, ".lock"))
            continue;
        const std::string path = lockFolder + "/" + name;
        auto fd = zul::platform::openInFolder(dir->get(), name, O_RDWR, 0, path);
        if (!fd)
            fd = zul::platform::openInFolder(dir->get(), name, O_RDONLY, 0, path);
        struct stat st {};
        if (!fd || ::fstat(fd->get(), &st) != 0)
            continue;
        if (haveMine && mine.st_ino == st.st_ino && mine.st_dev == st.st_dev)
            continue; // this run's own lock
        const auto text = zul::platform::readFrom(fd->get(), path);
        const LockHolder named = text ? parseHolder(*text) : LockHolder{};
        // An empty run-<pid>.lock is left by a runner killed between its record
        // and the file's removal; a young one may be a runner starting up. An
        // empty event lock needs no look under its lock: taking it, however
        // briefly, would make a runner of that event wait.
        if (named.empty() && (!runLock || st.st_mtime > std::time(nullptr) - 60))
            continue;
        if (zul::platform::tryLockDescriptor(fd->get())) {
            if (!trustedLockFile(st))
                continue; // someone else's: settled by a run of theirs, never by what it says
            const auto again = zul::platform::readFrom(fd->get(), path);
            const LockHolder dead = again ? parseHolder(*again) : LockHolder{};
            if (!dead.empty()) {
                settle(dead, st, transcript);
                [[maybe_unused]] const int r = ::ftruncate(fd->get(), 0);
            }
            if (runLock) {
                // Its status record goes with it, by the lock's name, never by what a file says.
                if (const std::string status = records::statusNameFor(name); !status.empty())
                    for (const auto& other : names)
                        if (other == status || hasPrefix(other, "." + status + "-")) {
                            struct stat sst {};
                            if (::fstatat(dir->get(), other.c_str(), &sst, AT_SYMLINK_NOFOLLOW) == 0 &&
                                trustedLockFile(sst))
                                ::unlinkat(dir->get(), other.c_str(), 0);
                        }
                ::unlinkat(dir->get(), name.c_str(), 0);
            }
            continue;
        }
        if (named.since > 0)
            oldestLive = std::min(oldestLive, named.since * 1000000000);
        else
            liveUnknown = true; // just taken, header not yet written
    }
    if (liveUnknown)
        return;

    // Part files that no live run can own: this user's, older than every live
    // run's start, found by name in our own Junction folder.
    const std::string junction = m_appFolder + "/Junction";
    auto jdir = zul::platform::openFolder(junction);
    if (!jdir)
        return;
    // Unlisted, nothing is removed: the next run tries again.
    const auto parts = zul::platform::namesIn(jdir->get(), junction);
    if (!parts)
        return;
    int removed = 0;
    for (const auto& name : *parts) {
        if (!isPartFileName(name))
            continue;
        struct stat st {};
        if (::fstatat(jdir->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() &&
            std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec < oldestLive &&
            ::unlinkat(jdir->get(), name.c_str(), 0) == 0)
            ++removed;
    }
    if (removed > 0)
        transcript.note("removed " + std::to_string(removed) + " part file(s) left in Junction by runs that ended");
}

} // namespace zul::runner
