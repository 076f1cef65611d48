// Prepares a run of a 30,000-line script (50 GET lines with their markers,
// 1,000 PUT lines) against a 30,000-line receipt register, and compares the
// time with copying the same two files with cp in the same run, and with cp
// followed by an fsync of the register's copy: the preparation makes the new
// register durable before it takes its place, and on some disks that flush
// alone costs more than the copy.
#include "com/ModuleState.h"
#include "exec/ModExecut.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace platform = zul::platform;
using Clock = std::chrono::steady_clock;

constexpr int ScriptLines = 30000;
constexpr int RegisterLines = 30000;
constexpr int Gets = 50;
constexpr int Puts = 1000;
constexpr int LocalFiles = 10;
constexpr int Rounds = 15;

class CountingMessages : public zul::com::IErrorMessages {
public:
    zul::com::Variant HandleMessages(const zul::com::Args&) override
    {
        ++count;
        return {};
    }
    int count = 0;
};

std::string makeScript(const std::string& folder)
{
    std::vector<std::string> lines{"open 127.0.0.1", "user bench secret", "binary"};
    const int filler = ScriptLines - static_cast<int>(lines.size()) - Gets * 2 - Puts - 1;
    const int slots = Gets + Puts + filler;
    int gets = 0;
    int puts = 0;
    for (int i = 0; i < slots; ++i) {
        // Spread the transfers evenly through the cd/lcd lines.
        if (gets < Gets && i % (slots / Gets) == 0) {
            ++gets;
            const std::string ordinal = platform::twoDigits(gets);
            lines.push_back("get /remote/in/file" + ordinal + ".dat " + folder + "/Junction/E0001" + ordinal + ".dat");
            lines.push_back("**E0001" + ordinal + "=&/home/ops/inbox/file" + ordinal + ".dat&");
        } else if (puts < Puts && i % (slots / Puts) == 1) {
            lines.push_back("put " + folder + "/local" + std::to_string(puts % LocalFiles) + ".dat /remote/out/p" +
                            std::to_string(puts) + ".dat");
            ++puts;
        } else {
            lines.push_back(i % 2 ? "cd /remote/area" + std::to_string(i) : "lcd /home/ops/area" + std::to_string(i));
        }
    }
    lines.push_back("quit");
    return platform::joinCrLf(lines);
}

std::string makeRegister()
{
    std::vector<std::string> lines;
    lines.reserve(RegisterLines);
    for (int i = 0; i < RegisterLines; ++i) {
        char line[96];
        // Half of the event's keys are already there, spread through the file.
        if (i % (RegisterLines / (Gets / 2)) == 7)
            std::snprintf(line, sizeof line, "E0001%02d 20240101120000 RZ    RC &/home/ops/inbox/old%02d.dat&",
                          i / (RegisterLines / (Gets / 2)) * 2 + 1, i % 100);
        else
            std::snprintf(line, sizeof line, "X%04d%02d 20240101120000       RC &/data/other/f%05d.txt&", i / 100,
                          i % 100, i);
        lines.emplace_back(line);
    }
    return platform::joinCrLf(lines);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main()
{
    char tmpl[] = "/tmp/zul-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = tmpl;
    platform::setAppFolder(folder);
    for (const char* sub : {"/ZUL", "/Junction", "/copy"})
        (void)platform::makeDirectories(folder + sub);
    for (int i = 0; i < LocalFiles; ++i)
        (void)platform::writeFile(folder + "/local" + std::to_string(i) + ".dat", "payload\r\n");

    const std::string scriptPath = folder + "/ZUL/E0001ZUL.zul";
    const std::string registerPath = folder + "/Rcvdchkr.txt";
    const std::string script = makeScript(folder);
    const std::string registerText = makeRegister();
    if (!platform::writeFile(scriptPath, script)) {
        std::fprintf(stderr, "cannot write the script\n");
        return 1;
    }
    auto messages = std::make_shared<CountingMessages>();
    zul::com::moduleState().oMsgService = messages;

    // cp of the script and the register; durable: then an fsync of the register's copy.
    const auto copyBoth = [&](bool durable) {
        const auto pid = platform::startProcess("/bin/cp", {scriptPath, registerPath, folder + "/copy/"});
        int status = 1;
        if (!pid || ::waitpid(*pid, &status, 0) != *pid || status != 0)
            return false;
        if (!durable)
            return true;
        const int copied = ::open((folder + "/copy/Rcvdchkr.txt").c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = copied >= 0 && ::fsync(copied) == 0;
        if (copied >= 0)
            ::close(copied);
        return synced;
    };

    std::vector<double> check;
    std::vector<double> copy;
    std::vector<double> durableCopy;
    for (int round = 0; round < Rounds; ++round) {
        (void)platform::writeFile(registerPath, registerText);
        auto start = Clock::now();
        const std::string runnerCopy = ModExecut::CheckTransfers("E0001", scriptPath, true, true, false, true, 5);
        check.push_back(millisecondsSince(start));
        if (runnerCopy.empty()) {
            std::fprintf(stderr, "the check failed\n");
            return 1;
        }

        for (const bool durable : {false, true}) {
            start = Clock::now();
            const bool done = copyBoth(durable);
            (durable ? durableCopy : copy).push_back(millisecondsSince(start));
            if (!done) {
                std::fprintf(stderr, durable ? "cp and fsync failed\n" : "cp failed\n");
                return 1;
            }
        }
    }

    auto registerAfter = platform::readLines(registerPath);
    const double checkMs = median(check);
    const double copyMs = median(copy);
    const auto count = [&](const char* word) {
        std::size_t n = 0;
        for (std::size_t at = script.find(word); at != std::string::npos; at = script.find(word, at + 1))
            ++n;
        return n;
    };
    std::printf("GET lines: %zu, PUT lines: %zu, messages: %d\n", count("\nget "), count("\nput "), messages->count);
    std::printf("script: %d lines, %zu bytes; register: %d lines, %zu bytes (%zu after the check)\n", ScriptLines,
                script.size(), RegisterLines, registerText.size(), registerAfter ? registerAfter->size() : 0);
    std::printf("CheckTransfers: %.2f ms (median of %d)\n", checkMs, Rounds);
    std::printf("cp of the same bytes: %.2f ms (median of %d)\n", copyMs, Rounds);
    std::printf("ratio CheckTransfers / cp: %.2f\n", checkMs / copyMs);
    const double durableMs = median(durableCopy);
    std::printf("cp and fsync of the register's copy: %.2f ms (median of %d)\n", durableMs, Rounds);
    std::printf("ratio CheckTransfers / cp and fsync: %.2f\n", checkMs / durableMs);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
