// qorvhost: answers what needs no Qt (--help, --version, history, transcript,
// metrics, schedule, cancel)
// itself, so that those start as fast as any small program, and hands every
// other command line to the host proper, a library in the application folder.
#include "host/history/Commands.h"
#include "host/history/Schedule.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace zul::history;

namespace {

constexpr const char* kAppLibrary = "libqorvhost_app.so";

// The host library: in the build tree's application folder beside bin/, or in
// the installed one.
std::string appLibrary()
{
    const std::string bin = programFolder();
    std::string built = bin + "/../zul/" + kAppLibrary;
    struct stat st {};
    if (::stat(built.c_str(), &st) == 0)
        return built;
    return bin + "/../" ZUL_APP_SUBDIR "/" + kAppLibrary;
}

int runHost(int argc, char** argv)
{
    const std::string path = appLibrary();
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library)
        return fail("cannot load the host library '" + path + "': " + ::dlerror());
    using Main = int (*)(int, char**);
    const auto main = reinterpret_cast<Main>(::dlsym(library, "qorvhost_app_main"));
    if (!main)
        return fail("the host library '" + path + "' has no entry point qorvhost_app_main");
    return main(argc, argv);
}

} // namespace

int main(int argc, char** argv)
{
    // The same reading of the leading options as the host's, so that both
    // agree on which command this is.
    std::vector<std::string> args(argv + 1, argv + argc);
    std::size_t at = 0;
    std::string dataFolder;
    std::string pluginPath;
    bool hasData = false;
    bool hasPlugin = false;
    while (at < args.size() && args[at].starts_with("--")) {
        const std::string& opt = args[at++];
        if (opt == "--yes") {
        } else if ((opt == "--data" || opt == "--plugin") && at < args.size()) {
            (opt == "--data" ? dataFolder : pluginPath) = args[at++];
            (opt == "--data" ? hasData : hasPlugin) = true;
        } else if (opt == "--help") {
            std::fputs(usageText(), stdout);
            return 0;
        } else if (opt == "--version") {
            std::printf("qorvhost %s\n", ZUL_VERSION);
            return 0;
        } else {
            std::fputs(usageText(), stderr);
            return fail("unknown option '" + opt + "'");
        }
    }
    const std::string command = at < args.size() ? args[at] : std::string();
    if (command != "history" && command != "transcript" && command != "metrics" && command != "schedule" &&
        command != "cancel")
        return runHost(argc, argv);

    if (!hasData)
        dataFolder = defaultDataFolder();
    if (!hasPlugin)
        pluginPath = defaultPluginPath();
    const std::vector<std::string> rest(args.begin() + std::ptrdiff_t(at) + 1, args.end());
    if (command == "schedule") {
        // The crontab line starts the host as this command line names it.
        std::vector<std::string> hostOptions;
        if (hasData)
            hostOptions.insert(hostOptions.end(), {"--data", dataFolder});
        if (hasPlugin)
            hostOptions.insert(hostOptions.end(), {"--plugin", pluginPath});
        return scheduleCommand(pluginPath, hostOptions, rest);
    }
    if (command == "metrics")
        return metricsCommand(dataFolder, pluginPath, rest);
    if (command == "cancel")
        return cancelCommand(dataFolder, pluginPath, rest);
    return command == "history" ? historyCommand(dataFolder, pluginPath, rest)
                                : transcriptCommand(dataFolder, pluginPath, rest);
}
