#pragma once

#include "platform/Result.h"

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zul::platform {

// Starts program with the given arguments (argv[0] is the program path) through
// posix_spawn, never through a shell, so blanks and shell characters in paths
// and arguments are passed as they are. The child is not waited for.
Result<pid_t> startProcess(const std::string& program, const std::vector<std::string>& args);

struct StartOptions {
    // "NAME=value" entries added to the inherited environment, replacing a
    // variable of the same name.
    std::vector<std::string> environment;
    // Descriptors the child inherits under the same numbers; every other one
    // keeps its close-on-exec flag, so children started meanwhile by other
    // threads never get them.
    std::vector<int> inheritFds;
};
Result<pid_t> startProcess(const std::string& program, const std::vector<std::string>& args,
                           const StartOptions& options);

// A pipe whose write end a child inherits: the child says "done" by closing
// it (or by exiting), and the parent waits for that with a bound.
class ChildHandshake {
public:
    ChildHandshake() = default;
    ~ChildHandshake();
    ChildHandshake(const ChildHandshake&) = delete;
    ChildHandshake& operator=(const ChildHandshake&) = delete;

    Status open();
    int childEnd() const { return m_write; }
    // Drops this process's copy of the child's end; call once the child is started.
    void started();
    // True once the child has closed its end (or exited), false when wait
    // passed first.
    bool waitForClose(std::chrono::milliseconds wait);

private:
    int m_read = -1;
    int m_write = -1;
};

// Runs action on a background thread once the child has exited (the child is
// reaped there, so it never stays a zombie). Without an action the child is
// only reaped.
void watchChild(pid_t pid, std::function<void(int exitStatus)> action = {});

// Waits for every child started with watchChild to be reaped; for tests and
// orderly shutdown.
void waitForWatchedChildren();

} // namespace zul::platform
