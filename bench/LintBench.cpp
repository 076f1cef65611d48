// Lints a 30,000-line event script (GET lines with their markers, PUT lines of
// files that exist, folder changes, type switches, site commands) and compares
// the time with reading the same text with the runner's parser in the same run.
#include "ftpscript/Lint.h"
#include "ftpscript/ScriptParser.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace {

namespace fs = zul::ftpscript;
using Clock = std::chrono::steady_clock;

constexpr int ScriptLines = 30000;
constexpr int Rounds = 21;

std::string makeScript(const std::string& localFile)
{
    std::string s = "open sftp://partner.example.test 2222\r\nuser bench secret\r\nbinary\r\n";
    int lines = 3;
    for (int i = 0; lines < ScriptLines - 1; ++i) {
        const std::string n = std::to_string(i);
        const std::string key = "E0001" + std::string(i % 100 < 10 ? "0" : "") + std::to_string(i % 100);
        const std::string block[] = {
            "cd /remote/area" + n,
            "get file" + n + ".dat /app/Junction/" + key + ".dat",
            "**" + key + "=&/home/ops/inbox/file" + n + ".dat&",
            "put " + localFile + " /remote/out/p" + n + ".dat",
            "lcd /home/ops/area" + n,
            "quote site recfm=fb lrecl=80",
            "",
            "type i",
            "mkdir /remote/new" + n,
            "rename /remote/a" + n + " /remote/b" + n,
        };
        for (const auto& l : block) {
            if (lines >= ScriptLines - 1)
                break;
            s += l + "\r\n";
            ++lines;
        }
    }
    return s + "quit\r\n";
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F> double timeOnce(F&& f)
{
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main()
{
    char tmpl[] = "/tmp/zul-lint-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = tmpl;
    const std::string localFile = folder + "/payload.dat";
    if (!zul::platform::writeFile(localFile, "payload\r\n")) {
        std::fprintf(stderr, "cannot write %s\n", localFile.c_str());
        return 1;
    }
    const std::string script = makeScript(localFile);

    // Both must read the whole script without a complaint, or the comparison means nothing.
    if (!std::holds_alternative<std::vector<fs::Command>>(fs::parseScript(script)) || !fs::lint(script).empty()) {
        std::fprintf(stderr, "the bench script is not clean\n");
        return 1;
    }

    fs::LintOptions noFiles;
    noFiles.checkLocalFiles = false;
    std::vector<double> parse, lint, lintNoFiles;
    std::size_t sink = 0;
    for (int r = 0; r < Rounds; ++r) {
        parse.push_back(timeOnce([&] { sink += std::get<std::vector<fs::Command>>(fs::parseScript(script)).size(); }));
        lint.push_back(timeOnce([&] { sink += fs::lint(script).size(); }));
        lintNoFiles.push_back(timeOnce([&] { sink += fs::lint(script, noFiles).size(); }));
    }
    const double p = median(parse), l = median(lint), n = median(lintNoFiles);
    std::printf("script: %d lines, %zu bytes (%zu)\n", ScriptLines, script.size(), sink % 2);
    std::printf("runner's parse          %8.2f ms\n", p);
    std::printf("lint                    %8.2f ms   ratio %.2f (target <= 1.20)\n", l, l / p);
    std::printf("lint, no local files    %8.2f ms   ratio %.2f\n", n, n / p);
    std::filesystem::remove_all(folder);
    return l / p <= 1.2 ? 0 : 1;
}
