#include "runner/Recovery.h"

#include "runner/ExitStatus.h"
#include "runner/Housekeeping.h"
#include "runner/LocalFiles.h"
#include "runner/RunSpool.h"
#include "runner/Transcript.h"

#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

namespace {

std::string readFd(int fd)
{
    std::string text;
    char buf[4096];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n <= 0)
            break;
        text.append(buf, std::size_t(n));
        at += n;
    }
    return text;
}

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

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d))
            names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

bool removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

} // namespace

LockHolder parseHolder(std::string_view text)
{
    LockHolder h;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, blank);
        const std::string value(line.substr(blank + 1));
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
        else if (key == "part")
            h.parts.push_back(value);
        else if (key == "done")
            h.parts.erase(std::remove(h.parts.begin(), h.parts.end(), value), h.parts.end());
    }
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
    m_self.since = std::int64_t(std::time(nullptr));
    m_self.event = std::move(event);
    m_self.start = std::move(start);
    m_self.transcript = std::move(transcriptPath);
}

RunRegistration::~RunRegistration()
{
    setPartFileObserver({});
    if (m_ownFd >= 0)
        ::close(m_ownFd);
}

void RunRegistration::announce(Transcript& transcript)
{
    const std::string lockFolder = m_appFolder + "/Lock";
    ::mkdir(lockFolder.c_str(), 0700);
    m_ownPath = lockFolder + "/run-" + std::to_string(m_self.pid) + ".lock";
    m_ownFd = ::open(m_ownPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_ownFd >= 0 && ::flock(m_ownFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_ownFd);
        m_ownFd = -1;
    }
    if (m_ownFd < 0) {
        transcript.error("cannot register this run in " + m_ownPath + ": " + std::strerror(errno) +
                         "; should it be killed, no later run will record it");
        m_ownPath.clear();
        return;
    }
    shareWithGroup(m_ownFd); // whoever runs next may have to settle this run
    // Still naming a run: an earlier runner with this process id died.
    claim(m_ownFd, transcript);
}

void RunRegistration::begin(int eventLockFd, Transcript& transcript)
{
    if (m_fd < 0 && eventLockFd < 0)
        announce(transcript);
    if (eventLockFd >= 0) {
        // Still naming a run: that run died holding this event's turn.
        claim(eventLockFd, transcript);
        if (m_ownFd >= 0) {
            [[maybe_unused]] const int emptied = ::ftruncate(m_ownFd, 0);
            removeFile(m_ownPath);
            ::close(m_ownFd);
            m_ownFd = -1;
            m_ownPath.clear();
        }
    }
    if (m_fd >= 0)
        setPartFileObserver([this](const std::string& path, bool exists) { notePart(path, exists); });
    recoverOthers(m_ownPath, transcript);
}

void RunRegistration::claim(int fd, Transcript& transcript)
{
    struct stat st {};
    ::fstat(fd, &st);
    const LockHolder dead = parseHolder(readFd(fd));
    if (!dead.empty())
        settle(dead, st, transcript);
    const std::string header = holderHeader(m_self);
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, header.data(), header.size(), 0) == ssize_t(header.size()))
        m_offset = std::int64_t(header.size());
    m_fd = fd;
}

void RunRegistration::end()
{
    setPartFileObserver({});
    if (m_fd < 0)
        return;
    // Should this fail, the next run records this one again: twice beats never.
    [[maybe_unused]] const int emptied = ::ftruncate(m_fd, 0);
    if (!m_ownPath.empty())
        removeFile(m_ownPath);
}

void RunRegistration::alive()
{
    if (m_fd >= 0)
        ::futimens(m_fd, nullptr);
}

void RunRegistration::notePart(const std::string& path, bool exists)
{
    if (m_fd < 0 || path.find('\n') != std::string::npos)
        return;
    const std::string line = (exists ? "part " : "done ") + path + "\n";
    if (::pwrite(m_fd, line.data(), line.size(), off_t(m_offset)) == ssize_t(line.size()))
        m_offset += std::int64_t(line.size());
}

// Lock files are writable by the group: only what a runner of ours could have
// named is acted on, a part file of the lock file's owner and a transcript in
// our own Log folder.
bool RunRegistration::ourPartFile(const std::string& path, const struct stat& lockFile) const
{
    const std::string name = baseName(path);
    struct stat st {};
    return isPartFileName(name) && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_uid == lockFile.st_uid;
}

bool RunRegistration::ourTranscript(const std::string& path) const
{
    return folderPart(path) == m_appFolder + "/Log" && isTranscriptName(baseName(path).c_str());
}

void RunRegistration::settle(const LockHolder& dead, const struct stat& lockFile, Transcript& transcript)
{
    int removed = 0;
    for (const auto& part : dead.parts)
        removed += ourPartFile(part, lockFile) && removeFile(part) ? 1 : 0;
    const bool transcriptOk = !dead.transcript.empty() && ourTranscript(dead.transcript);

    // The last sign of life: its transcript's last line or its lock file's time,
    // whichever is later. One from before the run began says nothing: no end.
    struct stat st {};
    timespec last = lockFile.st_mtim;
    if (transcriptOk && ::stat(dead.transcript.c_str(), &st) == 0 &&
        (st.st_mtim.tv_sec > last.tv_sec || (st.st_mtim.tv_sec == last.tv_sec && st.st_mtim.tv_nsec > last.tv_nsec)))
        last = st.st_mtim;
    const std::string end = last.tv_sec >= dead.since ? isoTime(last.tv_sec, last.tv_nsec) : std::string();

    const std::string what = "the run ended without finishing: runner process " + std::to_string(dead.pid) +
                             " stopped before writing its record (found by process " + std::to_string(m_self.pid) + ")";
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
        const int fd = ::open(dead.transcript.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0) {
            const std::string line = "! " + what + "\n";
            [[maybe_unused]] const ssize_t n = ::write(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    transcript.note("the run of process " + std::to_string(dead.pid) + " (event " +
                    (dead.event.empty() ? std::string("none") : dead.event) + ", started " + dead.start +
                    ") ended without finishing; recorded it and removed " + std::to_string(removed) + " part file(s)");
}

void RunRegistration::recoverOthers(const std::string& ownPath, Transcript& transcript)
{
    const std::string lockFolder = m_appFolder + "/Lock";
    std::int64_t oldestLive = m_self.since;
    bool liveUnknown = false;
    for (const auto& name : namesIn(lockFolder)) {
        const bool runLock = hasPrefix(name, "run-");
        if (!(runLock || hasPrefix(name, "event-")) || !hasSuffix(name, ".lock"))
            continue;
        const std::string path = lockFolder + "/" + name;
        if (path == ownPath)
            continue;
        struct stat mine {
        }, theirs{};
        if (m_fd >= 0 && ::fstat(m_fd, &mine) == 0 && ::stat(path.c_str(), &theirs) == 0 &&
            mine.st_ino == theirs.st_ino && mine.st_dev == theirs.st_dev)
            continue; // this run's own lock
        // A file that names nobody needs no look under its lock: taking an event's
        // lock, however briefly, would make a runner of that event wait.
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const LockHolder named = fd >= 0 ? parseHolder(readFd(fd)) : LockHolder{};
        if (fd >= 0)
            ::close(fd);
        // An empty run-<pid>.lock is left by a runner killed between its record
        // and the file's removal; a young one may be a runner starting up.
        struct stat age {};
        if (named.empty() && (!runLock || ::stat(path.c_str(), &age) != 0 || age.st_mtime > std::time(nullptr) - 60))
            continue;
        zul::platform::FileLock lock;
        if (lock.tryAcquire(path)) {
            struct stat st {};
            ::fstat(lock.fd(), &st);
            const LockHolder dead = parseHolder(readFd(lock.fd()));
            if (!dead.empty()) {
                settle(dead, st, transcript);
                [[maybe_unused]] const int r = ::ftruncate(lock.fd(), 0);
            }
            if (runLock)
                removeFile(path);
            continue;
        }
        if (named.since > 0)
            oldestLive = std::min(oldestLive, named.since);
        else
            liveUnknown = true; // just taken, header not yet written
    }
    if (liveUnknown)
        return;

    // Part files that no live run can own: older than every live run's start.
    const std::string junction = m_appFolder + "/Junction";
    int removed = 0;
    for (const auto& name : namesIn(junction)) {
        if (!isPartFileName(name))
            continue;
        const std::string path = junction + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && std::int64_t(st.st_mtime) < oldestLive &&
            removeFile(path))
            ++removed;
    }
    if (removed > 0)
        transcript.note("removed " + std::to_string(removed) + " part file(s) left in Junction by runs that ended");
}

} // namespace zul::runner
