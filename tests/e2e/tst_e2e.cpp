#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/HostWorld.h"
#include "support/SecureServers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace zul::test;

// Command line to delivered file, real plug-in, ping and runner; over FTP, FTPS (vsftpd) and SFTP (sshd).
class EndToEndTest : public QObject {
    Q_OBJECT
    HostWorld m_world;
    FtpServer m_server;
    TestCertificates m_certs;
    VsftpdServer m_ftps;
    SshdServer m_sshd;
    QString m_tlsProblem, m_sshProblem; // why those rows cannot run here

    QString path(const QString& rel) const { return m_world.path(rel); }
    QByteArray read(const QString& rel) const { return m_world.read(rel); }
    void write(const QString& rel, const QByteArray& bytes) { QVERIFY(writeBytes(path(rel), bytes)); }

    void startSecureServers()
    {
        QString why;
        if (!TestAccount::ensure(&why)) {
            m_tlsProblem = m_sshProblem = why;
            return;
        }
        QVERIFY(TestAccount::own(path("ftp")) && TestAccount::own(path("sftp")));
        QVERIFY2(m_certs.make(path("tls"), "IP:127.0.0.1", &why), qPrintable(why));
        if (!m_ftps.start(path("tls"), path("ftp"), m_certs))
            m_tlsProblem = m_ftps.why();
        if (!m_sshd.start(path("ssh"), path("sftp")))
            m_sshProblem = m_sshd.why();
        write("known_hosts", m_sshd.knownHostsLine().toLatin1() + "\n");
        // The partner's trust lives in the application folder's settings, per partner.
        write("app/VelundZUL.conf", "# partners\r\nKNOWN_HOSTS = " + path("known_hosts").toLatin1() +
                                        "\r\n[127.0.0.1]\r\nCA_FILE = " + m_certs.caPem.toLatin1() + "\r\n");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.make({"server", "out", "in", "ftp", "sftp"}));
        QVERIFY2(m_server.start(path("server"), "ops", "Secr3t-pw"), qPrintable(m_server.why()));
        startSecureServers();
    }

    void scheduledRunDeliversFiles_data()
    {
        QTest::addColumn<QString>("scheme"); // empty: plain FTP
        QTest::addColumn<QString>("event");
        QTest::newRow("FTP") << "" << "E0001";
        QTest::newRow("explicit FTPS") << "ftpes" << "E0101";
        QTest::newRow("SFTP") << "sftp" << "E0102";
    }
    void scheduledRunDeliversFiles()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, event);
        const bool sftp = scheme == "sftp", plain = scheme.isEmpty();
        if (!plain && !(sftp ? m_sshProblem : m_tlsProblem).isEmpty())
            QSKIP(qPrintable(sftp ? m_sshProblem : m_tlsProblem));
        const QString server = plain ? "server" : sftp ? "sftp" : "ftp";
        const int port = plain ? m_server.port() : sftp ? m_sshd.port() : m_ftps.port();
        const QByteArray password = plain ? QByteArray("Secr3t-pw") : TestAccount::password();
        const QString user = plain ? "ops" : TestAccount::name();
        write("out/send-" + event + ".txt", "to the partner\r\n");
        write(server + "/fetch.txt", "from the partner\r\n");
        const QString script = QString("open %1 %2\r\nuser %3 %4\r\nbinary\r\nput %5 send.txt\r\n"
                                       "get fetch.txt %6\r\nquit\r\n")
                                   .arg(plain ? "127.0.0.1" : scheme + "://127.0.0.1")
                                   .arg(port)
                                   .arg(user, QString::fromLatin1(password), path("out/send-" + event + ".txt"),
                                        path("in/fetch-" + event + ".txt"));
        QVERIFY(m_world.defineEvent(event, script.toLatin1(), {"--entity", "E2E", "--flag2", "1", "--flag4", "1"}));
        QCOMPARE(m_world.qorvhost({"run", event}), 0);

        // The runner is not waited for by the host; its run log line says it is done.
        QTRY_VERIFY_WITH_TIMEOUT(!m_world.runOf(event).isEmpty(), 60000);
        const QJsonObject run = m_world.runOf(event);
        QVERIFY2(run.value("exit").toInt(-1) == 0, QJsonDocument(run).toJson().constData());
        QCOMPARE(read(server + "/send.txt"), QByteArray("to the partner\r\n"));
        QCOMPARE(read("in/fetch-" + event + ".txt"), QByteArray("from the partner\r\n"));
        QVERIFY(!QFile::exists(path("app/Junction/" + event + "01.txt"))); // delivered, not left behind
        // The record was there for the delivery, and went with it.
        QVERIFY2(!read("app/Rcvdchkr.txt").contains(event.toLatin1() + "01 "), read("app/Rcvdchkr.txt").constData());

        // The password is in the script and nowhere else.
        const QByteArray said = readBytes(run.value("transcript").toString());
        QVERIFY(!said.contains(password));
        QVERIFY2(!said.contains("no receipt record") && said.contains("receipt record of the delivered file was removed"),
                 said.constData());
        QVERIFY(!read("app/Log/runs.jsonl").contains(password));
        QVERIFY(!read("data/messages.jsonl").contains(password));
        // The ping library understood the open line: the partner answered.
        QByteArray log;
        QCOMPARE(m_world.qorvhost({"log"}, &log), 0);
        QVERIFY2(log.contains(event.toLatin1() + " [4124,4125]"), log.constData());
    }

    // Stale records stop no run: the first runner prunes them, each removes those of its deliveries.
    void staleRegisterDoesNotStopTheSchedule()
    {
        QByteArray reg;
        for (int i = 0; i < 32766; ++i)
            reg += "S" + QByteArray::number(i).rightJustified(6, '0') + " 20200101000000          &/gone&\r\n";
        write("app/Rcvdchkr.txt", reg);
        write("server/one.txt", "one");
        write("server/two.txt", "two");
        const QString script = QString("open 127.0.0.1 %1\r\nuser ops Secr3t-pw\r\nget one.txt %2\r\n"
                                       "get two.txt %3\r\nquit\r\n")
                                   .arg(QString::number(m_server.port()), path("in/one.txt"), path("in/two.txt"));
        QVERIFY(m_world.defineEvent("E0003", script.toLatin1()));
        const int before = m_world.runs().size();
        for (int run = 1; run <= 2; ++run) {
            QCOMPARE(m_world.qorvhost({"run", "E0003"}), 0);
            QTRY_COMPARE_WITH_TIMEOUT(m_world.runs().size(), before + run, 60000);
            const QJsonObject last = m_world.runs().last();
            QVERIFY2(last.value("exit").toInt(-1) == 0, qPrintable(last.value("outcome").toString()));
        }
        QCOMPARE(read("in/two.txt"), QByteArray("two"));
        QCOMPARE(read("app/Rcvdchkr.txt"), QByteArray());
    }

    // As a service manager starts it: the host ends with the runner, and with its status.
    void waitedRunEndsWithTheRunner_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("exitStatus");
        QTest::newRow("success") << "Secr3t-pw" << 0;
        QTest::newRow("refused login") << "wrong-pw" << 3;
    }
    void waitedRunEndsWithTheRunner()
    {
        QFETCH(QString, password);
        QFETCH(int, exitStatus);
        const QString script =
            QString("open 127.0.0.1 %1\r\nuser ops %2\r\npwd\r\nquit\r\n").arg(m_server.port()).arg(password);
        QVERIFY(m_world.defineEvent("W0001", script.toLatin1()));
        const auto before = m_world.runs().size();
        QByteArray out;
        QCOMPARE(m_world.qorvhost({"run", "W0001", "--wait"}, &out), exitStatus);
        QVERIFY2(out.contains("ended with exit status " + QByteArray::number(exitStatus)), out.constData());
        QCOMPARE(m_world.runs().size(), before + 1); // its record is written before it ends
        QCOMPARE(m_world.runs().last().value("exit").toInt(-1), exitStatus);
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
