#include "support/FtpServer.h"

#include "support/Files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

namespace zul::test {

bool FtpServer::start(const QString& root, const QString& user, const QString& password, const QStringList& more,
                      const QString& script)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/python3"))) {
        m_why = QStringLiteral("no /usr/bin/python3");
        return false;
    }
    // The password goes in the environment: the arguments are anyone's to read.
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FTP_SERVER_PASSWORD"), password);
    m_process.setProcessEnvironment(env);
    m_process.start(QStringLiteral("/usr/bin/python3"), QStringList{script, "--root", root, "--user", user} + more);
    const QDeadlineTimer deadline(20000);
    while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
        m_process.waitForReadyRead(100);
    m_port = m_process.canReadLine() ? m_process.readLine().trimmed().toInt() : 0;
    if (m_port <= 0)
        m_why =
            QStringLiteral("the FTP server did not start: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
    return m_port > 0;
}

QByteArray transcripts(const QString& appFolder)
{
    QByteArray all;
    const QDir log(appFolder + "/Log");
    for (const auto& f : log.entryList({"*.log"}, QDir::Files, QDir::Name))
        all += readBytes(log.filePath(f));
    return all;
}

void startRunner(QProcess& process, const QString& appFolder, const QStringList& args)
{
    auto env = QProcessEnvironment::systemEnvironment();
    // A test that sets one of these itself keeps its value.
    const auto unlessSet = [&env](const QString& key, const QString& value) {
        if (!env.contains(key))
            env.insert(key, value);
    };
    unlessSet("ZUL_RUNNER_RETRIES", "2");
    unlessSet("ZUL_RUNNER_BACKOFF_MS", "50");
    unlessSet("ZUL_RUNNER_CONNECT_TIMEOUT", "10");
    unlessSet("ZUL_RUNNER_REPLY_TIMEOUT", "30");
    unlessSet("ZUL_RUNNER_STALL_TIMEOUT", "30");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QDir(appFolder).mkpath("local");
    process.setWorkingDirectory(appFolder + "/local");
    process.start(appFolder + "/VelundZUL", args);
}

RunnerRun runRunner(const QString& appFolder, const QStringList& args)
{
    QProcess p;
    startRunner(p, appFolder, args);
    RunnerRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.output = p.readAll();
    r.transcript = transcripts(appFolder);
    r.runs = readBytes(appFolder + "/Log/runs.jsonl");
    return r;
}

RunnerRun runScript(const QString& appFolder, const QByteArray& script, const QByteArray& conf, const QString& event)
{
    const QString copy = appFolder + "/ZUL/tZULexe.zul";
    if ((!conf.isNull() && !writeBytes(appFolder + "/VelundZUL.conf", conf)) || !writeBytes(copy, script) ||
        !installBuilt("VelundZUL", appFolder))
        return {};
    return runRunner(appFolder, {"true|" + copy + "|" + event});
}

} // namespace zul::test
