#include "support/Files.h"
#include "support/FtpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace zul::test;

// From the host's command line to a delivered file: the real plug-in, the
// real ping library, the real runner and a loopback FTP server.
class EndToEndTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    FtpServer m_server;

    QString path(const QString& rel) const { return m_dir.filePath(rel); }
    QByteArray read(const QString& rel) const { return readBytes(path(rel)); }
    void write(const QString& rel, const QByteArray& bytes) { QVERIFY(writeBytes(path(rel), bytes)); }
    int qorvhost(const QStringList& args, QByteArray* out = nullptr)
    {
        QProcess p;
        p.start(qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost",
                QStringList{"--data", path("data"), "--plugin", path("app/libzul.so")} + args);
        p.waitForFinished(60000);
        if (out)
            *out = p.readAllStandardOutput();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QDir d(m_dir.path());
        for (const char* sub : {"app/ZUL", "app/Junction", "app/Log", "server", "out", "in"})
            QVERIFY(d.mkpath(sub));
        for (const char* file : {"libzul.so", "VelundZUL", "libping32.so"})
            QVERIFY(installBuilt(file, path("app")));
        QVERIFY2(m_server.start(path("server"), "ops", "Secr3t-pw"), qPrintable(m_server.why()));
    }

    void scheduledRunDeliversFiles()
    {
        write("out/send.txt", "to the partner\r\n");
        write("server/fetch.txt", "from the partner\r\n");
        write("event.zul", QString("open 127.0.0.1 %1\r\nuser ops Secr3t-pw\r\nbinary\r\nput %2 send.txt\r\n"
                                   "get fetch.txt %3\r\nquit\r\n")
                               .arg(QString::number(m_server.port()), path("out/send.txt"), path("in/fetch.txt"))
                               .toLatin1());
        QCOMPARE(qorvhost({"event", "put", "E0001", "--entity", "E2E", "--flag2", "1", "--flag4", "1"}), 0);
        QCOMPARE(qorvhost({"script", "import", "E0001", path("event.zul")}), 0);
        QByteArray out;
        QCOMPARE(qorvhost({"run", "E0001"}, &out), 0);

        // The runner is not waited for by the host; its run log line says it is done.
        QTRY_VERIFY_WITH_TIMEOUT(read("app/Log/runs.jsonl") != "<missing>", 60000);
        const QJsonObject run = QJsonDocument::fromJson(read("app/Log/runs.jsonl").split('\n').first()).object();
        QCOMPARE(run.value("event").toString(), QString("E0001"));
        QCOMPARE(run.value("exit").toInt(-1), 0);

        QCOMPARE(read("server/send.txt"), QByteArray("to the partner\r\n"));
        QCOMPARE(read("in/fetch.txt"), QByteArray("from the partner\r\n"));
        QVERIFY(!QFile::exists(path("app/Junction/E000101.txt"))); // delivered, not left behind
        const QByteArray reg = read("app/Rcvdchkr.txt");
        QVERIFY2(reg.startsWith("E000101 ") && reg.contains(" RZ    RC &" + path("in/fetch.txt").toLatin1() + "&\r\n"),
                 reg.constData());

        // The password is in the script and nowhere else.
        const QString transcript = run.value("transcript").toString();
        QVERIFY(QFile::exists(transcript));
        QFile t(transcript);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QVERIFY(!t.readAll().contains("Secr3t-pw"));
        QVERIFY(!read("app/Log/runs.jsonl").contains("Secr3t-pw"));
        QVERIFY(!read("data/messages.jsonl").contains("Secr3t-pw"));
        QByteArray log;
        QCOMPARE(qorvhost({"log"}, &log), 0);
        QVERIFY2(log.contains("E0001 [4124,4125]"), log.constData());
    }

    void silentPartnerStartsNothing()
    {
        write("event2.zul", "open no-such-host.invalid\r\nuser ops x\r\nquit\r\n");
        QCOMPARE(qorvhost({"event", "put", "E0002"}), 0);
        QCOMPARE(qorvhost({"script", "import", "E0002", path("event2.zul")}), 0);
        QCOMPARE(qorvhost({"run", "E0002"}), 1);
        QByteArray log;
        qorvhost({"log"}, &log);
        QVERIFY2(log.contains("E0002 [4107,4121,4122]"), log.constData());
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
