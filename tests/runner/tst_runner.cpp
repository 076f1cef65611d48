#include "support/TempAppFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using zul::test::TempAppFolder;

namespace {

const QByteArray kPassword = "Pw-s3cr3t!";

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray randomBytes(int n, quint32 seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = char(seed >> 16);
    }
    return b;
}

struct Run {
    int exit = -1;
    QByteArray transcript; // every transcript of the folder, joined
    QByteArray runs;       // Log/runs.jsonl
    QByteArray output;     // stdout and stderr
};

} // namespace

class RunnerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root; // the server's files
    QProcess m_server;
    int m_port = 0;

    QString remote(const QString& name) const { return m_root.filePath(name); }

    // A fresh application folder holding a copy of the runner.
    void installRunner(const TempAppFolder& app)
    {
        const QString built = qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/VelundZUL";
        const QString copy = QString::fromStdString(app.file("VelundZUL"));
        QVERIFY2(QFile::copy(built, copy), qPrintable("cannot copy " + built));
        QFile::setPermissions(copy, QFile::permissions(built));
        QDir(QString::fromStdString(app.path())).mkpath("local");
    }

    QByteArray login(const QByteArray& user = "zul") const
    {
        return "open 127.0.0.1 " + QByteArray::number(m_port) + "\r\nuser " + user + " " + kPassword + "\r\n";
    }

    Run runArgs(const TempAppFolder& app, const QStringList& args, QProcess* started = nullptr)
    {
        QProcess p;
        QProcess& proc = started ? *started : p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("ZUL_RUNNER_RETRIES", "2");
        env.insert("ZUL_RUNNER_BACKOFF_MS", "50");
        env.insert("ZUL_RUNNER_CONNECT_TIMEOUT", "10");
        env.insert("ZUL_RUNNER_REPLY_TIMEOUT", "30");
        env.insert("ZUL_RUNNER_STALL_TIMEOUT", "30");
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::MergedChannels);
        proc.setWorkingDirectory(QString::fromStdString(app.file("local")));
        proc.start(QString::fromStdString(app.file("VelundZUL")), args);
        Run r;
        if (started)
            return r;
        if (!proc.waitForFinished(120000))
            return r;
        r.exit = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -2;
        r.output = proc.readAll();
        collect(app, r);
        return r;
    }

    static void collect(const TempAppFolder& app, Run& r)
    {
        const QDir log(QString::fromStdString(app.file("Log")));
        for (const auto& f : log.entryList({"*.log"}, QDir::Files, QDir::Name))
            r.transcript += readFile(log.filePath(f));
        r.runs = readFile(log.filePath("runs.jsonl"));
    }

    Run run(const TempAppFolder& app, const QByteArray& script, const QString& event = "E0001")
    {
        const QString path = QString::fromStdString(app.file("ZUL/tZULexe.zul"));
        writeFile(path, script);
        return runArgs(app, {"true|" + path + "|" + event});
    }

    QString local(const TempAppFolder& app, const QString& name) const
    {
        return QString::fromStdString(app.file("local/")) + name;
    }

    static QStringList partFiles(const QString& folder)
    {
        return QDir(folder).entryList({".*.part-*"}, QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("no /usr/bin/python3");
        m_server.setProgram("/usr/bin/python3");
        m_server.setArguments({ZUL_SOURCE_DIR "/tests/runner/ftpserver.py", "--root", m_root.path(), "--user", "zul",
                               "--password", QString::fromLatin1(kPassword), "--control",
                               m_root.filePath(".control.json")});
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.start();
        QVERIFY(m_server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine() || m_server.state() != QProcess::Running, 15000);
        if (m_server.state() != QProcess::Running)
            QSKIP(qPrintable("the FTP server did not start: " + m_server.readAllStandardError()));
        m_port = m_server.readLine().trimmed().toInt();
        QVERIFY(m_port > 0);
        QDir(m_root.path()).mkpath("sub");
    }

    void cleanupTestCase()
    {
        if (m_server.state() == QProcess::Running) {
            m_server.terminate();
            if (!m_server.waitForFinished(5000)) {
                m_server.kill();
                m_server.waitForFinished();
            }
        }
    }

    void putAndGetRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("onServer");
        QTest::addColumn<QByteArray>("back");
        const QByteArray bin = randomBytes(300000, 7);
        QTest::newRow("binary") << QByteArray("binary") << bin << bin << bin;
        QTest::newRow("binary is the default") << QByteArray("") << bin << bin << bin;
        // The server keeps text with LF; the wire and this side use CR LF.
        QTest::newRow("ascii") << QByteArray("ascii") << QByteArray("one\r\ntwo\nthree\r\n")
                               << QByteArray("one\ntwo\nthree\n") << QByteArray("one\r\ntwo\r\nthree\r\n");
        QTest::newRow("type a") << QByteArray("type a") << QByteArray("x\r\n") << QByteArray("x\n")
                                << QByteArray("x\r\n");
    }
    void putAndGetRoundTrip()
    {
        QFETCH(QByteArray, mode);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, onServer);
        QFETCH(QByteArray, back);
        TempAppFolder app;
        installRunner(app);
        const QByteArray name = "rt_" + QByteArray(QTest::currentDataTag()).replace(' ', '_') + ".dat";
        writeFile(local(app, "in.dat"), content);
        const Run r = run(app, login() + mode + "\r\nPUT in.dat " + name + "\r\ncd sub\r\ncdup\r\nget " + name +
                                   " out.dat\r\nquit\r\n");
        QVERIFY2(r.exit == 0, r.transcript.constData());
        QCOMPARE(readFile(remote(name)), onServer);
        QCOMPARE(readFile(local(app, "out.dat")), back);
        QVERIFY(r.runs.contains("\"event\":\"E0001\""));
        QVERIFY(r.runs.contains("\"exit\":0"));
        QVERIFY(r.runs.contains("\"files_up\":1"));
        QVERIFY(r.runs.contains("\"files_down\":1"));
        QVERIFY(r.runs.contains("\"bytes_down\":" + QByteArray::number(back.size())));
        QVERIFY(r.transcript.contains("> QUIT"));
    }

    void manyFilesShareOneLogin()
    {
        TempAppFolder app;
        installRunner(app);
        QByteArray script = login() + "mkdir many\r\ncd many\r\n";
        for (int i = 0; i < 20; ++i) {
            writeFile(local(app, QString("m%1.txt").arg(i)), QByteArray::number(i));
            script += "put m" + QByteArray::number(i) + ".txt\r\n";
        }
        script += "lcd ..\r\nmget m1*.txt\r\nmdelete m1*.txt\r\nrename m2.txt two.txt\r\nbye\r\n";
        const Run r = run(app, script);
        QVERIFY2(r.exit == 0, r.transcript.constData());
        QCOMPARE(r.transcript.count("> USER "), 1);
        QCOMPARE(readFile(remote("many/two.txt")), QByteArray("2"));
        QVERIFY(!QFile::exists(remote("many/m10.txt")));
        // mget wrote into the folder that lcd chose
        QCOMPARE(readFile(QString::fromStdString(app.file("m13.txt"))), QByteArray("13"));
    }

    void disabledPutIsSkipped()
    {
        TempAppFolder app;
        installRunner(app);
        writeFile(local(app, "empty.txt"), "");
        const Run r = run(app, login() + "****put empty.txt disabled.txt\r\nquit\r\n");
        QCOMPARE(r.exit, 0);
        QVERIFY(!QFile::exists(remote("disabled.txt")));
        QVERIFY(r.transcript.contains("skipped"));
    }

    void junctionDelivery_data()
    {
        QTest::addColumn<QByteArray>("record"); // register line options, columns 24 to 31
        QTest::addColumn<QByteArray>("serverFile");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("markerKey");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<bool>("delivered");
        const QByteArray data = randomBytes(40000, 3);
        QTest::newRow("no options") << QByteArray("        ") << QByteArray("j1.bin") << data << QByteArray("E000101")
                                    << 0 << true;
        QTest::newRow("RZ passes a file with bytes")
            << QByteArray("RZ      ") << QByteArray("j2.bin") << data << QByteArray("E000101") << 0 << true;
        QTest::newRow("RZ refuses an empty file")
            << QByteArray("RZ      ") << QByteArray("j3.bin") << QByteArray() << QByteArray("E000101") << 7 << false;
        QTest::newRow("empty file without RZ")
            << QByteArray("      RC") << QByteArray("j4.bin") << QByteArray() << QByteArray("E000101") << 0 << true;
        QTest::newRow("RC passes a whole file")
            << QByteArray("      RC") << QByteArray("j5.bin") << data << QByteArray("E000101") << 0 << true;
        QTest::newRow("RC refuses a short file")
            << QByteArray("      RC") << QByteArray("short_j6.bin") << data << QByteArray("E000101") << 7 << false;
        QTest::newRow("RT keeps the server's time")
            << QByteArray("   RT   ") << QByteArray("j7.bin") << data << QByteArray("E000101") << 0 << true;
        QTest::newRow("marker of another GET is ignored")
            << QByteArray("        ") << QByteArray("j8.bin") << data << QByteArray("E000102") << 0 << false;
    }
    void junctionDelivery()
    {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, serverFile);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, markerKey);
        QFETCH(int, exitStatus);
        QFETCH(bool, delivered);
        TempAppFolder app;
        installRunner(app);
        writeFile(remote(serverFile), content);
        const time_t serverTime = 981173106; // 2001-02-03
        const utimbuf times{serverTime, serverTime};
        QCOMPARE(::utime(remote(serverFile).toLocal8Bit().constData(), &times), 0);
        const QString target = local(app, "target.bin");
        writeFile(target, "earlier");
        app.write("Rcvdchkr.txt",
                  "E000101 20240101120000 " + std::string(record.constData()) + " &" + target.toStdString() + "&\r\n");
        const QByteArray junction = QByteArray::fromStdString(app.path()) + "\\Junction\\E000101.bin";
        const Run r = run(app, login() + "get " + serverFile + " " + junction + "\r\n**" + markerKey + "=&" +
                                   target.toLocal8Bit() + "&\r\nquit\r\n");
        QVERIFY2(r.exit == exitStatus, r.transcript.constData());
        QCOMPARE(readFile(target), delivered ? content : QByteArray("earlier"));
        if (QByteArray(QTest::currentDataTag()).contains("RT"))
            QCOMPARE(QFileInfo(target).lastModified().toSecsSinceEpoch(), qint64(serverTime));
        QVERIFY(partFiles(QString::fromStdString(app.file("Junction"))).isEmpty());
    }

    void failuresEndTheScript_data()
    {
        QTest::addColumn<QByteArray>("script"); // after the login unless it has its own
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QByteArray>("inTranscript");
        QTest::addColumn<bool>("restRuns");
        QTest::newRow("530 login refused")
            << QByteArray("open 127.0.0.1 PORT\r\nuser refused pw12345\r\n") << 3 << QByteArray("530") << false;
        QTest::newRow("550 missing remote file")
            << QByteArray("get nothere.txt\r\n") << 4 << QByteArray("550") << false;
        QTest::newRow("550 permission") << QByteArray("put in.txt deny550_x.txt\r\n") << 4 << QByteArray("550")
                                        << false;
        QTest::newRow("550 chosen by the control file")
            << QByteArray("get ctl.txt\r\n") << 4 << QByteArray("550") << false;
        QTest::newRow("missing local file") << QByteArray("put nothere.txt\r\n") << 5 << QByteArray("nothere") << false;
        QTest::newRow("unreachable partner")
            << QByteArray("open 127.0.0.1 1\r\nuser zul x\r\n") << 2 << QByteArray("unreachable") << false;
        QTest::newRow("unknown command") << QByteArray("put in.txt never.txt\r\nfrobnicate\r\n") << 1
                                         << QByteArray("line 4: unknown command") << false;
        QTest::newRow("quit ends the script")
            << QByteArray("quit\r\nopen 127.0.0.1 PORT\r\nget a\r\n") << 0 << QByteArray("> QUIT") << false;
        QTest::newRow("get without login")
            << QByteArray("close\r\nopen 127.0.0.1 PORT\r\nget a\r\n") << 1 << QByteArray("not logged in") << false;
        QTest::newRow("short file without RC")
            << QByteArray("get short_f.bin\r\n") << 6 << QByteArray("after 2 retries") << false;
        QTest::newRow("450 once is retried") << QByteArray("get busy1_f.txt\r\n") << 0 << QByteArray("retry 1") << true;
    }
    void failuresEndTheScript()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, exitStatus);
        QFETCH(QByteArray, inTranscript);
        QFETCH(bool, restRuns);
        TempAppFolder app;
        installRunner(app);
        writeFile(local(app, "in.txt"), "data");
        writeFile(remote("short_f.bin"), randomBytes(10000, 1));
        writeFile(remote("busy1_f.txt"), "busy");
        writeFile(remote("ctl.txt"), "ctl");
        writeFile(remote(".control.json"), "{\"deny\": [\"ctl.txt\"]}");
        script.replace("PORT", QByteArray::number(m_port));
        const QByteArray full =
            (script.startsWith("open") ? QByteArray() : login()) + script + "put in.txt after.txt\r\n";
        QFile::remove(remote("after.txt"));
        QFile::remove(remote("never.txt"));
        const Run r = run(app, full);
        QFile::remove(remote(".control.json"));
        QVERIFY2(r.exit == exitStatus, r.transcript.constData());
        QVERIFY2(r.transcript.contains(inTranscript), r.transcript.constData());
        QVERIFY(r.runs.contains("\"exit\":" + QByteArray::number(exitStatus)));
        QCOMPARE(QFile::exists(remote("after.txt")), restRuns); // nothing runs after a failure
        QVERIFY(!QFile::exists(remote("never.txt")));           // a bad script sends nothing
        if (exitStatus == 4)
            QVERIFY(r.transcript.contains("> QUIT"));
    }

    void droppedConnectionIsRetriedWithTheSessionRestored()
    {
        TempAppFolder app;
        installRunner(app);
        const QByteArray data = randomBytes(400000, 9);
        writeFile(remote("sub/drop1_big.bin"), data);
        const Run r = run(app, login() + "cd sub\r\nsite HELP\r\nget drop1_big.bin big.bin\r\nquit\r\n");
        QVERIFY2(r.exit == 0, r.transcript.constData());
        QCOMPARE(readFile(local(app, "big.bin")), data);
        QVERIFY(r.transcript.contains("retry 1"));
        QCOMPARE(r.transcript.count("> USER "), 2);
        // the new connection got the folder and the SITE command again
        QCOMPARE(r.transcript.count("> CWD /sub"), 2);
        QCOMPARE(r.transcript.count("> SITE HELP"), 2);
    }

    void interruptedDownloadLeavesNoPartialTarget()
    {
        TempAppFolder app;
        installRunner(app);
        writeFile(remote("drop1_cut.bin"), randomBytes(400000, 5));
        writeFile(local(app, "cut.bin"), "earlier");
        writeFile(remote("short_cut2.bin"), randomBytes(400000, 6));
        Run r = run(app, login() + "get drop1_cut.bin cut.bin\r\n"); // the retry succeeds
        QCOMPARE(r.exit, 0);
        QFile::remove(local(app, "cut.bin"));
        writeFile(local(app, "cut.bin"), "earlier");
        r = run(app, login() + "get short_cut2.bin cut.bin\r\n"); // never whole
        QCOMPARE(r.exit, 6);
        QCOMPARE(readFile(local(app, "cut.bin")), QByteArray("earlier"));
        QVERIFY(partFiles(local(app, "")).isEmpty());
    }

    void passwordsNeverWritten_data()
    {
        QTest::addColumn<QByteArray>("script");
        const QByteArray open = "open 127.0.0.1 PORT\r\n";
        QTest::newRow("user line") << open + "user zul " + kPassword + "\r\nget nothere\r\n";
        QTest::newRow("password on its own line") << open + "user zul\r\n" + kPassword + "\r\npwd\r\n";
        QTest::newRow("name and password after open") << open + "zul\r\n" + kPassword + "\r\npwd\r\n";
        QTest::newRow("refused login") << open + "user refused " + kPassword + "\r\n";
        QTest::newRow("quote pass") << open + "user zul " + kPassword + "\r\nquote PASS " + kPassword + "\r\n";
    }
    void passwordsNeverWritten()
    {
        QFETCH(QByteArray, script);
        TempAppFolder app;
        installRunner(app);
        script.replace("PORT", QByteArray::number(m_port));
        const Run r = run(app, script);
        QVERIFY(r.exit >= 0);
        QVERIFY(!r.transcript.isEmpty());
        QVERIFY(!r.runs.isEmpty());
        QVERIFY(r.transcript.contains("PASS ****") || r.transcript.contains("user zul ****") ||
                r.transcript.contains("zul ****"));
        QVERIFY(!r.transcript.contains(kPassword));
        QVERIFY(!r.runs.contains(kPassword));
        QVERIFY(!r.output.contains(kPassword));
    }

    void invocation_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QByteArray>("transcriptPrefix");
        QTest::newRow("one argument") << QStringList{"true|SCRIPT|E0007"} << 0 << QByteArray("E0007_");
        QTest::newRow("three arguments") << QStringList{"true", "SCRIPT", "E0007"} << 0 << QByteArray("E0007_");
        QTest::newRow("no event: five blanks") << QStringList{"true|SCRIPT|     "} << 0 << QByteArray("FastPath_");
        QTest::newRow("empty script field") << QStringList{"true||E0007"} << 1 << QByteArray("E0007_");
        QTest::newRow("missing script file")
            << QStringList{"true|/nonexistent/x.zul|E0007"} << 1 << QByteArray("E0007_");
        QTest::newRow("two fields") << QStringList{"true|SCRIPT"} << 1 << QByteArray("FastPath_");
    }
    void invocation()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitStatus);
        QFETCH(QByteArray, transcriptPrefix);
        TempAppFolder app;
        installRunner(app);
        const QString script = QString::fromStdString(app.file("ZUL/with blank.zul"));
        writeFile(script, login() + "pwd\r\nquit\r\n");
        for (auto& a : args)
            a.replace("SCRIPT", script);
        const Run r = runArgs(app, args);
        QVERIFY2(r.exit == exitStatus, r.transcript.constData());
        const auto logs = QDir(QString::fromStdString(app.file("Log"))).entryList({"*.log"});
        QCOMPARE(logs.size(), 1);
        QVERIFY2(logs[0].startsWith(transcriptPrefix), qPrintable(logs[0]));
    }

    void secondRunnerOfAnEventWaits()
    {
        TempAppFolder app;
        installRunner(app);
        writeFile(remote("wait.txt"), "waited");
        const int fd = ::open(app.file("Junction/.E0009.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        const QString path = QString::fromStdString(app.file("ZUL/tZULexe.zul"));
        writeFile(path, login() + "get wait.txt\r\nquit\r\n");
        QProcess proc;
        runArgs(app, {"true|" + path + "|E0009"}, &proc);
        QVERIFY(proc.waitForStarted());
        auto transcript = [&] {
            Run r;
            collect(app, r);
            return r.transcript;
        };
        QTRY_VERIFY_WITH_TIMEOUT(transcript().contains("waiting for another runner"), 20000);
        QVERIFY(!QFile::exists(local(app, "wait.txt")));
        ::close(fd); // as when the other runner ends or dies
        QVERIFY(proc.waitForFinished(60000));
        QCOMPARE(proc.exitCode(), 0);
        QCOMPARE(readFile(local(app, "wait.txt")), QByteArray("waited"));
    }
};

QTEST_GUILESS_MAIN(RunnerTest)
#include "tst_runner.moc"
