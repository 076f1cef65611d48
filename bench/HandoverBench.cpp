// One hand-over after another against a 30,000-line receipt register: the
// part that runs take turns for (the register merge and the runner copy under
// the lock, then the runner's start) and the whole hand-over until the runner
// has read its script, against cp of the register in the same run.
#include "com/ModuleState.h"
#include "exec/Handover.h"
#include "exec/ModExecut.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace {

namespace platform = zul::platform;
using Clock = std::chrono::steady_clock;

constexpr int RegisterLines = 30000;
constexpr int Rounds = 41;

class QuietMessages : public zul::com::IErrorMessages {
public:
    zul::com::Variant HandleMessages(const zul::com::Args&) override { return {}; }
};

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Spread {
    double median;
    double worst;
};

Spread spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.back()};
}

} // namespace

int main()
{
    char tmpl[] = "/var/tmp/zul-bench-handover-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = tmpl;
    platform::setAppFolder(folder);
    for (const char* sub : {"/ZUL", "/Junction", "/Lock"})
        (void)platform::makeDirectories(folder + sub);

    std::vector<std::string> reg;
    for (int i = 0; i < RegisterLines; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "X%04d%02d 20240101120000       RC &/data/other/f%05d.txt&", i / 100, i % 100,
                      i);
        reg.emplace_back(line);
    }
    const std::string registerPath = folder + "/Rcvdchkr.txt";
    (void)platform::writeFile(registerPath, platform::joinCrLf(reg));
    (void)platform::writeFile(folder + "/local.dat", "payload\r\n");
    // A runner that reads its script from the descriptor, says so and ends.
    (void)platform::writeFile(folder + "/VelundZUL", "#!/bin/sh\n[ -z \"$ZUL_SCRIPT_FD\" ] || eval \"cat <&$ZUL_SCRIPT_FD\" >/dev/null\n");
    ::chmod((folder + "/VelundZUL").c_str(), 0700);

    auto messages = std::make_shared<QuietMessages>();
    zul::com::moduleState().oMsgService = messages;

    std::vector<double> critical, whole, copies;
    for (int round = 0; round < Rounds; ++round) {
        // A typical event: two files to fetch, one to send.
        const std::string id = "E" + std::to_string(1000 + round);
        const std::string script = "open 127.0.0.1\r\nuser ops\r\nbinary\r\nput " + folder +
                                   "/local.dat /out/x.dat\r\nget /in/a.dat " + folder + "/Junction/" + id +
                                   "01.dat\r\n**" + id + "01=&/home/ops/a.dat&\r\nget /in/b.dat " + folder +
                                   "/Junction/" + id + "02.dat\r\n**" + id + "02=&/home/ops/b.dat&\r\nquit\r\n";
        const std::string scriptPath = folder + "/ZUL/" + id + "ZUL.zul";
        (void)platform::writeFile(scriptPath, script);

        const auto start = Clock::now();
        {
            ModExecut::HandoverLock lock;
            const std::string copy = ModExecut::CheckTransfers(id, scriptPath, false, true, false, true, 1);
            if (copy.empty()) {
                std::fprintf(stderr, "the check failed: %s\n", ModExecut::LastCheckFailure().c_str());
                return 1;
            }
            // What remains under the lock is the runner's start: until the process exists.
            auto pid = platform::startProcess(folder + "/VelundZUL", {"true|" + copy + "|" + id});
            critical.push_back(millisecondsSince(start));
            if (pid)
                ::waitpid(*pid, nullptr, 0);
        }
        const auto wholeStart = Clock::now();
        {
            ModExecut::HandoverLock lock;
            const std::string copy = ModExecut::CheckTransfers(id, scriptPath, false, true, false, true, 1);
            ModExecut::StartRunner(ModExecut::FormRunnerCommand(copy, id), &lock);
        }
        whole.push_back(millisecondsSince(wholeStart));

        const auto copyStart = Clock::now();
        const std::string cp = "cp " + registerPath + " " + folder + "/copy.txt";
        if (std::system(cp.c_str()) != 0)
            return 1;
        copies.push_back(millisecondsSince(copyStart));
    }
    platform::waitForWatchedChildren();

    const Spread c = spread(critical);
    const Spread w = spread(whole);
    const Spread p = spread(copies);
    std::printf("register: %d lines; %d hand-overs\n", RegisterLines, Rounds);
    std::printf("%-44s %9s %9s\n", "milliseconds", "median", "worst");
    std::printf("%-44s %9.2f %9.2f\n", "under the lock (merge, runner copy, start)", c.median, c.worst);
    std::printf("%-44s %9.2f %9.2f\n", "whole hand-over (until the script is read)", w.median, w.worst);
    std::printf("%-44s %9.2f %9.2f\n", "cp of the register", p.median, p.worst);
    std::printf("ratio under the lock / cp: %.2f\n", c.median / p.median);
    std::filesystem::remove_all(folder);
    return 0;
}
