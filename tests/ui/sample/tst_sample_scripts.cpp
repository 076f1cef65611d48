#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace zul::test;

// Every sample runs through the real runner against a loopback server: none teaches a command that does not work.

using Files = QMap<QString, QByteArray>; // path: content

class SampleScriptsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root; // the partner's files
    QTemporaryDir m_logs;
    FtpServer m_server;

    QString siteLog() const { return m_logs.filePath("site.log"); }

private slots:
    void initTestCase()
    {
        qputenv("ZUL_SITE_LOG", siteLog().toLocal8Bit());
        if (!m_server.start(m_root.path(), "zul", "Sample-pw1", {}, ZUL_SOURCE_DIR "/tests/ui/sample/partnerserver.py"))
            QSKIP(qPrintable(m_server.why()));
    }

    void sampleRuns_data()
    {
        const auto row = columns<QString, Files, Files, Files, Files, QByteArray>();
        const QByteArray prices = "A100 12.50\r\nB200  7.25\r\n";
        const QByteArray pricesOnServer = "A100 12.50\nB200  7.25\n"; // text sent in ASCII mode
        const QByteArray archive = someBytes(70000, 11);
        row("Windows", "Winsmpl.smp", Files{{"outbound/sales.zip", archive}, {"inbound/", QByteArray()}},
            Files{{"out/prices.txt", prices}}, Files{{"inbound/prices.txt", pricesOnServer}},
            Files{{"in/sales.zip", archive}}, QByteArray());
        row("AS/400", "ASsmpl.smp",
            Files{{"QSYS.LIB/SALES.LIB/ORDERS.FILE/ORDERS.MBR", "0001 WIDGET\n0002 GADGET\n"},
                  {"QSYS.LIB/SALES.LIB/PRICES.FILE/", QByteArray()}},
            Files{{"out/prices.txt", prices}}, Files{{"QSYS.LIB/SALES.LIB/PRICES.FILE/PRICES.MBR", pricesOnServer}},
            Files{{"in/orders.txt", "0001 WIDGET\r\n0002 GADGET\r\n"}}, QByteArray("SITE namefmt 1\n"));
        row("Unix", "Unixsmpl.smp",
            Files{{"home/ftpuser/outgoing/backup.tar.gz", archive}, {"home/ftpuser/incoming/", QByteArray()}},
            Files{{"out/report.txt", "total 42\r\n"}}, Files{{"home/ftpuser/incoming/report.txt", "total 42\n"}},
            Files{{"in/backup.tar.gz", archive}}, QByteArray());
        row("Mainframe", "mainsmpl.smp",
            Files{{"'ZULUSER.DAILY.REPORT'", "REPORT LINE 1\nREPORT LINE 2\n"}, {"'ZULUSER.BACKUP.XMIT'", archive}},
            Files{{"out/orders.txt", prices}}, Files{{"'ZULUSER.ORDERS.DATA'", pricesOnServer}},
            Files{{"in/report.txt", "REPORT LINE 1\r\nREPORT LINE 2\r\n"}, {"in/backup.xmit", archive}},
            QByteArray("SITE recfm=fb lrecl=80 blksize=27920 tracks primary=5 secondary=5\n"));
    }
    void sampleRuns()
    {
        const auto [sample, remoteBefore, localBefore, remoteAfter, localAfter, site] =
            fetch<QString, Files, Files, Files, Files, QByteArray>();

        const QByteArray text = readBytes(ZUL_SOURCE_DIR "/samples/" + sample);
        QVERIFY2(text.endsWith("\r\n") && !text.contains("\r\n\r\n") &&
                     !QByteArray(text).replace("\r\n", "").contains('\n'),
                 "every line ends with CR LF");

        TempAppFolder app;
        const QString local = QString::fromStdString(app.file("local"));
        QDir().mkpath(local + "/in");

        // The partner's address, the account and the local folders of this machine.
        QString script = QString::fromLatin1(text);
        const QRegularExpression open(QStringLiteral("^open 192\\.0\\.2\\.\\d+\\r$"),
                                      QRegularExpression::MultilineOption);
        const QRegularExpression user(QStringLiteral("^user \\S+ password\\r$"), QRegularExpression::MultilineOption);
        QCOMPARE(script.count(open), 1); // a documentation address, never a real host
        QCOMPARE(script.count(user), 1);
        QVERIFY(script.contains("/srv/zul/"));
        script.replace(open, QStringLiteral("open 127.0.0.1 %1\r").arg(m_server.port()));
        script.replace(user, QStringLiteral("user zul Sample-pw1\r"));
        script.replace(QStringLiteral("/srv/zul/"), local + "/");

        for (auto it = remoteBefore.begin(); it != remoteBefore.end(); ++it)
            QVERIFY(it.key().endsWith('/') ? QDir().mkpath(m_root.filePath(it.key()))
                                           : writeBytes(m_root.filePath(it.key()), it.value()));
        for (auto it = localBefore.begin(); it != localBefore.end(); ++it)
            QVERIFY(writeBytes(local + "/" + it.key(), it.value()));
        for (auto it = remoteAfter.begin(); it != remoteAfter.end(); ++it)
            QFile::remove(m_root.filePath(it.key()));
        QFile::remove(siteLog());

        const QString path = QString::fromStdString(app.file("ZUL/sample.zul"));
        QVERIFY(writeBytes(path, script.toLatin1()) && installBuilt("VelundZUL", QString::fromStdString(app.path())));
        const RunnerRun r = runRunner(QString::fromStdString(app.path()), {"true|" + path + "|E0001"});
        QVERIFY2(r.exit == 0, (r.output + "\n" + r.transcript).constData());

        for (auto it = remoteAfter.begin(); it != remoteAfter.end(); ++it)
            QCOMPARE(readBytes(m_root.filePath(it.key())), it.value());
        for (auto it = localAfter.begin(); it != localAfter.end(); ++it)
            QCOMPARE(readBytes(local + "/" + it.key()), it.value());
        QCOMPARE(QFile::exists(siteLog()) ? readBytes(siteLog()) : QByteArray(), site);
    }
};

QTEST_GUILESS_MAIN(SampleScriptsTest)
#include "tst_sample_scripts.moc"
