#include "host/history/Commands.h"

#include "host/history/Metrics.h"
#include "host/history/RunLog.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"
#include "records/RunCancel.h"
#include "records/RunRecord.h"
#include "records/RunStatus.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace zul::history {

namespace {

const char* kUsage =
    "usage: qorvhost [--data DIR] [--plugin FILE] [--yes] [COMMAND]   (no command: the events window)\n"
    "       qorvhost --help | --version\n"
    "  info                          load the plug-in, print its feature type, summary and folder\n"
    "  event list                    list the events\n"
    "  event show ID                 show one event\n"
    "  event put ID [--entity T] [--runday N] [--flag1 0|1] [--flag2 0|1] [--flag4 0|1]\n"
    "                                add or change an event (ID 'new' allocates one)\n"
    "  event delete ID               remove an event\n"
    "  run ID [--direct] [--wait]    run an event now (as scheduled, or as a direct run); --wait: until the\n"
    "                                runner ends, with its exit status\n"
    "  log                           print the run log\n"
    "  history [ID] [--limit N] [--json]  the runs, running ones first, then newest first (one JSON object a\n"
    "                                line with --json)\n"
    "  cancel ID                     stop the event's running run; it records itself as cancelled\n"
    "  transcript ID [N]             print the transcript of the event's latest (or N-th latest) run\n"
    "  schedule [ID WHEN | ID --off] the event's systemd timer (WHEN: systemd.time(7)), or the list of them;\n"
    "                                without systemd, the crontab line\n"
    "  metrics [--textfile DIR]      the history as Prometheus text (to DIR/zul.prom, atomically)\n"
    "  script import ID FILE         save FILE as the script of event ID, as the editor's Continue does\n"
    "  script show ID                print the script of event ID as the editor shows it\n";

// Records and transcripts hold what partners sent: nothing of it reaches the
// terminal unescaped, not even a tab inside a tab-separated field.
std::string shown(std::string_view text)
{
    return platform::escapeControls(text, "");
}

void put(const std::string& bytes)
{
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The runs live in the Log folder of the plug-in's application folder; the
// plug-in need not be loaded to find it.
std::optional<RunLog> history(const std::string& dataFolder, const std::string& pluginPath, int* code)
{
    if (!exists(pluginPath)) {
        *code = fail("plug-in '" + pluginPath + "' not found");
        return std::nullopt;
    }
    std::string plugin = pluginPath;
    if (!plugin.starts_with('/')) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd))
            plugin = joinPath(cwd, plugin);
    }
    return RunLog(joinPath(platform::folderOf(plugin), "Log"), joinPath(dataFolder, "messages.jsonl"));
}

std::string shownEvent(const std::string& event)
{
    return event.empty() ? "(Fast Path)" : event;
}

std::string textLine(const Run& e)
{
    const bool ran = e.source == Run::Source::Runner;
    std::string line = shown(shownTime(e.start));
    for (const std::string& field : {
             shownEvent(e.event),
             e.outcome.empty() ? resultWord(e.result) : e.outcome,
             e.exitStatus ? "exit " + std::to_string(*e.exitStatus) : std::string("-"),
             shownDuration(e),
             ran ? "up " + shownTransfer(e.filesUp, e.bytesUp) + "; down " + shownTransfer(e.filesDown, e.bytesDown)
                 : std::string("-"),
             e.transcript.empty() ? std::string("-") : e.transcript,
         }) {
        line += '\t';
        line += shown(field);
    }
    return line + '\n';
}

// One JSON object a line, its members in the order of their names (the
// library keeps them sorted), null for what a run has not; text escaped as
// the terminal gets it.
class JsonLine {
public:
    void text(std::string_view name, const std::string& v, bool nullIfEmpty)
    {
        auto& member = m_o[std::string(name)];
        if (!nullIfEmpty || !v.empty())
            member = shown(v);
    }
    void number(std::string_view name, std::optional<std::int64_t> v)
    {
        auto& member = m_o[std::string(name)];
        if (v)
            member = *v;
    }
    std::string end() const { return m_o.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n'; }

private:
    nlohmann::json m_o = nlohmann::json::object();
};

std::string jsonLine(const Run& e)
{
    namespace field = records::runfield;
    JsonLine o;
    auto text = [&](std::string_view name, const std::string& v, bool nullIfEmpty = false) {
        o.text(name, v, nullIfEmpty);
    };
    auto number = [&](std::string_view name, std::optional<std::int64_t> v) { o.number(name, v); };
    const std::int64_t duration = e.durationMs();
    number(field::kBytesDown, e.bytesDown);
    number(field::kBytesUp, e.bytesUp);
    number("duration_ms", duration >= 0 ? std::optional<std::int64_t>(duration) : std::nullopt);
    text(field::kEnd, e.end, true);
    text(field::kEvent, e.event);
    number(field::kExit, e.exitStatus ? std::optional<std::int64_t>(*e.exitStatus) : std::nullopt);
    number(field::kFilesDown, e.filesDown);
    number(field::kFilesUp, e.filesUp);
    text(field::kOutcome, e.outcome);
    text("result", resultWord(e.result));
    text("source", e.source == Run::Source::Runner ? "runner" : "host");
    text(field::kStart, e.start);
    text(field::kTranscript, e.transcript, true);
    return o.end();
}

// The Lock folder beside the Log folder, where running runs keep their status.
std::string lockFolderOf(const RunLog& log)
{
    return joinPath(platform::folderOf(log.logFolder()), "Lock");
}

std::string runningTextLine(const records::RunStatus& s, std::int64_t nowMs)
{
    std::string line = shown(shownTime(s.start));
    for (const std::string& field : {
             shownEvent(s.event),
             "running: " + records::progressText(s),
             std::string("-"),
             shownDuration(nowMs > s.startMs ? nowMs - s.startMs : 0),
             std::string("-"),
             std::string("-"),
         }) {
        line += '\t';
        line += shown(field);
    }
    return line + '\n';
}

std::string runningJsonLine(const records::RunStatus& s)
{
    JsonLine o;
    auto text = [&](const char* name, const std::string& v, bool nullIfEmpty = false) { o.text(name, v, nullIfEmpty); };
    auto number = [&](const char* name, std::optional<std::int64_t> v) { o.number(name, v); };
    number("bytes_done", s.file.empty() ? std::nullopt : std::optional<std::int64_t>(s.done));
    number("bytes_expected", s.file.empty() || s.total < 0 ? std::nullopt : std::optional<std::int64_t>(s.total));
    text("command", s.command, true);
    text("event", s.event);
    text("file", s.file, true);
    number("line", s.line);
    number("pid", s.pid);
    text("progress", records::progressText(s));
    number("rate", s.file.empty() ? std::nullopt : std::optional<std::int64_t>(s.rate));
    text("result", "running");
    number("seconds_left", s.secondsLeft());
    text("start", s.start);
    number("updated_ms", s.updatedMs);
    return o.end();
}

std::int64_t nowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string trimmed(const std::string& text)
{
    std::string_view s = text;
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

// A whole number of 1 or more, blanks and a plus sign allowed around it.
std::optional<int> positive(const std::string& text)
{
    const std::string t = trimmed(text);
    std::string_view s = t;
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    long long n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > INT_MAX)
        return std::nullopt;
    return int(n);
}

} // namespace

const char* usageText()
{
    return kUsage;
}

std::string defaultPluginPath()
{
    // The build tree keeps the application folder beside bin/; an install may put it elsewhere under the prefix.
    const std::string bin = programFolder();
    std::string built = joinPath(bin, "../zul/libzul.so");
#ifdef ZUL_INSTALL_APP_DIR
    std::string installed = joinPath(bin, "../" ZUL_INSTALL_APP_DIR "/libzul.so");
    if (!exists(built) && exists(installed))
        return installed;
#endif
    return built;
}

std::string defaultDataFolder()
{
    std::string data = env("QORVHOST_DATA");
    if (!data.empty())
        return data;
    std::string home = env("HOME");
    if (home.empty())
        home = "/";
    return joinPath(home, ".local/share/qorvhost");
}

int fail(const std::string& message, int code)
{
    std::fprintf(stderr, "qorvhost: %s\n", shown(message).c_str());
    return code;
}

int historyCommand(const std::string& dataFolder, const std::string& pluginPath, const std::vector<std::string>& args)
{
    std::string event;
    int limit = 0;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--limit") {
            const auto n = positive(i + 1 < args.size() ? args[i + 1] : std::string());
            if (!n)
                return fail("--limit needs a number of runs, 1 or more");
            limit = *n;
            ++i;
        } else if (a.starts_with("--")) {
            return fail("unknown option '" + a + "'");
        } else if (event.empty()) {
            event = trimmed(a);
        } else {
            return fail("history takes one event id, not '" + a + "'");
        }
    }
    int code = 0;
    const auto h = history(dataFolder, pluginPath, &code);
    if (!h)
        return code;
    for (const auto& r : records::runningRuns(lockFolderOf(*h), event))
        put(json ? runningJsonLine(r.status) : runningTextLine(r.status, nowMs()));
    for (const Run& e : h->read(event, limit))
        put(json ? jsonLine(e) : textLine(e));
    return 0;
}

int transcriptCommand(const std::string& dataFolder, const std::string& pluginPath,
                      const std::vector<std::string>& args)
{
    const std::string event = args.empty() ? std::string() : trimmed(args[0]);
    if (event.empty() || args.size() > 2)
        return fail("transcript needs ID [N]");
    int n = 1;
    if (args.size() == 2) {
        const auto v = positive(args[1]);
        if (!v)
            return fail("N counts the runs from the latest (1), not '" + args[1] + "'");
        n = *v;
    }
    int code = 0;
    const auto h = history(dataFolder, pluginPath, &code);
    if (!h)
        return code;
    const auto runs = h->read(event, n);
    if (int(runs.size()) < n)
        return fail(runs.empty() ? "no runs of event '" + event + "'"
                                 : "event '" + event + "' has " + platform::counted(static_cast<long long>(runs.size()), "run", "runs") + ", not " +
                                       std::to_string(n),
                    1);
    const Run& run = runs[std::size_t(n - 1)];
    if (run.source == Run::Source::Host)
        return fail("the run of " + shownTime(run.start) + " never reached the runner, so it has no transcript: " +
                        run.outcome,
                    1);
    const std::string path = h->transcriptFile(run);
    if (path.empty())
        return fail("the transcript of the run of " + shownTime(run.start) +
                        " is gone (older than the retention period?): " +
                        (run.transcript.empty() ? std::string("none recorded") : run.transcript),
                    1);
    // Log/ is shared: in the folder, never through a link, a normal file.
    const auto file = platform::openNoFollow(path, O_RDONLY);
    if (!file)
        return fail("cannot read the transcript: " + file.error().description);
    const int fd = (*file).get();
    // Escaped line by line, so that a character split between two reads stays whole.
    std::string buf(1 << 16, '\0');
    std::string pending;
    for (;;) {
        const ssize_t got = ::read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR)
            continue;
        // What was shown is not the whole transcript: say so.
        if (got < 0)
            return fail("cannot read '" + path + "': " + std::strerror(errno));
        if (got == 0)
            break;
        pending.append(buf.data(), std::size_t(got));
        const auto nl = pending.rfind('\n');
        if (nl == std::string::npos && pending.size() < buf.size())
            continue;
        const std::size_t upTo = nl == std::string::npos ? pending.size() : nl + 1;
        put(platform::escapeControls(std::string_view(pending).substr(0, upTo), "\t\n"));
        pending.erase(0, upTo);
    }
    put(platform::escapeControls(pending, "\t\n"));
    return 0;
}

int cancelCommand(const std::string& dataFolder, const std::string& pluginPath, const std::vector<std::string>& args)
{
    const std::string event = args.size() == 1 ? trimmed(args[0]) : std::string();
    if (event.empty())
        return fail("cancel needs one event id");
    int code = 0;
    const auto h = history(dataFolder, pluginPath, &code);
    if (!h)
        return code;
    const auto running = records::runningRuns(lockFolderOf(*h), event);
    if (running.empty()) {
        std::printf("event '%s' has no running run; nothing changed\n", shown(event).c_str());
        return 1;
    }
    int status = 0;
    for (const auto& r : running) {
        const auto result = records::cancelRun(r, cancelGrace());
        if (result.kind == records::CancelResult::Kind::Ended || result.kind == records::CancelResult::Kind::Killed)
            std::printf("%s\n", shown(result.message).c_str());
        else
            status = fail(result.message);
    }
    return status;
}

std::chrono::milliseconds cancelGrace()
{
    const std::string v = env("ZUL_CANCEL_GRACE_MS");
    const auto n = positive(v);
    return std::chrono::milliseconds(n ? *n : 5000);
}

int metricsCommand(const std::string& dataFolder, const std::string& pluginPath, const std::vector<std::string>& args)
{
    std::string textfileDir;
    if (args.size() == 2 && args[0] == "--textfile" && !args[1].empty())
        textfileDir = args[1];
    else if (!args.empty())
        return fail("metrics takes only --textfile DIR");
    int code = 0;
    const auto h = history(dataFolder, pluginPath, &code);
    if (!h)
        return code;
    const std::string text = metricsText(h->read());
    if (textfileDir.empty()) {
        put(text);
        return 0;
    }
    if (const std::string error = writeTextfile(textfileDir, text); !error.empty())
        return fail(error);
    return 0;
}

std::string programFolder()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    const std::string exe(buf, std::size_t(n));
    const auto slash = exe.rfind('/');
    return slash == 0 ? "/" : slash == std::string::npos ? "." : exe.substr(0, slash);
}

} // namespace zul::history
