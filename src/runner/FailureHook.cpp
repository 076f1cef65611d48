#include "runner/FailureHook.h"

#include "platform/Text.h"

#include "ftpscript/OpenAddress.h"
#include "platform/CommandWords.h"
#include "records/HandoverNames.h"
#include "runner/Masking.h"
#include "runner/RunReport.h"
#include "runner/Settings.h"
#include "runner/Transcript.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zul::runner {

namespace {

// A hook that ignores the polite stop gets this long before it is killed.
constexpr auto kGrace = std::chrono::seconds(5);

std::vector<std::string> hookEnvironment(const RunRecord& r)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        const bool ours = entry.starts_with("ZUL_EVENT=") || entry.starts_with("ZUL_EXIT_STATUS=") ||
                          entry.starts_with("ZUL_OUTCOME=") || entry.starts_with("ZUL_TRANSCRIPT=") ||
                          entry.starts_with("ZUL_START=") || entry.starts_with("ZUL_END=") ||
                          entry.starts_with(std::string(records::kStatusFdVariable) + "=");
        if (!ours)
            env.emplace_back(entry);
    }
    env.push_back("ZUL_EVENT=" + r.event);
    env.push_back("ZUL_EXIT_STATUS=" + std::to_string(r.exitStatus));
    env.push_back("ZUL_OUTCOME=" + platform::escapeControls(r.outcome));
    env.push_back("ZUL_TRANSCRIPT=" + r.transcript);
    env.push_back("ZUL_START=" + r.start);
    env.push_back("ZUL_END=" + r.end);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// In a process group of its own, so that a stop reaches whatever it started;
// stdin is /dev/null; the signals we ignore are not ignored there.
int startHook(std::vector<std::string> words, std::vector<std::string> env, pid_t* pid)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    auto argv = pointers(words);
    auto envp = pointers(env);
    const int rc = ::posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

constexpr int kTimedOut = -1;
constexpr int kCannotWait = -2;

// The child's wait status once it has ended, kTimedOut when limit passed
// first, kCannotWait when it cannot be waited for.
int waitUntil(pid_t pid, std::chrono::steady_clock::time_point limit)
{
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return kCannotWait;
        if (std::chrono::steady_clock::now() >= limit)
            return kTimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("signal ") + ::strsignal(WTERMSIG(status));
    return "wait status " + std::to_string(status);
}

} // namespace

std::string firstPartner(const std::vector<Command>& script)
{
    for (const Command& c : script) {
        if (c.verb != Verb::Open || c.args.empty())
            continue;
        const auto address = ftpscript::parseOpenAddress(
            c.args[0], c.args.size() > 1 ? std::optional<std::string_view>(c.args[1]) : std::nullopt);
        if (const auto* a = std::get_if<ftpscript::OpenAddress>(&address))
            return a->host;
        return {};
    }
    return {};
}

void runFailureHook(const Settings& settings, const RunRecord& record, Transcript& transcript)
{
    if (record.exitStatus == 0 || settings.onFailure.empty())
        return;
    const auto words = platform::splitWords(settings.onFailure);
    if (words.empty())
        return;
    const std::string shown = platform::escapeControls(transcript.scrub(words[0]));
    const auto seconds = std::max<std::chrono::seconds>(settings.onFailureTimeout, std::chrono::seconds(1));
    auto failed = [&](const std::string& why) {
        const std::string text =
            "the failure hook " + shown + " " + why + "; the run's status stays " + std::to_string(record.exitStatus);
        transcript.error(text);
        sendToSyslog(LogPriority::Warning,
                     "event " + (record.event.empty() ? std::string("(Fast Path)") : platform::escapeControls(record.event)) +
                         ": " + text);
    };

    pid_t pid = 0;
    transcript.flush(); // the hook may read it
    if (const int rc = startHook(words, hookEnvironment(record), &pid); rc != 0)
        return failed(std::string("cannot start: ") + std::strerror(rc));
    transcript.note("failure hook " + shown + " started, process " + std::to_string(pid) + ", time limit " +
                    std::to_string(seconds.count()) + " s");
    int status = waitUntil(pid, std::chrono::steady_clock::now() + seconds);
    if (status == kCannotWait)
        return failed(std::string("cannot be waited for: ") + std::strerror(errno));
    if (status == kTimedOut) {
        ::kill(-pid, SIGTERM);
        status = waitUntil(pid, std::chrono::steady_clock::now() + kGrace);
        if (status < 0) {
            ::kill(-pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        ::kill(-pid, SIGKILL); // what it left behind in its group
        return failed("was stopped after its time limit of " + std::to_string(seconds.count()) + " s");
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        transcript.note("failure hook " + shown + " ended with exit status 0");
    else
        failed("ended with " + describeStatus(status));
}

} // namespace zul::runner
