#pragma once

#include <chrono>
#include <string>
#include <vector>

// What qorvhost answers without Qt: its usage, the default places, and the
// history and transcript commands.
namespace zul::history {

const char* usageText();

// The folder of this program, symbolic links resolved.
std::string programFolder();

// The plug-in in the application folder beside the host's bin folder (an
// installed one where the install puts it); the data in $QORVHOST_DATA or
// ~/.local/share/qorvhost.
std::string defaultPluginPath();
std::string defaultDataFolder();

// "qorvhost: message" on stderr; returns code.
int fail(const std::string& message, int code = 2);

// "history [ID] [--limit N] [--json]" and "transcript ID [N]": read the runs
// of the application folder next to the plug-in at pluginPath and the host's
// log in dataFolder. Return the exit status.
int historyCommand(const std::string& dataFolder, const std::string& pluginPath,
                   const std::vector<std::string>& args);
int transcriptCommand(const std::string& dataFolder, const std::string& pluginPath,
                      const std::vector<std::string>& args);

// "cancel ID": stops the event's running run (SIGTERM, then SIGKILL after
// cancelGrace()); 1 when the event has none, and nothing changes.
int cancelCommand(const std::string& dataFolder, const std::string& pluginPath, const std::vector<std::string>& args);
// How long a cancelled runner may take to end before it is killed: 5 s, or
// $ZUL_CANCEL_GRACE_MS.
std::chrono::milliseconds cancelGrace();

// "metrics [--textfile DIR]": the history as Prometheus text, on standard
// output or written atomically to DIR/zul.prom.
int metricsCommand(const std::string& dataFolder, const std::string& pluginPath, const std::vector<std::string>& args);

} // namespace zul::history
