#pragma once

#include <optional>
#include <string>

namespace zul::host {

// "qorvhost run ID --wait": the runner that the plug-in starts inherits the
// write end of a pipe, named to it by ZUL_STATUS_FD, and writes its exit
// status there at its end. The pipe's end of file says the runner (and
// whatever it started) is gone, so a service manager sees the run as long as
// it lasts.
class RunnerWait {
public:
    RunnerWait() = default;
    ~RunnerWait();
    RunnerWait(const RunnerWait&) = delete;
    RunnerWait& operator=(const RunnerWait&) = delete;

    // Before the run: the pipe, and its name in the environment the runner inherits.
    bool prepare(std::string* error);
    // After the run was handed over (or not): this process keeps only the read end.
    void handedOver();
    // The runner's exit status, once its end of the pipe is closed; nullopt
    // when it ended without telling one (killed).
    std::optional<int> wait();

private:
    int m_read = -1;
    int m_write = -1;
};

} // namespace zul::host
