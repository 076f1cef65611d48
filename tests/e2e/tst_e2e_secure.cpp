#include "support/Files.h"
#include "support/HostWorld.h"
#include "support/SecureServers.h"

#include <QFile>
#include <QJsonDocument>
#include <QTest>

using namespace zul::test;

// An event moved to FTPS or SFTP by its open line alone: the real plug-in,
// ping library and runner, vsftpd and sshd on loopback, driven by qorvhost.
class SecureEndToEndTest : public QObject {
    Q_OBJECT
    HostWorld m_world;
    TestCertificates m_certs;
    VsftpdServer m_ftps;
    SshdServer m_sshd;
    QString m_tlsProblem, m_sshProblem;

    QString path(const QString& rel) const { return m_world.path(rel); }
    QByteArray read(const QString& rel) const { return m_world.read(rel); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.make({"ftp", "sftp", "out", "in"}));
        QString why;
        if (!TestAccount::ensure(&why))
            QSKIP(qPrintable(why));
        QVERIFY(TestAccount::own(path("ftp")) && TestAccount::own(path("sftp")));
        QVERIFY2(m_certs.make(path("tls"), "IP:127.0.0.1", &why), qPrintable(why));
        if (!m_ftps.start(path("tls"), path("ftp"), m_certs, false))
            m_tlsProblem = m_ftps.why();
        if (!m_sshd.start(path("ssh"), path("sftp")))
            m_sshProblem = m_sshd.why();
        QVERIFY(writeBytes(path("known_hosts"), m_sshd.knownHostsLine().toLatin1() + "\n"));
        // The partner's trust lives in the application folder's settings, per partner.
        QVERIFY(writeBytes(path("app/VelundZUL.conf"), "# partners\r\nKNOWN_HOSTS = " + path("known_hosts").toLatin1() +
                                                           "\r\n[127.0.0.1]\r\nCA_FILE = " +
                                                           m_certs.caPem.toLatin1() + "\r\n"));
    }

    void scheduledRunDeliversFiles_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("event");
        QTest::newRow("explicit FTPS") << "ftpes" << "E0101";
        QTest::newRow("SFTP") << "sftp" << "E0102";
    }
    void scheduledRunDeliversFiles()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, event);
        const bool sftp = scheme == "sftp";
        if (!(sftp ? m_sshProblem : m_tlsProblem).isEmpty())
            QSKIP(qPrintable(sftp ? m_sshProblem : m_tlsProblem));
        const QString server = sftp ? "sftp" : "ftp";
        const int port = sftp ? m_sshd.port() : m_ftps.port();
        QVERIFY(writeBytes(path("out/send-" + scheme + ".txt"), "to the partner over " + scheme.toLatin1() + "\r\n"));
        QVERIFY(writeBytes(path(server + "/fetch.txt"), "from the partner\r\n"));
        QVERIFY(m_world.defineEvent(event,
                                    QString("open %1://127.0.0.1 %2\r\nuser %3 %4\r\nbinary\r\nput %5 send.txt\r\n"
                                            "get fetch.txt %6\r\nquit\r\n")
                                        .arg(scheme)
                                        .arg(port)
                                        .arg(TestAccount::name(), QString::fromLatin1(TestAccount::password()),
                                             path("out/send-" + scheme + ".txt"), path("in/fetch-" + scheme + ".txt"))
                                        .toLatin1(),
                                    {"--entity", "E2E", "--flag2", "1", "--flag4", "1"}));
        QCOMPARE(m_world.qorvhost({"run", event}), 0);

        QTRY_VERIFY_WITH_TIMEOUT(!m_world.runOf(event).isEmpty(), 60000);
        const QJsonObject run = m_world.runOf(event);
        QVERIFY2(run.value("exit").toInt(-1) == 0, QJsonDocument(run).toJson().constData());
        QCOMPARE(read(server + "/send.txt"), "to the partner over " + scheme.toLatin1() + "\r\n");
        QCOMPARE(read("in/fetch-" + scheme + ".txt"), QByteArray("from the partner\r\n"));
        QVERIFY(!QFile::exists(path("app/Junction/" + event + "01.txt")));
        QVERIFY(!read("app/Rcvdchkr.txt").contains(event.toLatin1() + "01 ")); // delivered: its record went with it
        // The ping library understood the scheme: the partner answered.
        QByteArray log;
        QCOMPARE(m_world.qorvhost({"log"}, &log), 0);
        QVERIFY2(log.contains(event.toLatin1() + " [4124,4125]"), log.constData());
        QFile t(run.value("transcript").toString());
        QVERIFY(t.open(QIODevice::ReadOnly));
        QVERIFY(!t.readAll().contains(TestAccount::password()));
        QVERIFY(!read("data/messages.jsonl").contains(TestAccount::password()));
    }
};

QTEST_GUILESS_MAIN(SecureEndToEndTest)
#include "tst_e2e_secure.moc"
