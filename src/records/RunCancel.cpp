#include "records/RunCancel.h"

#include "platform/FileLock.h"
#include "platform/SafeOpen.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace zul::records {

namespace {

bool lockStillHeld(const std::string& lockPath)
{
    auto fd = platform::openNoFollow(lockPath, O_RDONLY);
    if (!fd)
        return false; // removed at the run's end
    return platform::lockedElsewhere(fd->get());
}

// The signal goes through a descriptor of the process checked before, so a
// process id reused meanwhile is never hit.
bool sendTo(int pidfd, int sig, bool withValue)
{
    siginfo_t info{};
    info.si_signo = sig;
    info.si_code = SI_QUEUE;
    info.si_pid = ::getpid();
    info.si_uid = ::getuid();
    info.si_value.sival_int = kCancelValue;
    return ::syscall(SYS_pidfd_send_signal, pidfd, sig, withValue ? &info : nullptr, 0) == 0;
}

} // namespace

bool isRunProcess(long pid, const std::string& lockPath)
{
    if (pid <= 0)
        return false;
    const std::string proc = "/proc/" + std::to_string(pid);
    struct stat self {};
    if (::stat(proc.c_str(), &self) != 0 || self.st_uid != ::geteuid())
        return false;
    char exe[4096];
    const ssize_t n = ::readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
    if (n <= 0)
        return false;
    const std::string_view path(exe, std::size_t(n));
    const auto slash = path.rfind('/');
    if (path.substr(slash == std::string_view::npos ? 0 : slash + 1) != "VelundZUL")
        return false;
    struct stat lock {};
    // Lock/ is shared: a link planted there must not stand for the run's lock.
    if (::lstat(lockPath.c_str(), &lock) != 0 || !S_ISREG(lock.st_mode))
        return false;
    const std::string fds = proc + "/fd";
    auto dir = platform::openFolder(fds);
    if (!dir)
        return false;
    // Not listed, not known to hold the lock: nothing is signalled.
    const auto names = platform::namesIn(dir->get(), fds);
    if (!names)
        return false;
    for (const std::string& name : *names) {
        struct stat st {};
        // Followed on purpose: each name stands for a descriptor the process holds.
        if (::fstatat(dir->get(), name.c_str(), &st, 0) == 0 && st.st_dev == lock.st_dev && st.st_ino == lock.st_ino)
            return true;
    }
    return false;
}

CancelResult cancelRun(const RunningRun& run, std::chrono::milliseconds grace)
{
    const long pid = run.status.pid;
    const int pidfd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    if (pidfd < 0)
        return {CancelResult::Kind::NotOurs, "the run's process " + std::to_string(pid) + " is gone"};
    platform::UniqueFd hold(pidfd);
    // Checked after the descriptor is taken: the descriptor names that process for good.
    if (!isRunProcess(pid, run.lockPath))
        return {CancelResult::Kind::NotOurs,
                "process " + std::to_string(pid) +
                    " is not a runner of this user holding the run's lock; nothing signalled"};
    if (!sendTo(pidfd, SIGTERM, true))
        return {CancelResult::Kind::Failed,
                "cannot signal process " + std::to_string(pid) + ": " + std::strerror(errno)};
    const auto until = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < until) {
        if (!lockStillHeld(run.lockPath))
            return {CancelResult::Kind::Ended, "cancelled the run of process " + std::to_string(pid)};
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!lockStillHeld(run.lockPath))
        return {CancelResult::Kind::Ended, "cancelled the run of process " + std::to_string(pid)};
    if (!sendTo(pidfd, SIGKILL, false))
        return {CancelResult::Kind::Failed,
                "process " + std::to_string(pid) + " did not end and cannot be killed: " + std::strerror(errno)};
    return {CancelResult::Kind::Killed, "process " + std::to_string(pid) + " did not end within " +
                                            std::to_string(grace.count() / 1000) +
                                            " s and was killed; the next run records it"};
}

} // namespace zul::records
