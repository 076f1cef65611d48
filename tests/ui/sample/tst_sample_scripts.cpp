#include "support/TempAppFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using zul::test::TempAppFolder;

// Runs every sample script, with the loopback server's address, account and
// folders filled in, through the real runner, so that no sample teaches a
// command that does not work.

namespace {

using Files = QMap<QString, QByteArray>; // path: content

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray someBytes(int n, quint32 seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = char(seed >> 16);
    }
    return b;
}

const QByteArray kUser = "zul";
const QByteArray kPassword = "Sample-pw1";

} // namespace

class SampleScriptsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root; // the partner's files
    QTemporaryDir m_logs;
    QProcess m_server;
    int m_port = 0;

    QString siteLog() const { return m_logs.filePath("site.log"); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid() && m_logs.isValid());
        if (!QFile::exists(qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/VelundZUL"))
            QSKIP("the runner is not built");
        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("no /usr/bin/python3");
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("ZUL_SITE_LOG", siteLog());
        m_server.setProcessEnvironment(env);
        m_server.setProgram("/usr/bin/python3");
        m_server.setArguments({ZUL_SOURCE_DIR "/tests/ui/sample/partnerserver.py", "--root", m_root.path(), "--user",
                               QString::fromLatin1(kUser), "--password", QString::fromLatin1(kPassword)});
        m_server.start();
        QVERIFY(m_server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine() || m_server.state() != QProcess::Running, 15000);
        if (m_server.state() != QProcess::Running)
            QSKIP(qPrintable("the FTP server did not start: " + m_server.readAllStandardError()));
        m_port = m_server.readLine().trimmed().toInt();
        QVERIFY(m_port > 0);
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

    void sampleRuns_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<Files>("remoteBefore");
        QTest::addColumn<Files>("localBefore");
        QTest::addColumn<Files>("remoteAfter");
        QTest::addColumn<Files>("localAfter");
        QTest::addColumn<QByteArray>("site");

        const QByteArray prices = "A100 12.50\r\nB200  7.25\r\n";
        const QByteArray pricesOnServer = "A100 12.50\nB200  7.25\n"; // text sent in ASCII mode
        const QByteArray archive = someBytes(70000, 11);
        QTest::newRow("Windows") << "Winsmpl.smp" << Files{{"outbound/sales.zip", archive}, {"inbound/", {}}}
                                 << Files{{"out/prices.txt", prices}} << Files{{"inbound/prices.txt", pricesOnServer}}
                                 << Files{{"in/sales.zip", archive}} << QByteArray();
        QTest::newRow("AS/400") << "ASsmpl.smp"
                                << Files{{"QSYS.LIB/SALES.LIB/ORDERS.FILE/ORDERS.MBR", "0001 WIDGET\n0002 GADGET\n"},
                                         {"QSYS.LIB/SALES.LIB/PRICES.FILE/", {}}}
                                << Files{{"out/prices.txt", prices}}
                                << Files{{"QSYS.LIB/SALES.LIB/PRICES.FILE/PRICES.MBR", pricesOnServer}}
                                << Files{{"in/orders.txt", "0001 WIDGET\r\n0002 GADGET\r\n"}}
                                << QByteArray("SITE namefmt 1\n");
        QTest::newRow("Unix") << "Unixsmpl.smp"
                              << Files{{"home/ftpuser/outgoing/backup.tar.gz", archive}, {"home/ftpuser/incoming/", {}}}
                              << Files{{"out/report.txt", "total 42\r\n"}}
                              << Files{{"home/ftpuser/incoming/report.txt", "total 42\n"}}
                              << Files{{"in/backup.tar.gz", archive}} << QByteArray();
        QTest::newRow("Mainframe") << "mainsmpl.smp"
                                   << Files{{"'ZULUSER.DAILY.REPORT'", "REPORT LINE 1\nREPORT LINE 2\n"},
                                            {"'ZULUSER.BACKUP.XMIT'", archive}}
                                   << Files{{"out/orders.txt", prices}}
                                   << Files{{"'ZULUSER.ORDERS.DATA'", pricesOnServer}}
                                   << Files{{"in/report.txt", "REPORT LINE 1\r\nREPORT LINE 2\r\n"},
                                            {"in/backup.xmit", archive}}
                                   << QByteArray("SITE recfm=fb lrecl=80 blksize=27920 tracks primary=5 secondary=5\n");
    }
    void sampleRuns()
    {
        QFETCH(QString, sample);
        QFETCH(Files, remoteBefore);
        QFETCH(Files, localBefore);
        QFETCH(Files, remoteAfter);
        QFETCH(Files, localAfter);
        QFETCH(QByteArray, site);

        const QByteArray text = readFile(ZUL_SOURCE_DIR "/samples/" + sample);
        QVERIFY(text.endsWith("\r\n"));
        QVERIFY2(!text.contains("\r\n\r\n") && !QByteArray(text).replace("\r\n", "").contains('\n'),
                 "every line ends with CR LF");

        TempAppFolder app;
        const QString local = QString::fromStdString(app.file("local"));
        QDir().mkpath(local + "/in");
        const QString runner = QString::fromStdString(app.file("VelundZUL"));
        const QString built = qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/VelundZUL";
        QVERIFY(QFile::copy(built, runner));
        QFile::setPermissions(runner, QFile::permissions(built));

        // The partner's address, the account and the local folders of this machine.
        QString script = QString::fromLatin1(text);
        const QRegularExpression open(QStringLiteral("^open 192\\.0\\.2\\.\\d+\\r$"),
                                      QRegularExpression::MultilineOption);
        const QRegularExpression user(QStringLiteral("^user \\S+ password\\r$"), QRegularExpression::MultilineOption);
        QCOMPARE(script.count(open), 1); // a documentation address, never a real host
        QCOMPARE(script.count(user), 1);
        QVERIFY(script.contains("/srv/zul/"));
        script.replace(open, QStringLiteral("open 127.0.0.1 %1\r").arg(m_port));
        script.replace(user,
                       QStringLiteral("user %1 %2\r").arg(QString::fromLatin1(kUser), QString::fromLatin1(kPassword)));
        script.replace(QStringLiteral("/srv/zul/"), local + "/");

        for (auto it = remoteBefore.begin(); it != remoteBefore.end(); ++it)
            QVERIFY(it.key().endsWith('/') ? QDir().mkpath(m_root.filePath(it.key()))
                                           : writeFile(m_root.filePath(it.key()), it.value()));
        for (auto it = localBefore.begin(); it != localBefore.end(); ++it)
            QVERIFY(writeFile(local + "/" + it.key(), it.value()));
        for (auto it = remoteAfter.begin(); it != remoteAfter.end(); ++it)
            QFile::remove(m_root.filePath(it.key()));
        QFile::remove(siteLog());

        const QString path = QString::fromStdString(app.file("ZUL/sample.zul"));
        QVERIFY(writeFile(path, script.toLatin1()));
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("ZUL_RUNNER_RETRIES", "1");
        env.insert("ZUL_RUNNER_BACKOFF_MS", "50");
        env.insert("ZUL_RUNNER_CONNECT_TIMEOUT", "10");
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(local);
        p.start(runner, {"true|" + path + "|E0001"});
        QVERIFY(p.waitForFinished(120000));

        QByteArray transcript;
        const QDir log(QString::fromStdString(app.file("Log")));
        for (const auto& f : log.entryList({"*.log"}, QDir::Files))
            transcript += readFile(log.filePath(f));
        QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
                 (p.readAll() + "\n" + transcript).constData());

        for (auto it = remoteAfter.begin(); it != remoteAfter.end(); ++it)
            QCOMPARE(readFile(m_root.filePath(it.key())), it.value());
        for (auto it = localAfter.begin(); it != localAfter.end(); ++it)
            QCOMPARE(readFile(local + "/" + it.key()), it.value());
        QCOMPARE(QFile::exists(siteLog()) ? readFile(siteLog()) : QByteArray(), site);
    }
};

QTEST_GUILESS_MAIN(SampleScriptsTest)
#include "tst_sample_scripts.moc"
