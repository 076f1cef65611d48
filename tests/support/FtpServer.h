#pragma once

#include "support/SecureServers.h"

namespace zul::test {

// A loopback FTP server (tests/runner/ftpserver.py or a script built on it) for the life of the object.
class FtpServer : public ServerProcess {
public:
    // Starts it on 127.0.0.1 and reads the port it prints; false, with why() set, when it does not come up.
    bool start(const QString& root, const QString& user, const QString& password, const QStringList& more = {},
               const QString& script = QStringLiteral(ZUL_SOURCE_DIR "/tests/runner/ftpserver.py"));
};

// One run of the runner copy, started from the folder's "local" with few retries and short time-outs.
struct RunnerRun {
    int exit = -1;         // -2: crashed or hung
    QByteArray transcript; // every transcript of the folder, joined
    QByteArray runs;       // Log/runs.jsonl
    QByteArray output;     // stdout and stderr
};
RunnerRun runRunner(const QString& appFolder, const QStringList& args);
// Runs script as the folder's runner copy with the built runner (conf, unless null, as its VelundZUL.conf).
RunnerRun runScript(const QString& appFolder, const QByteArray& script, const QByteArray& conf = {},
                    const QString& event = QStringLiteral("E0001"));
// Starts the runner the same way without waiting for it.
void startRunner(QProcess& process, const QString& appFolder, const QStringList& args);
QByteArray transcripts(const QString& appFolder);

} // namespace zul::test
