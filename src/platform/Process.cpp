#include "platform/Process.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zul::platform {

namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
int g_watching = 0;

} // namespace

Result<pid_t> startProcess(const std::string& program, const std::vector<std::string>& args)
{
    return startProcess(program, args, StartOptions{});
}

Result<pid_t> startProcess(const std::string& program, const std::vector<std::string>& args,
                           const StartOptions& options)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    std::string arg0 = program;
    argv.push_back(arg0.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> added = options.environment;
    std::vector<char*> envp;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::size_t nameLength = eq ? std::size_t(eq - *e) + 1 : std::strlen(*e);
        bool replaced = false;
        for (const auto& a : added)
            replaced = replaced || a.compare(0, nameLength, *e, nameLength) == 0;
        if (!replaced)
            envp.push_back(*e);
    }
    for (auto& a : added)
        envp.push_back(a.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_t* actionsUsed = nullptr;
    if (!options.inheritFds.empty()) {
        posix_spawn_file_actions_init(&actions);
        // Onto itself: this clears close-on-exec in the child only.
        for (const int fd : options.inheritFds)
            posix_spawn_file_actions_adddup2(&actions, fd, fd);
        actionsUsed = &actions;
    }
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), actionsUsed, nullptr, argv.data(), envp.data());
    if (actionsUsed)
        posix_spawn_file_actions_destroy(actionsUsed);
    if (rc != 0)
        return errorFromErrno(rc, program);
    return pid;
}

ChildHandshake::~ChildHandshake()
{
    for (int fd : {m_read, m_write})
        if (fd >= 0)
            ::close(fd);
}

Status ChildHandshake::open()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errorFromErrno(errno, "pipe");
    m_read = fds[0];
    m_write = fds[1];
    return success();
}

void ChildHandshake::started()
{
    if (m_write >= 0) {
        ::close(m_write);
        m_write = -1;
    }
}

bool ChildHandshake::waitForClose(std::chrono::milliseconds wait)
{
    if (m_read < 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{m_read, POLLIN, 0};
        const int r = ::poll(&p, 1, int(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r < 0; // a broken poll is no reason to hold a run up
        char buf[64];
        const ssize_t n = ::read(m_read, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return true; // end of file: every copy of the write end is closed
    }
}

void watchChild(pid_t pid, std::function<void(int)> action)
{
    {
        std::lock_guard lock(g_mutex);
        ++g_watching;
    }
    std::thread([pid, action = std::move(action)] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (action)
            action(status);
        std::lock_guard lock(g_mutex);
        --g_watching;
        g_cv.notify_all();
    }).detach();
}

void waitForWatchedChildren()
{
    std::unique_lock lock(g_mutex);
    g_cv.wait(lock, [] { return g_watching == 0; });
}

} // namespace zul::platform
