// VelundZUL: runs a prepared FTP script for one event, started by the run driver
// as  VelundZUL "true|SCRIPT|EVENT"; VelundZUL --check FILE... only reads and reports.

#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"
#include "records/ExitStatus.h"
#include "records/HandoverNames.h"
#include "records/RunCancel.h"
#include "runner/Check.h"
#include "runner/EventLock.h"
#include "runner/FailureHook.h"
#include "runner/Handover.h"
#include "runner/Housekeeping.h"
#include "runner/Invocation.h"
#include "runner/LocalFiles.h"
#include "runner/Recovery.h"
#include "runner/RunReport.h"
#include "runner/RunSpool.h"
#include "runner/Runner.h"
#include "runner/Script.h"
#include "runner/Settings.h"
#include "runner/Transcript.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <curl/curl.h>
#include <unistd.h>

using namespace zul::runner;

namespace {

// Lock-free atomics: set in a signal handler, read by the SFTP socket watch's thread too.
std::atomic<int> g_signal{0};
std::atomic<int> g_cancelled{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int sig, siginfo_t* info, void*)
{
    // A cancel is a SIGTERM that carries the cancel value (qorvhost cancel);
    // any other signal stops the run as interrupted.
    if (sig == SIGTERM && info && info->si_code == SI_QUEUE && info->si_value.sival_int == zul::records::kCancelValue)
        g_cancelled = 1;
    g_signal = sig;
}

void installSignals()
{
    struct sigaction sa {};
    sa.sa_sigaction = onSignal;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string ownFolder()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    return folderPart(std::string(buf, std::size_t(n)));
}

// Event ids go into file names; anything but letters, digits, '-' and '_' becomes '_'.
std::string fileSafe(const std::string& id)
{
    std::string out = id;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            c = '_';
    return out;
}

std::string stampForName()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

// The statuses come from their one table, wrapped like the lines above them.
std::string helpText()
{
    std::string text = "usage: VelundZUL \"true|SCRIPT|EVENT\"   (started by the run driver)\n"
                       "       VelundZUL --check FILE...\n"
                       "       VelundZUL --help | --version\n"
                       "Runs the FTP script SCRIPT for event EVENT (blanks for Fast Path) and writes a transcript\n"
                       "to Log/ beside the program. --check reads scripts without connecting and prints their\n"
                       "problems as FILE:LINE: severity: message (exit 0 clean, 1 problems, 2 unreadable).\n";
    constexpr std::size_t kColumns = 96;
    std::string line = "Exit status of a run:";
    const auto& statuses = zul::records::kExitStatuses;
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        const std::string item = std::to_string(int(statuses[i].status)) + ' ' + std::string(statuses[i].words) +
                                 (i + 1 < statuses.size() ? "," : ".");
        if (line.size() + 1 + item.size() > kColumns) {
            text += line + '\n';
            line = item;
        } else {
            line += ' ' + item;
        }
    }
    text += line + '\n';
    return text + "A run whose runner died before it wrote its status is " +
           std::string(zul::records::kUnfinishedWords) + " in the history.\n";
}

} // namespace

namespace {

int runMain(int argc, char** argv)
{
    // Asked by a person: answered before anything is read or written.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        if (argv[1][2] == 'v')
            std::printf("VelundZUL %s\n", ZUL_VERSION);
        else
            std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    if (argc >= 2 && std::string_view(argv[1]) == "--check")
        return checkScripts({argv + 2, argv + argc}, stdout, stderr, ownFolder() + "/VelundZUL.conf");
    ::unsetenv(zul::records::kNoTlsSetUpVariable);
    installSignals();
    const std::string appFolder = ownFolder();
    std::string configError;
    const ConfigFile config = ConfigFile::read(appFolder + "/VelundZUL.conf", &configError);
    const Settings settings = Settings::fromConfig(config);
    const auto deadline = std::chrono::steady_clock::now() + settings.deadline;
    const std::string start = isoNow();

    std::vector<std::string> args(argv + 1, argv + argc);
    const auto inv = parseInvocation(args);
    // The run that started us waits until this read is done.
    const std::string scriptPath = inv ? toLocalPath(inv->script) : std::string();
    auto text = inv && !inv->script.empty() ? readHandedScript(scriptPath)
                                            : zul::platform::Result<std::string>(std::string());
    confirmScriptRead();
    const std::string event = inv ? inv->event : std::string();
    const std::string runName = event.empty() ? "FastPath" : fileSafe(event);

    Transcript transcript;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    transcript.setEcho(terminal);
    const std::string logFolder = appFolder + "/Log";
    zul::platform::makeSharedFolder(logFolder);
    zul::platform::makeSharedFolder(appFolder + "/Lock");
    // Random characters after the process id: no one can plant the name ahead.
    const std::string transcriptPath = logFolder + "/" + runName + "_" + stampForName() + "_" +
                                       std::to_string(::getpid()) + "-" + zul::platform::randomHex(12) + ".log";
    if (!transcript.open(transcriptPath))
        std::fprintf(stderr, "VelundZUL: cannot write the transcript %s\n", transcriptPath.c_str());

    RunRecord record;
    record.event = event;
    record.start = start;
    record.transcript = transcript.path();
    RunResult result;
    RunRegistration registration(appFolder, event, start, transcriptPath);
    std::string partner; // the first open line's: its section may hold its own failure hook

    auto finish = [&](RunResult r) {
        if (g_cancelled && r.status == ExitStatus::Interrupted) {
            r.status = ExitStatus::Cancelled;
            if (r.message.ends_with(": interrupted"))
                r.message.resize(r.message.size() - std::strlen(": interrupted"));
        }
        std::string outcome = std::string(describe(r.status)) + (r.message.empty() ? "" : ": " + r.message);
        if (r.status == ExitStatus::Success)
            transcript.note("outcome: " + std::string(describe(r.status)) + " (exit status 0)");
        else
            transcript.error("outcome: " + outcome + " (exit status " + std::to_string(int(r.status)) + ")");
        record.end = isoNow();
        record.exitStatus = int(r.status);
        if (const std::string lost = transcript.failure(); !lost.empty()) {
            std::fprintf(stderr, "VelundZUL: %s\n", lost.c_str());
            outcome += "; " + lost;
        }
        record.outcome = zul::platform::escapeControls(transcript.scrub(outcome));
        // Nothing dropped: a record that cannot be appended waits in the spool.
        if (const std::string problem = recordRun(logFolder, record); !problem.empty())
            std::fprintf(stderr, "VelundZUL: %s\n", zul::platform::escapeControls(problem).c_str());
        registration.end();
        if (r.status != ExitStatus::Success && !terminal)
            std::fprintf(stderr, "VelundZUL: %s\n", zul::platform::escapeControls(transcript.scrub(outcome)).c_str());
        reportRunEnd(record, transcript);
        runFailureHook(settings.forPartner(partner), record, transcript);
        return int(r.status);
    };

    transcript.note("VelundZUL started, process " + std::to_string(::getpid()) + ", application folder " + appFolder);
    registration.announce(transcript);
    // Seen as running from the start, so a run waiting for its turn can be cancelled too.
    if (settings.statusRecord)
        registration.status({});
    if (config.refused())
        return finish({ExitStatus::RunnerError, "the settings are not safe to use: " + configError});
    // A run on defaults could talk to the partner without the TLS, host key or pin its settings demand.
    if (!configError.empty())
        return finish({ExitStatus::RunnerError, "cannot read the settings: " + configError});
    for (const auto& problem : settingsProblems(config))
        transcript.error((problem.line ? "VelundZUL.conf line " + std::to_string(problem.line) + ": " : std::string()) +
                         problem.message);
    tidyLog(logFolder, config, transcript);
    tidyReceipts(appFolder, config, transcript);
    if (!inv)
        return finish({ExitStatus::ScriptError, "usage: VelundZUL \"true|SCRIPT|EVENT\""});
    transcript.note("event " + (event.empty() ? std::string("(none: Fast Path)") : event) + ", script " +
                    (inv->script.empty() ? std::string("(none)") : inv->script) + ", flag " + inv->flag);
    if (inv->script.empty()) {
        const std::string why = checkFailureFromHost();
        return finish(
            {ExitStatus::ScriptError, "no script: " + (why.empty() ? "the transfer check before the run failed" : why)});
    }

    // The whole script was read at the start, from the descriptor the run
    // driver handed over: later runs may already have replaced the file.
    if (!text)
        return finish(
            {ExitStatus::ScriptError, "cannot read the script " + scriptPath + ": " + text.error().description});
    auto parsed = parseScript(*text);
    if (auto* err = std::get_if<ParseError>(&parsed))
        return finish({ExitStatus::ScriptError, "line " + std::to_string(err->line) + ": " + err->message});
    const auto& script = std::get<std::vector<Command>>(parsed);
    partner = firstPartner(script);

    EventLock lock;
    if (!event.empty()) {
        std::string error;
        bool told = false;
        const auto r = lock.acquire(
            EventLock::lockPath(appFolder, fileSafe(event)),
            [&] {
                if (!told)
                    transcript.note("waiting for another runner of this event");
                told = true;
                return g_signal != 0 || std::chrono::steady_clock::now() >= deadline;
            },
            error);
        if (r == EventLock::Result::Failed)
            return finish({ExitStatus::RunnerError, error});
        if (r == EventLock::Result::GaveUp)
            return finish({g_signal ? ExitStatus::Interrupted : ExitStatus::RunnerError,
                           "gave up waiting for another runner of this event"});
        if (r == EventLock::Result::Waited)
            transcript.note("the other runner of this event has finished");
    }
    registration.begin(transcript);

    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
        return finish({ExitStatus::RunnerError, "libcurl cannot start"});
    {
        ProgressBar progress(terminal);
        progress.onAlive([&registration] { registration.alive(); });
        if (settings.statusRecord)
            progress.onStatus([&registration](const zul::records::RunStatus& s) { registration.status(s); });
        Runner runner(transcript, progress, settings, appFolder, deadline, [] { return g_signal != 0; });
        result = runner.run(script);
        record.kept = runner.keptFile();
        const auto& t = runner.totals();
        record.filesUp = t.filesUp;
        record.filesDown = t.filesDown;
        record.bytesUp = t.bytesUp;
        record.bytesDown = t.bytesDown;
        using zul::platform::counted;
        transcript.note("sent " + counted(t.filesUp, "file", "files") + " (" + counted(t.bytesUp, "byte", "bytes") +
                        "), received " + counted(t.filesDown, "file", "files") + " (" +
                        counted(t.bytesDown, "byte", "bytes") + ")");
    }
    curl_global_cleanup();
    return finish(result);
}

} // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): one that escapes aborts the run; the next run records it unfinished
int main(int argc, char** argv)
{
    // Everything of the run is closed, written and reported when runMain
    // returns. What is left at exit is the libraries' freeing of their own
    // memory (OpenSSL's alone is a fortieth of a small run's CPU), which the
    // process's end does anyway. Sanitizer builds exit normally for the leak check.
    const int status = runMain(argc, argv);
#if defined(__SANITIZE_ADDRESS__)
    return status;
#else
    std::fflush(nullptr);
    std::_Exit(status);
#endif
}
