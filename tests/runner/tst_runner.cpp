#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace zul::test;

namespace {
const QByteArray kPassword = "Pw-s3cr3t!";

// A receipt record's stamp as the run driver writes it just before a run.
std::string stampNow()
{
    return QDateTime::currentDateTime().toString("yyyyMMddHHmmss").toStdString();
}
} // namespace

class RunnerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root; // the server's files
    FtpServer m_server;
    QTemporaryDir m_logDir;
    int m_syslog = -1; // every run's journal line comes here, not to /dev/log

    // The syslog lines sent since the last call.
    QList<QByteArray> syslogLines()
    {
        QList<QByteArray> lines;
        char buf[8192];
        for (ssize_t n; (n = ::recv(m_syslog, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            lines << QByteArray(buf, int(n));
        return lines;
    }

    QString remote(const QString& name) const { return m_root.filePath(name); }
    static QString folder(const TempAppFolder& app) { return QString::fromStdString(app.path()); }
    static QString local(const TempAppFolder& app, const QString& name) { return folder(app) + "/local/" + name; }

    QByteArray login(const QByteArray& user = "zul") const
    {
        return "open 127.0.0.1 " + QByteArray::number(m_server.port()) + "\r\nuser " + user + " " + kPassword + "\r\n";
    }

    RunnerRun runWith(const TempAppFolder& app, const QStringList& args)
    {
        syslogLines(); // earlier runs' lines
        return installBuilt("VelundZUL", folder(app)) ? runRunner(folder(app), args) : RunnerRun{};
    }
    // A run of the script as the application folder's runner copy.
    RunnerRun run(const TempAppFolder& app, const QByteArray& script, const QString& event = "E0001")
    {
        syslogLines(); // earlier runs' lines
        return runScript(folder(app), script, {}, event);
    }

    static QStringList partFiles(const QString& folder)
    {
        return QDir(folder).entryList({".zulpart-*", ".*.part-*"}, QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase()
    {
        if (!m_server.start(m_root.path(), "zul", QString::fromLatin1(kPassword)))
            QSKIP(qPrintable(m_server.why()));
        QDir(m_root.path()).mkpath("sub");
        m_syslog = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(m_logDir.filePath("log"));
        QVERIFY(socketPath.size() < int(sizeof address.sun_path));
        std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()) + 1);
        QCOMPARE(::bind(m_syslog, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        qputenv("ZUL_SYSLOG_SOCKET", socketPath);
    }
    void cleanupTestCase()
    {
        if (m_syslog >= 0)
            ::close(m_syslog);
    }

    void putAndGetRoundTrip_data()
    {
        const auto row = columns<QByteArray, QByteArray, QByteArray, QByteArray>();
        const QByteArray bin = someBytes(300000, 7);
        row("binary", "binary", bin, bin, bin);
        row("binary is the default", "", bin, bin, bin);
        // The server keeps text with LF; the wire and this side use CR LF.
        row("ascii", "ascii", "one\r\ntwo\nthree\r\n", "one\ntwo\nthree\n", "one\r\ntwo\r\nthree\r\n");
    }
    void putAndGetRoundTrip()
    {
        const auto [mode, content, onServer, back] = fetch<QByteArray, QByteArray, QByteArray, QByteArray>();
        TempAppFolder app;
        const QByteArray name = "rt_" + QByteArray(QTest::currentDataTag()).replace(' ', '_') + ".dat";
        QVERIFY(writeBytes(local(app, "in.dat"), content));
        const mode_t saved = ::umask(022);
        const RunnerRun r = run(app, login() + mode + "\r\nPUT in.dat " + name + "\r\ncd sub\r\ncdup\r\nget " + name +
                                         " out.dat\r\nquit\r\n");
        ::umask(saved);
        QVERIFY2(r.exit == 0, r.transcript.constData());
        // Users of one installed folder share the run log and the event locks, whatever their umask.
        for (const char* file : {"Log/runs.jsonl", "Lock/event-E0001.lock"})
            QVERIFY2((fileMode(QString::fromStdString(app.file(file))) & 0062) == 0060, file);
        // One journal line a run, with what an operator looks for.
        const QRegularExpression told(
            "\\A<14>.* VelundZUL\\[\\d+\\]: event E0001: success \\(exit status 0\\); sent \\d+ bytes "
            "in 1 file, received " +
            QString::number(back.size()) + " bytes in 1 file; transcript /.*/Log/.*\\z");
        const auto journal = syslogLines();
        QVERIFY2(journal.size() == 1 && told.match(QString::fromUtf8(journal[0])).hasMatch(),
                 journal.join('\n').constData());
        QVERIFY(readBytes(remote(name)) == onServer && readBytes(local(app, "out.dat")) == back);
        for (const QByteArray& field :
             {QByteArray("\"event\":\"E0001\""), QByteArray("\"exit\":0"), QByteArray("\"files_up\":1"),
              QByteArray("\"files_down\":1"), "\"bytes_down\":" + QByteArray::number(back.size())})
            QVERIFY2(r.runs.contains(field), field.constData());
        QVERIFY2(r.transcript.contains("> QUIT") && r.transcript.contains("sent 1 file (") &&
                     r.transcript.contains("), received 1 file ("),
                 r.transcript);
    }

    void manyFilesShareOneLogin()
    {
        TempAppFolder app;
        QByteArray script = login() + "mkdir many\r\ncd many\r\n";
        for (int i = 0; i < 20; ++i) {
            QVERIFY(writeBytes(local(app, QString("m%1.txt").arg(i)), QByteArray::number(i)));
            script += "put m" + QByteArray::number(i) + ".txt\r\n";
        }
        script += "lcd ..\r\nmget m1*.txt\r\nmdelete m1*.txt\r\nrename m2.txt two.txt\r\nbye\r\n";
        const RunnerRun r = run(app, script);
        QVERIFY2(r.exit == 0 && r.transcript.count("> USER ") == 1 && r.transcript.contains("sent 20 files ("),
                 r.transcript.constData());
        QVERIFY(readBytes(remote("many/two.txt")) == "2" && !QFile::exists(remote("many/m10.txt")));
        // mget wrote into the folder that lcd chose
        QCOMPARE(readBytes(QString::fromStdString(app.file("m13.txt"))), QByteArray("13"));
    }

    // Names listed in pieces (a line end inside) and folders are skipped; the rest still comes.
    void mgetGoesPastWhatTheServerRefuses()
    {
        QVERIFY(QDir(m_root.path()).mkpath("le/sub.txt"));
        for (const char* name : {"a.txt", "cr\rx.txt", "lf\ny.txt", "z.txt"})
            QVERIFY(writeBytes(remote("le/" + QString::fromLatin1(name)), name));
        TempAppFolder app;
        const RunnerRun r = run(app, login() + "mget le/*.txt\r\nbye\r\n");
        QVERIFY2(r.exit == 4 && r.transcript.count("skipped the remote name") == 3 && !r.transcript.contains("retry 1"),
                 r.transcript.constData());
        QCOMPARE(readBytes(local(app, "a.txt")) + readBytes(local(app, "z.txt")), QByteArray("a.txtz.txt"));
        QVERIFY2(r.runs.contains("3 remote names were skipped, refused by the server"), r.runs.constData());
        QVERIFY(partFiles(folder(app) + "/local").isEmpty());
    }

    void junctionDelivery_data()
    {
        // record: the register line's options, columns 24 to 31
        const auto row = columns<QByteArray, QByteArray, QByteArray, QByteArray, int, bool>();
        const QByteArray data = someBytes(40000, 3), none;
        row("no options", "        ", "j1.bin", data, "E000101", 0, true);
        row("RZ passes a file with bytes", "RZ      ", "j2.bin", data, "E000101", 0, true);
        row("RZ refuses an empty file", "RZ      ", "j3.bin", none, "E000101", 7, false);
        row("empty file without RZ", "      RC", "j4.bin", none, "E000101", 0, true);
        row("RC passes a whole file", "      RC", "j5.bin", data, "E000101", 0, true);
        row("RC refuses a short file", "      RC", "short_j6.bin", data, "E000101", 7, false);
        row("RT keeps the server's time", "   RT   ", "j7.bin", data, "E000101", 0, true);
        row("marker of another GET is ignored", "        ", "j8.bin", data, "E000102", 0, false);
    }
    void junctionDelivery()
    {
        const auto [record, serverFile, content, markerKey, exitStatus, delivered] =
            fetch<QByteArray, QByteArray, QByteArray, QByteArray, int, bool>();
        TempAppFolder app;
        const time_t serverTime = 981173106; // 2001-02-03
        const utimbuf times{serverTime, serverTime};
        const QString target = local(app, "target.bin");
        QVERIFY(writeBytes(remote(serverFile), content) &&
                ::utime(remote(serverFile).toLocal8Bit().constData(), &times) == 0 && writeBytes(target, "earlier"));
        // The record goes once its file is delivered; the other lines stay as they are.
        const std::string line = "E000101 " + stampNow() + " " + std::string(record.constData()) + " &" +
                                 target.toStdString() + "&\r\n";
        const std::string before = "a line of another program\nE000102 " + stampNow() + "\r\n";
        const std::string after = "E000101 " + stampNow() + " renewed by a later check\r\nlast";
        app.write("Rcvdchkr.txt", before + line + after);
        const QByteArray junction = QByteArray::fromStdString(app.path()) + "\\Junction\\E000101.bin";
        const RunnerRun r = run(app, login() + "get " + serverFile + " " + junction + "\r\n**" + markerKey + "=&" +
                                         target.toLocal8Bit() + "&\r\nquit\r\n");
        QVERIFY2(r.exit == exitStatus, r.transcript.constData());
        QCOMPARE(readBytes(target), delivered ? content : QByteArray("earlier"));
        if (QByteArray(QTest::currentDataTag()).contains("RT"))
            QCOMPARE(QFileInfo(target).lastModified().toSecsSinceEpoch(), qint64(serverTime));
        QCOMPARE(app.read("Rcvdchkr.txt"), before + (delivered ? "" : line) + after);
        // A file received and refused stays in Junction/ with its record, and the history says so.
        QVERIFY(partFiles(QString::fromStdString(app.file("Junction"))).isEmpty() &&
                app.exists("Junction/E000101.bin") == !delivered &&
                r.runs.contains("\"kept\":\"Junction/E000101.bin\"") == (exitStatus == 7));
    }

    // A file kept by an earlier run is delivered by a later run whose own GET fails; the GET's failure stands.
    void keptJunctionFileIsDeliveredLater_data()
    {
        const auto row = columns<QByteArray, bool>();
        row("no options", "        ", true);
        row("RZ", "RZ      ", true);
        row("RC", "      RC", false); // nothing left to check the size against
    }
    void keptJunctionFileIsDeliveredLater()
    {
        const auto [options, delivered] = fetch<QByteArray, bool>();
        TempAppFolder app;
        const QByteArray content = someBytes(5000, 4);
        const QString name = "once_" + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_') + ".bin";
        QVERIFY(writeBytes(remote(name), content));
        const QString target = folder(app) + "/later/target.bin";
        const std::string record =
            "E000101 " + stampNow() + " " + std::string(options.constData()) + " &" + target.toStdString() + "&";
        app.write("Rcvdchkr.txt", record + "\r\n");
        const QByteArray script = login() + "get " + name.toLatin1() + " " +
                                  QByteArray::fromStdString(app.path()) + "/Junction/E000101.bin\r\n**E000101=&" +
                                  target.toLocal8Bit() + "&\r\nquit\r\n";
        RunnerRun r = run(app, script); // the target's folder is missing
        QVERIFY2(r.exit == 7 && r.transcript.contains("received, not delivered: kept as Junction/E000101.bin") &&
                     app.exists("Junction/E000101.bin"),
                 r.transcript.constData());
        // The server handed it over once.
        QVERIFY(QDir().mkpath(folder(app) + "/later") && QFile::remove(remote(name)));
        r = run(app, script);
        QVERIFY2(r.exit == 4 && r.transcript.contains("Junction/E000101.bin was received by an earlier run and not "
                                                      "delivered: delivering it now"),
                 r.transcript.constData());
        QCOMPARE(readBytes(target), delivered ? content : QByteArray("<missing>"));
        QCOMPARE(app.read("Rcvdchkr.txt"), delivered ? std::string() : record + "\r\n");
        const QByteArray last = r.runs.trimmed().split('\n').last();
        QVERIFY2(last.contains(delivered ? "kept by an earlier run, was delivered to" : "was not delivered either") &&
                     last.contains("\"kept\":\"Junction/E000101.bin\"") == !delivered &&
                     app.exists("Junction/E000101.bin") == !delivered,
                 last.constData());
    }

    // A register or settings that are there but cannot be read (a folder or a fifo in their place): nothing is
    // fetched, and nothing waits for a writer that never comes.
    void unreadableFileEndsTheRun_data()
    {
        const auto row = columns<QString, bool, int, QByteArray>();
        row("register", "Rcvdchkr.txt", false, 5, "cannot read Rcvdchkr.txt");
        row("register, a fifo", "Rcvdchkr.txt", true, 5, "cannot read Rcvdchkr.txt");
        row("settings, before the partner is reached", "VelundZUL.conf", false, 9, "cannot read the settings");
        row("settings, a fifo", "VelundZUL.conf", true, 9, "cannot read the settings");
    }
    void unreadableFileEndsTheRun()
    {
        const auto [file, fifo, exitStatus, says] = fetch<QString, bool, int, QByteArray>();
        TempAppFolder app;
        const QString path = folder(app) + "/" + file;
        QVERIFY(writeBytes(remote("u1.bin"), "data") &&
                (fifo ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 : QDir().mkpath(path)));
        const QString target = local(app, "target.bin");
        const QByteArray junction = QByteArray::fromStdString(app.path()) + "\\Junction\\E000101.bin";
        const RunnerRun r = run(app, login() + "get u1.bin " + junction + "\r\n**E000101=&" + target.toLocal8Bit() +
                                         "&\r\nquit\r\n");
        QVERIFY2(r.exit == exitStatus && r.transcript.contains(says), r.transcript.constData());
        QCOMPARE(r.transcript.contains("> USER"), exitStatus != 9);
        QVERIFY(!app.exists("Junction/E000101.bin") && !QFile::exists(target));
    }

    void failuresEndTheScript_data()
    {
        // script: after the login unless it has its own
        const auto row = columns<QByteArray, int, QByteArray, bool>();
        row("530 login refused", "open 127.0.0.1 PORT\r\nuser refused pw12345\r\n", 3, "530", false);
        row("550 missing remote file", "get nothere.txt\r\n", 4, "550", false);
        row("550 permission", "put in.txt deny550_x.txt\r\n", 4, "550", false);
        row("missing local file", "put nothere.txt\r\n", 5, "nothere", false);
        row("a fifo as the local file is not waited on", "put fifo.in never.txt\r\n", 5, "fifo.in is not a normal file",
            false);
        row("unreachable partner", "open 127.0.0.1 1\r\nuser zul x\r\n", 2, "unreachable", false);
        row("unknown command", "put in.txt never.txt\r\nfrobnicate\r\n", 1, "line 4: unknown command", false);
        row("quit ends the script", "quit\r\nopen 127.0.0.1 PORT\r\nget a\r\n", 0, "> QUIT", false);
        row("get without login", "close\r\nopen 127.0.0.1 PORT\r\nget a\r\n", 1, "not logged in", false);
        row("short file without RC", "get short_f.bin\r\n", 6, "after 2 retries", false);
        row("450 once is retried", "get busy1_f.txt\r\n", 0, "retry 1", true);
        row("a switched-off put is skipped", "****put in.txt never.txt\r\n", 0, "skipped", true);
        row("a dropped get is retried", "cd sub\r\nsite HELP\r\nget drop1_big.bin big.bin\r\ncdup\r\n", 0, "retry 1",
            true);
    }
    void failuresEndTheScript()
    {
        auto [script, exitStatus, inTranscript, restRuns] = fetch<QByteArray, int, QByteArray, bool>();
        TempAppFolder app;
        // A file that never comes whole replaces nothing (short_f.bin).
        QVERIFY(writeBytes(local(app, "in.txt"), "data") && writeBytes(local(app, "short_f.bin"), "earlier") &&
                writeBytes(remote("short_f.bin"), someBytes(10000, 1)) && writeBytes(remote("busy1_f.txt"), "busy") &&
                writeBytes(remote("sub/drop1_big.bin"), someBytes(400000, 9)) &&
                ::mkfifo(QFile::encodeName(local(app, "fifo.in")).constData(), 0600) == 0);
        script.replace("PORT", QByteArray::number(m_server.port()));
        const QByteArray full =
            (script.startsWith("open") ? QByteArray() : login()) + script + "put in.txt after.txt\r\n";
        QFile::remove(remote("after.txt"));
        QFile::remove(remote("never.txt"));
        const RunnerRun r = run(app, full);
        QVERIFY2(r.exit == exitStatus && r.transcript.contains(inTranscript), r.transcript.constData());
        QVERIFY(r.runs.contains("\"exit\":" + QByteArray::number(exitStatus)));
        const auto journal = syslogLines(); // failures at error priority
        QCOMPARE(journal.size(), 1);
        QVERIFY2(journal[0].startsWith(exitStatus ? "<11>" : "<14>") &&
                     journal[0].contains("status " + QByteArray::number(exitStatus) + "); sent "),
                 journal[0].constData());
        // Nothing runs after a failure, a bad script sends nothing, a failed get replaces nothing.
        QCOMPARE(QFile::exists(remote("after.txt")), restRuns);
        QVERIFY(!QFile::exists(remote("never.txt")) && readBytes(local(app, "short_f.bin")) == "earlier" &&
                partFiles(local(app, "")).isEmpty() && (exitStatus != 4 || r.transcript.contains("> QUIT")));
        // The new connection got the login, the folder and the SITE command again.
        if (script.contains("drop1_"))
            QVERIFY(readBytes(local(app, "big.bin")) == someBytes(400000, 9) && r.transcript.count("> USER ") == 2 &&
                    r.transcript.count("> CWD /sub") == 2 && r.transcript.count("> SITE HELP") == 2);
    }

    void passwordsNeverWritten_data()
    {
        const auto row = columns<QByteArray>();
        const QByteArray open = "open 127.0.0.1 PORT\r\n";
        row("user line", open + "user zul " + kPassword + "\r\nget nothere\r\n");
        row("password on its own line", open + "user zul\r\n" + kPassword + "\r\npwd\r\n");
        row("name and password after open", open + "zul\r\n" + kPassword + "\r\npwd\r\n");
        row("refused login", open + "user refused " + kPassword + "\r\n");
        row("quote pass", open + "user zul " + kPassword + "\r\nquote PASS " + kPassword + "\r\n");
        row("quote ACCT", open + "user zul " + kPassword + "\r\nquote ACCT " + kPassword + "\r\n");
        row("user with account", open + "USER zul " + kPassword + " " + kPassword + "\r\npwd\r\n");
    }
    void passwordsNeverWritten()
    {
        auto [script] = fetch<QByteArray>();
        TempAppFolder app;
        script.replace("PORT", QByteArray::number(m_server.port()));
        const RunnerRun r = run(app, script);
        QVERIFY(r.exit >= 0 && !r.transcript.isEmpty() && !r.runs.isEmpty());
        QVERIFY(r.transcript.contains("PASS ****") || r.transcript.contains("user zul ****") ||
                r.transcript.contains("zul ****"));
        QVERIFY(!r.transcript.contains(kPassword) && !r.runs.contains(kPassword) && !r.output.contains(kPassword) &&
                !syslogLines().join().contains(kPassword));
    }

    // ON_FAILURE, global or per partner, after failed runs only; its failure or time limit is told, the status stays.
    void failureHook_data()
    {
        // config: {HOOK} is the hook script, {OUT} its output file
        const auto row = columns<QByteArray, QByteArray, int, bool, QByteArray>();
        const QByteArray fail = "get nothere.txt\r\n";
        row("environment", "ON_FAILURE = {HOOK} {OUT} 0\n", fail, 4, true, "ended with exit status 0");
        row("partner section", "ON_FAILURE = /bin/false\n[127.0.0.1]\nON_FAILURE = {HOOK} {OUT} 0\n", fail, 4, true,
            "ended with exit status 0");
        row("success runs no hook", "ON_FAILURE = {HOOK} {OUT} 0\n", "pwd\r\n", 0, false, "outcome: success");
        row("hook fails", "ON_FAILURE = {HOOK} {OUT} 7\n", fail, 4, true,
            "ended with exit status 7; the run's status stays 4");
        row("hook cannot start", "ON_FAILURE = /nonexistent/hook\n", fail, 4, false,
            "cannot start: No such file or directory");
        row("time limit", "ON_FAILURE = /bin/sleep 600\nON_FAILURE_TIMEOUT = 1\n", fail, 4, false,
            "stopped after its time limit of 1 s");
    }
    void failureHook()
    {
        auto [config, script, exitStatus, hookRan, inTranscript] =
            fetch<QByteArray, QByteArray, int, bool, QByteArray>();
        TempAppFolder app;
        const QString hook = folder(app) + "/hook.sh", out = folder(app) + "/hook.out";
        QVERIFY(writeBytes(hook, "#!/bin/sh\nenv | grep '^ZUL_\\|^GNUTLS_' | sort > \"$1\"\nexit \"$2\"\n") &&
                QFile::setPermissions(hook, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        config.replace("{HOOK}", QFile::encodeName(hook)).replace("{OUT}", QFile::encodeName(out));
        QVERIFY(writeBytes(QString::fromStdString(app.file("VelundZUL.conf")), config));
        qputenv("GNUTLS_NO_IMPLICIT_INIT", "1"); // as the run driver starts the runner; the hook must not inherit it
        const RunnerRun r = run(app, login() + script, "E0005");
        qunsetenv("GNUTLS_NO_IMPLICIT_INIT");
        QVERIFY2(r.exit == exitStatus && r.transcript.contains(inTranscript), r.transcript.constData());
        QVERIFY(r.runs.contains("\"exit\":" + QByteArray::number(exitStatus)) && QFile::exists(out) == hookRan);
        // A hook that fails, cannot start or runs out of time is a warning.
        QCOMPARE(syslogLines().join('\n').contains("<12>"),
                 inTranscript.contains("status stays") || (!hookRan && exitStatus));
        if (!hookRan)
            return;
        const QByteArray env = readBytes(out);
        QVERIFY2(env.contains("ZUL_EVENT=E0005\n") && env.contains("ZUL_EXIT_STATUS=4\n") &&
                     env.contains("ZUL_OUTCOME=remote") && env.contains("550") && !env.contains("GNUTLS_"),
                 env.constData());
        const QByteArray transcript = env.mid(env.indexOf("ZUL_TRANSCRIPT=") + 15).split('\n').first();
        QVERIFY2(transcript.contains("/Log/E0005_") && QFile::exists(QFile::decodeName(transcript)) &&
                     !env.contains(kPassword),
                 env.constData());
    }

    // "user NAME" without a password takes it from netrc; a netrc others can read is refused.
    void passwordFromNetrc_data()
    {
        const auto row = columns<QByteArray, int, QByteArray, int, QByteArray>();
        const QByteArray entry = "machine 127.0.0.1 login zul password " + kPassword + "\n";
        row("machine entry", entry, 0600, "user zul\r\n", 0, "comes from");
        row("next line is a command, not a password", entry, 0600, "user zul\r\npwd\r\n", 0, "> PWD");
        row("name alone after open", entry, 0400, "zul\r\n", 0, "comes from");
        row("readable by others: refused", entry, 0644, "user zul\r\n", 1, "chmod 600");
        row("readable by the group: refused", entry, 0640, "user zul\r\n", 1, "mode 0640");
        row("writable by the group: refused before it is read", entry, 0620, "user zul\r\n", 1, "chmod go-w");
        row("no netrc file", QByteArray(), 0, "user zul\r\n", 3, "without one");
        row("a fifo in its place: refused, not waited on", "<fifo>", 0600, "user zul\r\n", 1, "is not a file");
        row("readable by others, no entry for this partner: not used", "machine other.example login zul password x\n",
            0644, "user zul\r\n", 3, "without one");
        row("script password wins", "default login zul password wrong\n", 0600, "user zul " + kPassword + "\r\n", 0,
            "230");
    }
    void passwordFromNetrc()
    {
        const auto [netrc, mode, userLines, exitStatus, inTranscript] =
            fetch<QByteArray, int, QByteArray, int, QByteArray>();
        TempAppFolder app;
        const QString netrcPath = folder(app) + "/netrc";
        if (netrc == "<fifo>") {
            QCOMPARE(::mkfifo(QFile::encodeName(netrcPath).constData(), mode_t(mode)), 0);
        } else if (!netrc.isEmpty()) {
            QVERIFY(writeBytes(netrcPath, netrc));
            QCOMPARE(::chmod(QFile::encodeName(netrcPath).constData(), mode_t(mode)), 0);
        }
        qputenv("NETRC", QFile::encodeName(netrcPath));
        const RunnerRun r =
            run(app, "open 127.0.0.1 " + QByteArray::number(m_server.port()) + "\r\n" + userLines + "quit\r\n");
        qunsetenv("NETRC");
        // A refused netrc (status 1) is refused before anything was sent.
        QVERIFY2(r.exit == exitStatus && r.transcript.contains(inTranscript) &&
                     (exitStatus != 1 || !r.transcript.contains("> USER")),
                 r.transcript.constData());
        QVERIFY(!r.transcript.contains(kPassword) && !r.runs.contains(kPassword) && !r.output.contains(kPassword));
    }

    void invocation_data()
    {
        const auto row = columns<QStringList, int, QByteArray>();
        row("three arguments", {"true", "SCRIPT", "E0007"}, 0, "E0007_");
        row("no event: five blanks", {"true|SCRIPT|     "}, 0, "FastPath_");
        row("empty script field", {"true||E0007"}, 1, "E0007_");
        row("missing script file", {"true|/nonexistent/x.zul|E0007"}, 1, "E0007_");
        row("two fields", {"true|SCRIPT"}, 1, "FastPath_");
        row("split at the blank of the path", {"true|SCRIPT|E0007"}, 0, "E0007_");
    }
    void invocation()
    {
        auto [args, exitStatus, transcriptPrefix] = fetch<QStringList, int, QByteArray>();
        TempAppFolder app;
        const QString script = QString::fromStdString(app.file("ZUL/with blank.zul"));
        QVERIFY(writeBytes(script, login() + "pwd\r\nquit\r\n"));
        for (auto& a : args)
            a.replace("SCRIPT", script);
        if (QByteArray(QTest::currentDataTag()).startsWith("split"))
            args = args.first().split(' ');
        const RunnerRun r = runWith(app, args);
        QVERIFY2(r.exit == exitStatus, r.transcript.constData());
        const auto logs = QDir(QString::fromStdString(app.file("Log"))).entryList({"*.log"});
        QVERIFY2(logs.size() == 1 && logs[0].startsWith(transcriptPrefix), qPrintable(logs.join(' ')));
    }

    void secondRunnerOfAnEventWaits()
    {
        TempAppFolder app;
        QVERIFY(writeBytes(remote("wait.txt"), "waited") && QDir().mkpath(QString::fromStdString(app.file("Lock"))));
        const int fd = ::open(app.file("Lock/event-E0009.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX) == 0);
        const QString path = QString::fromStdString(app.file("ZUL/tZULexe.zul"));
        QVERIFY(writeBytes(path, login() + "get wait.txt\r\nquit\r\n") && installBuilt("VelundZUL", folder(app)));
        QProcess proc;
        startRunner(proc, folder(app), {"true|" + path + "|E0009"});
        QVERIFY(proc.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(transcripts(folder(app)).contains("waiting for another runner"), 20000);
        QVERIFY(!QFile::exists(local(app, "wait.txt")));
        ::close(fd); // as when the other runner ends or dies
        QVERIFY(proc.waitForFinished(60000) && proc.exitCode() == 0 && readBytes(local(app, "wait.txt")) == "waited");
    }
};

QTEST_GUILESS_MAIN(RunnerTest)
#include "tst_runner.moc"
