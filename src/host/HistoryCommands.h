#pragma once

#include <QString>
#include <QStringList>

namespace zul::host {

// "history [ID] [--limit N] [--json]" and "transcript ID [N]": read the runs
// of the application folder next to the plug-in at pluginPath and the host's
// log in dataFolder. Returns the exit status.
int historyCommand(const QString& dataFolder, const QString& pluginPath, const QStringList& args);
int transcriptCommand(const QString& dataFolder, const QString& pluginPath, const QStringList& args);

} // namespace zul::host
