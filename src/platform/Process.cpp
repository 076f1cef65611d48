#include "platform/Process.h"

#include <condition_variable>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace zul::platform {

namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
int g_watching = 0;

} // namespace

Result<pid_t> startProcess(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    std::string arg0 = program;
    argv.push_back(arg0.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0)
        return errorFromErrno(rc, program);
    return pid;
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
