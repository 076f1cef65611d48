// The host suite's stand-in: loads the plug-in, keeps the events and runs
// them; a command line for operators and tests. The qorvhost program loads
// this library for everything it does not answer itself. It links no Qt, so
// that a scheduled run loads no more than it needs; the events window comes
// from its own library.
#include "host/Host.h"
#include "host/RunWait.h"
#include "host/history/Commands.h"
#include "host/history/RunLog.h"

#include "com/Diagnostics.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <vector>

using namespace zul::host;

namespace {

using Args = std::vector<std::string>;

const char* const kUsage = zul::history::usageText();

int fail(const std::string& message, int code = 2)
{
    std::fprintf(stderr, "qorvhost: %s\n", message.c_str());
    return code;
}

void out(const std::string& line)
{
    std::printf("%s\n", line.c_str());
}

bool has(const Args& args, const char* word)
{
    return std::find(args.begin(), args.end(), word) != args.end();
}

std::string at(const Args& args, std::size_t i)
{
    return i < args.size() ? args[i] : std::string();
}

std::string describe(const EventRecord& r)
{
    return r.id + '\t' + r.entity + '\t' + r.type + '\t' + std::to_string(r.runDay) + '\t' + r.flag1 + '\t' + r.flag2 +
           '\t' + r.flag4;
}

// Options of "event put": pairs of --name value.
std::optional<std::string> option(const Args& args, const std::string& name, std::string* error)
{
    const auto i = std::find(args.begin(), args.end(), name);
    if (i == args.end())
        return std::nullopt;
    if (i + 1 == args.end()) {
        *error = name + " needs a value";
        return std::nullopt;
    }
    return *(i + 1);
}

// A whole decimal number, with an optional sign.
std::optional<long> wholeNumber(const std::string& text)
{
    if (text.starts_with("+-"))
        return std::nullopt;
    const char* first = text.data() + (text.starts_with('+') ? 1 : 0);
    const char* last = text.data() + text.size();
    long value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || first == last)
        return std::nullopt;
    return value;
}

int eventPut(Host& host, const Args& args)
{
    std::string id = at(args, 0);
    for (std::size_t i = 1; i < args.size(); i += 2)
        if (args[i] != "--entity" && args[i] != "--runday" && args[i] != "--flag1" && args[i] != "--flag2" &&
            args[i] != "--flag4")
            return fail("unknown option '" + args[i] + "'");
    if (id == "new")
        id = host.store().allocateId();
    EventRecord r = host.store().find(id).value_or(EventRecord{});
    r.id = id;
    std::string error;
    if (auto v = option(args, "--entity", &error))
        r.entity = *v;
    if (auto v = option(args, "--runday", &error)) {
        const auto day = wholeNumber(*v);
        if (!day || *day < -32768 || *day > 32767)
            return fail("--runday must be a 16-bit number, not '" + *v + "'");
        r.runDay = int(*day);
    }
    for (auto [name, field] : {std::pair{"--flag1", &r.flag1}, {"--flag2", &r.flag2}, {"--flag4", &r.flag4}}) {
        if (auto v = option(args, name, &error)) {
            if (*v != "0" && *v != "1")
                return fail(std::string(name) + " must be 0 or 1");
            *field = *v;
        }
    }
    if (!error.empty())
        return fail(error);
    if (id.empty())
        return fail("event put needs an id");
    if (!host.store().put(r))
        return fail("cannot save event " + id + ": " + host.store().lastError());
    out(describe(r));
    return 0;
}

int printLog(const Host& host)
{
    const std::string path = host.messageLogPath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return 0;
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return fail("cannot read '" + path + "'");
    for (std::string line; std::getline(f, line);) {
        const auto e = zul::history::parseHostMessage(line);
        if (e && e->kind == "N") {
            out(e->at + " note: " + e->message);
            continue;
        }
        if (!e || e->kind != "L")
            continue;
        std::string numbers;
        for (std::size_t k = 0; k < e->numbers.size(); ++k)
            numbers += (k ? "," : "") + std::to_string(e->numbers[k]);
        // the rest: id, type, run day, date, time, "90"[, text]
        std::string message = e->message;
        for (auto n = message.find('\n'); n != std::string::npos; n = message.find('\n', n + 3))
            message.replace(n, 1, " | ");
        out(e->arg(3) + " " + e->arg(4) + " " + e->arg(0) + " [" + numbers + "] " + message);
    }
    return 0;
}

// The script commands go through the plug-in's entry: the host does not link
// the plug-in's modules.
int script(Host& host, const std::string& pluginPath, const Args& args)
{
    const std::string sub = at(args, 0);
    const std::string id = at(args, 1);
    if (sub != "import" && sub != "show")
        return fail("unknown script command '" + sub + "'");
    if (id.empty() || (sub == "import" && args.size() < 3))
        return fail("script " + sub + " needs " + (sub == "import" ? "ID FILE" : "ID"));
    if (id.find_first_of("/\\") != std::string::npos)
        return fail("an event id cannot hold a path separator: '" + id + "'");
    std::string error;
    if (!host.loadPlugin(pluginPath, &error))
        return fail(error);
    const zul::com::PluginEntry& plugin = *host.plugin();

    if (sub == "show") {
        std::string why;
        const auto text = plugin.showScript(id, &why);
        if (!text)
            return why.empty() ? 1 : fail(why, 1); // an empty why: the message service has said it
        std::fwrite(text->data(), 1, text->size(), stdout);
        return 0;
    }

    if (!host.store().find(id))
        return fail("unknown event '" + id + "'");
    const auto text = zul::platform::readAll(args[2], zul::platform::Links::Follow);
    if (!text)
        return fail("cannot read the script file: " + text.error().description);
    error = plugin.importScript(id, *text);
    if (!error.empty())
        return fail("script of event " + id + " not saved: " + error, 1);
    out("script of event " + id + " saved");
    return 0;
}

bool unset(const char* name)
{
    const char* value = std::getenv(name);
    return !value || !*value;
}

// The platform the window would use has nothing to show it on.
bool noDisplay()
{
    return unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY");
}

// The events window lives in its own library beside this one, so that the
// commands never load Qt.
int runWindow(int& argc, char** argv, const std::string& dataFolder, const std::string& pluginPath)
{
    static const char anchor = 0;
    const std::string path = zul::platform::folderOfAddress(&anchor) + "/libqorvhost_window.so";
    using Main = int (*)(int*, char**, const char*, const char*);
    const auto main = reinterpret_cast<Main>(zul::platform::loadSymbol(path, "qorvhost_window_main"));
    if (!main)
        return fail("cannot load the events window's library '" + path + "'");
    return main(&argc, argv, dataFolder.c_str(), pluginPath.c_str());
}

// The runner's own exit status; one that ended without telling it failed.
int waitForRunner(RunnerWait& waiter, const std::string& id)
{
    std::fflush(stdout);
    const auto status = waiter.wait();
    if (!status)
        return fail("the runner of event " + id + " ended without an exit status (killed?); see 'qorvhost history " +
                        id + "'",
                    9);
    out("event " + id + ": the FTP runner ended with exit status " + std::to_string(*status));
    return *status;
}

int run(Host& host, const std::string& pluginPath, const Args& args)
{
    const std::string id = at(args, 0);
    const bool direct = has(args, "--direct");
    const auto r = host.store().find(id);
    if (!r)
        return fail("unknown event '" + id + "'");
    std::string error;
    if (!host.loadPlugin(pluginPath, &error))
        return fail(error);
    auto feature = host.createFeature();
    if (!feature)
        return fail("the plug-in's public class cannot be created");
    auto event = toEventStruct(*r);
    std::int32_t mode =
        static_cast<std::int32_t>(direct ? zul::com::RunMode::DirectExecution : zul::com::RunMode::ViaSchedule);
    const bool wait = has(args, "--wait");
    RunnerWait waiter;
    if (std::string why; wait && !waiter.prepare(&why))
        return fail(why);
    const auto before = zul::com::runsWithoutScript().count;
    const bool started = feature->Execution(mode, event);
    waiter.handedOver();
    if (const auto after = zul::com::runsWithoutScript(); started && after.count != before) {
        // The runner only records the failure: nothing was handed to it.
        out(zul::platform::utf8FromCodePage(after.last));
        return wait ? waitForRunner(waiter, id) : 1;
    }
    out(started ? "event " + id + " handed to the FTP runner" : "event " + id + " not started; see 'qorvhost log'");
    if (wait && started)
        return waitForRunner(waiter, id);
    return started ? 0 : 1;
}

int event(Host& host, const Args& args)
{
    const std::string sub = at(args, 0);
    const std::string id = at(args, 1);
    if (sub == "list") {
        for (const auto& r : host.store().list())
            out(describe(r));
        return 0;
    }
    if (sub == "show") {
        const auto r = host.store().find(id);
        if (!r)
            return fail("unknown event '" + id + "'");
        out(describe(*r));
        return 0;
    }
    if (sub == "put")
        return eventPut(host, Args(args.begin() + 1, args.end()));
    if (sub == "delete") {
        if (!host.store().remove(id))
            return fail("unknown event '" + id + "'");
        return 0;
    }
    return fail("unknown event command '" + sub + "'");
}

} // namespace

extern "C" __attribute__((visibility("default"))) int qorvhost_app_main(int argc, char** argv)
{
    // The command line is read before anything else: --help and --version
    // need no display, and the window without one ends cleanly.
    Args args(argv + 1, argv + argc);
    std::size_t next = 0;
    std::optional<std::string> dataFolder;
    std::optional<std::string> pluginPath;
    bool yes = false;
    while (next < args.size() && args[next].starts_with("--")) {
        const std::string opt = args[next++];
        if (opt == "--yes") {
            yes = true;
        } else if ((opt == "--data" || opt == "--plugin") && next < args.size()) {
            (opt == "--data" ? dataFolder : pluginPath) = args[next++];
        } else if (opt == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (opt == "--version") {
            std::printf("qorvhost %s\n", ZUL_VERSION);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return fail("unknown option '" + opt + "'");
        }
    }
    args.erase(args.begin(), args.begin() + std::ptrdiff_t(next));

    if (args.empty() && noDisplay())
        return fail("no display for the events window: set DISPLAY (or "
                    "QT_QPA_PLATFORM=offscreen), or give a command (qorvhost --help)");
    if (!dataFolder)
        dataFolder = defaultDataFolder();
    if (!pluginPath)
        pluginPath = defaultPluginPath();
    if (args.empty())
        return runWindow(argc, argv, *dataFolder, *pluginPath);
    // The C library keeps the C locale, as in the runner.
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "history" || command == "transcript") {
        return command == "history" ? zul::history::historyCommand(*dataFolder, *pluginPath, args)
                                    : zul::history::transcriptCommand(*dataFolder, *pluginPath, args);
    }
    Host host(*dataFolder, std::make_shared<HeadlessPresenter>(yes));
    std::string error;

    if (command == "info") {
        if (!host.loadPlugin(*pluginPath, &error))
            return fail(error);
        auto feature = host.createFeature();
        if (!feature)
            return fail("the plug-in's public class cannot be created");
        out("FeatureType: " + feature->FeatureType());
        out("FeatureSummary: " + feature->FeatureSummary());
        out("ApplicationFolder: " + host.pluginApplicationFolder());
        return 0;
    }
    if (command == "log")
        return printLog(host);

    if (!host.openStore(&error))
        return fail(error);
    if (command == "event")
        return event(host, args);
    if (command == "script")
        return script(host, *pluginPath, args);
    if (command == "run")
        return run(host, *pluginPath, args);

    std::fputs(kUsage, stderr);
    return fail("unknown command '" + command + "'");
}
