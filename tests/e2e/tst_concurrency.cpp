#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/HostWorld.h"
#include "support/Rows.h"
#include "support/SecureServers.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace zul::test;

// Command line to delivered file, runs that overlap or die: the real plug-in, ping and runner over FTP, FTPS, SFTP.
class ConcurrencyTest : public QObject {
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
    int qorvhost(const QStringList& args, QByteArray* out = nullptr) { return m_world.qorvhost(args, out); }
    QList<QJsonObject> runs() const { return m_world.runs(); }
    void defineEvent(const QString& id, int port, const QString& remote, const QString& target)
    {
        QVERIFY(m_world.defineEvent(id, QString("open 127.0.0.1 %1\r\nuser ops Secr3t-pw\r\nbinary\r\nget %2 %3\r\n"
                                                "quit\r\n")
                                            .arg(QString::number(port), remote, target)
                                            .toLatin1()));
    }
    QStringList partFiles() const
    {
        QStringList out;
        QDirIterator it(path(""), {"*.part-*", ".zulpart-*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        return out;
    }
    // An event that downloads size bytes from the throttled server: long enough to watch and stop.
    void slowEvent(FtpServer& slow, const QString& id, const QString& file, int size)
    {
        qputenv("ZUL_SLOW_BYTES_PER_SECOND", "65536");
        QVERIFY2(slow.start(path("server"), "ops", "Secr3t-pw", {},
                            QStringLiteral(ZUL_SOURCE_DIR "/tests/e2e/slowserver.py")),
                 qPrintable(slow.why()));
        QVERIFY(writeBytes(path("server/" + file), someBytes(size, quint32(size))));
        QFile::remove(path("in/" + file));
        defineEvent(id, slow.port(), file, path("in/" + file));
    }
    // The outcome of a run says what, or the test shows the outcome it has.
    static bool says(const QJsonObject& run, const QString& what)
    {
        const QString outcome = run.value("outcome").toString();
        if (!outcome.contains(what))
            qWarning("outcome: %s", qPrintable(outcome));
        return outcome.contains(what);
    }
    // The runner of an event, as its own lock file names it.
    qint64 runnerOf(const QString& id) const
    {
        for (const QString& name : QDir(path("app/Lock")).entryList({"run-*.lock"}, QDir::Files)) {
            const QByteArray text = read("app/Lock/" + name); // "pid N" first
            if (text.startsWith("pid ") && text.contains("\nevent " + id.toLatin1() + "\n"))
                return text.mid(4, text.indexOf('\n') - 4).toLongLong();
        }
        return 0;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.make({"server", "out", "in", "ftp", "sftp"}));
        QVERIFY2(m_server.start(path("server"), "ops", "Secr3t-pw"), qPrintable(m_server.why()));
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

    // An unwritable register (a file size limit for a full disk): the outcome and the host's log say why.
    void checkFailureIsExplained()
    {
        QByteArray reg;
        const QByteArray now = QDateTime::currentDateTime().toString("yyyyMMddHHmmss").toLatin1();
        for (int i = 0; i < 300; ++i)
            reg += "Z" + QByteArray::number(100000 + i) + " " + now + "          &/z&\r\n";
        QVERIFY(writeBytes(path("app/Rcvdchkr.txt"), reg) && writeBytes(path("server/f.txt"), "f"));
        defineEvent("F0001", m_server.port(), "f.txt", path("in/f.txt"));
        QProcess p;
        p.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 6000;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        p.start(m_world.hostProgram(), m_world.hostArgs({"run", "F0001"}));
        QVERIFY(p.waitForFinished(60000));
        const QString why = "cannot write the receipt register: File too large";
        // Not a run handed over: the command says so and fails.
        const QString said = QString::fromLocal8Bit(p.readAllStandardOutput());
        QVERIFY2(p.exitCode() == 1 && said.contains("event F0001: the runner was started without a script") &&
                     said.contains("the transfer check before the run failed: " + why) &&
                     !said.contains("handed to the FTP runner"),
                 qPrintable(said));
        QTRY_COMPARE_WITH_TIMEOUT(runs().size(), 1, 60000);
        QVERIFY(says(runs().first(), "no script: the transfer check before the run failed: " + why) &&
                read("app/Rcvdchkr.txt") == reg);
        QByteArray log;
        QVERIFY2(m_world.qorvhost({"log"}, &log) == 0 &&
                     log.contains("note: event F0001: the runner was started without a script") &&
                     log.contains(why.toLocal8Bit()),
                 log.constData());
    }

    // Two hosts at once: each runner its own script and file, the register every record, removed on delivery.
    void twoEventsAtOnce()
    {
        constexpr int Pairs = 20;
        const int before = runs().size();
        QStringList ids;
        for (int i = 1; i <= Pairs; ++i)
            for (const char* side : {"A", "B"}) {
                const QString id = QString("%1%2").arg(side).arg(i, 4, 10, QChar('0'));
                ids << id;
                QVERIFY(writeBytes(path("server/" + id + ".txt"), "content of " + id.toLatin1() + "\r\n"));
                defineEvent(id, m_server.port(), id + ".txt", path("in/" + id + ".txt"));
            }
        for (int i = 0; i < Pairs; ++i) {
            QProcess a, b;
            a.start(m_world.hostProgram(), m_world.hostArgs({"run", ids[2 * i]}));
            b.start(m_world.hostProgram(), m_world.hostArgs({"run", ids[2 * i + 1]}));
            QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000) && a.exitCode() == 0 && b.exitCode() == 0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(runs().size(), before + 2 * Pairs, 120000);

        const QByteArray reg = read("app/Rcvdchkr.txt");
        QSet<QString> recorded;
        for (const QJsonObject& run : runs().mid(before)) {
            QVERIFY2(run.value("exit").toInt(-1) == 0, read("app/Log/runs.jsonl").constData());
            const QByteArray transcript = readBytes(run.value("transcript").toString());
            QVERIFY2(!transcript.contains("no receipt record") &&
                         transcript.contains("the receipt record of the delivered file was removed"),
                     transcript.constData());
            recorded << run.value("event").toString();
        }
        QCOMPARE(recorded.size(), 2 * Pairs);
        for (const QString& id : ids) {
            QVERIFY2(recorded.contains(id) && read("in/" + id + ".txt") == "content of " + id.toLatin1() + "\r\n" &&
                         !reg.contains(id.toLatin1() + "01 ") && !QFile::exists(path("app/Junction/" + id + "01.txt")),
                     qPrintable(id));
        }
    }

    // The hand-over lock held past every wait: nothing shared is written, the failure names the cause.
    void lockHeldPastTheWait()
    {
        QVERIFY(writeBytes(path("server/w.txt"), "w"));
        defineEvent("W0001", m_server.port(), "w.txt", path("in/w.txt"));
        const QByteArray reg = read("app/Rcvdchkr.txt"), copy = read("app/ZUL/tZULexe.zul");
        QVERIFY(QDir().mkpath(path("app/Lock")));
        QProcess holder;
        holder.start("flock", {path("app/Lock/handover.lock"), "-c", "echo held; read x"});
        QVERIFY(holder.waitForReadyRead(10000));
        const int before = runs().size();
        qputenv("ZUL_HANDOVER_WAIT", "1");
        QByteArray said;
        QCOMPARE(m_world.qorvhost({"run", "W0001"}, &said), 1);
        qunsetenv("ZUL_HANDOVER_WAIT");
        QVERIFY2(said.contains("no turn to hand over the script within 1 s"), said.constData());
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));

        QTRY_COMPARE_WITH_TIMEOUT(runs().size(), before + 1, 60000);
        const QJsonObject run = runs().last();
        QVERIFY(run.value("event") == "W0001" && run.value("exit").toInt(-1) == 1 &&
                says(run, "no turn to hand over the script within 1 s"));
        QVERIFY(read("app/Rcvdchkr.txt") == reg && read("app/ZUL/tZULexe.zul") == copy &&
                !QFile::exists(path("in/w.txt")));
    }

    // Runners that start after later runs replaced the runner copy still run their own scripts.
    void lateRunnersRunTheirOwnScripts()
    {
        QVERIFY(QFile::rename(path("app/VelundZUL"), path("app/VelundZUL.real")));
        const auto restore = qScopeGuard([&] {
            QFile::remove(path("app/VelundZUL"));
            QFile::rename(path("app/VelundZUL.real"), path("app/VelundZUL"));
            QFile::remove(path("app/go"));
        });
        QVERIFY(writeBytes(path("app/VelundZUL"), "#!/bin/sh\nd=$(dirname \"$0\")\n"
                                                  "while [ ! -e \"$d/go\" ]; do sleep 0.05; done\n"
                                                  "exec \"$d/VelundZUL.real\" \"$@\"\n") &&
                QFile::setPermissions(path("app/VelundZUL"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QStringList ids{"L0001", "L0002", "L0003"};
        for (const QString& id : ids) {
            QVERIFY(writeBytes(path("server/" + id + ".txt"), "late " + id.toLatin1()));
            defineEvent(id, m_server.port(), id + ".txt", path("in/" + id + ".txt"));
        }
        const int before = runs().size();
        qputenv("ZUL_HANDOVER_WAIT", "1");
        for (const QString& id : ids)
            QCOMPARE(qorvhost({"run", id}), 0);
        qunsetenv("ZUL_HANDOVER_WAIT");
        QVERIFY(read("app/ZUL/tZULexe.zul").contains("L0003.txt") && writeBytes(path("app/go"), ""));

        QTRY_COMPARE_WITH_TIMEOUT(runs().size(), before + ids.size(), 60000);
        for (const QJsonObject& run : runs().mid(before))
            QVERIFY2(run.value("exit") == 0 && read("in/" + run.value("event").toString() + ".txt") ==
                                                   "late " + run.value("event").toString().toLatin1(),
                     qPrintable(run.value("outcome").toString()));
    }

    // A runner killed mid-download, or by a cancel after a stop, leaves no record; the next run tidies and records it.
    void killedRunnerIsCleanedUp_data()
    {
        const auto row = columns<QString, bool>();
        row("the same event again", "K0001", false);
        row("another event", "K0002", false);
        row("stopped, the cancel kills it", "K0001", true);
    }
    void killedRunnerIsCleanedUp()
    {
        const auto [next, cancelled] = fetch<QString, bool>();
        FtpServer slow;
        slowEvent(slow, "K0001", "big.bin", 4 << 20);
        QVERIFY(writeBytes(path("server/small.bin"), "small"));
        defineEvent("K0002", m_server.port(), "small.bin", path("in/small.bin"));
        const int before = runs().size();

        QCOMPARE(qorvhost({"run", "K0001"}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!partFiles().isEmpty(), 30000);
        const qint64 pid = runnerOf("K0001");
        QVERIFY(pid > 0 && ::kill(pid_t(pid), cancelled ? SIGSTOP : SIGKILL) == 0);
        if (cancelled) {
            qputenv("ZUL_CANCEL_GRACE_MS", "300");
            QByteArray out;
            const int code = qorvhost({"cancel", "K0001"}, &out);
            qunsetenv("ZUL_CANCEL_GRACE_MS");
            QVERIFY2(code == 0 && out.contains("did not end within") && out.contains("was killed"), out.constData());
        }
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 10000);
        QVERIFY(!partFiles().isEmpty() && runs().size() == before);

        if (next == "K0001")
            defineEvent("K0001", m_server.port(), "small.bin", path("in/big.bin"));
        QCOMPARE(qorvhost({"run", next}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(runs().size(), before + 2, 60000);
        QCOMPARE(partFiles(), QStringList());

        const QJsonObject killed = runs().at(before), then = runs().at(before + 1);
        QVERIFY(killed.value("event") == "K0001" && says(killed, "ended without finishing") &&
                killed.value("exit").toInt(0) != 0 && QFile::exists(killed.value("transcript").toString()));
        QVERIFY(then.value("event") == next && then.value("exit").toInt(-1) == 0);
        QVERIFY(read(next == "K0001" ? "in/big.bin" : "in/small.bin") == "small" &&
                QDir(path("app/Lock")).entryList({"run-*", ".run-*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // A running download shows its bytes moving; cancel records it and leaves nothing; idle, cancel changes nothing.
    void runningRunIsShownAndCancelled()
    {
        FtpServer slow;
        slowEvent(slow, "C0001", "payroll.dat", 8 << 20);
        const int before = runs().size();

        QByteArray out;
        QVERIFY2(qorvhost({"cancel", "C0001"}, &out) == 1 && out.contains("has no running run; nothing changed"),
                 out.constData());

        QCOMPARE(qorvhost({"run", "C0001"}), 0);
        auto running = [&] {
            QByteArray json;
            m_world.qorvhost({"history", "C0001", "--json"}, &json);
            const QJsonObject first = QJsonDocument::fromJson(json.split('\n').first()).object();
            return first.value("result").toString() == "running" ? first : QJsonObject();
        };
        QTRY_VERIFY_WITH_TIMEOUT(running().value("bytes_done").toInteger() > 0, 30000);
        const QJsonObject early = running();
        QVERIFY2(early.value("command") == "get" && early.value("file") == "payroll.dat" && early.value("line") == 4 &&
                     early.value("bytes_expected") == 8 << 20,
                 QJsonDocument(early).toJson().constData());
        QTRY_VERIFY_WITH_TIMEOUT(running().value("bytes_done").toInteger() > early.value("bytes_done").toInteger(),
                                 30000);
        QVERIFY(running().value("rate").toInteger() > 0 && !running().value("seconds_left").isNull());

        QCOMPARE(qorvhost({"history", "C0001"}, &out), 0);
        const QByteArray first = out.split('\n').first();
        QVERIFY2(first.contains("\tC0001\trunning: line 4, get payroll.dat, ") && first.contains(" of 8.4 MB, ") &&
                     first.contains(" left"),
                 first.constData());
        QVERIFY(!partFiles().isEmpty());

        QVERIFY2(qorvhost({"cancel", "C0001"}, &out) == 0 && out.contains("cancelled the run of process"),
                 out.constData());
        QTRY_COMPARE_WITH_TIMEOUT(runs().size(), before + 1, 30000);
        QVERIFY(runs().last().value("exit") == 13 && says(runs().last(), "cancelled: line 4"));
        QCOMPARE(partFiles(), QStringList());
        QVERIFY(!QFile::exists(path("in/payroll.dat")) &&
                QDir(path("app/Lock")).entryList({"run-*"}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY2(qorvhost({"history", "C0001"}, &out) == 0 && out.split('\n').first().contains("\tcancelled: line 4"),
                 out.constData());
    }

    void scheduledRunDeliversFiles_data()
    {
        const auto row = columns<QString, QString>(); // scheme "": plain FTP
        row("FTP", "", "E0001");
        row("explicit FTPS", "ftpes", "E0101");
        row("SFTP", "sftp", "E0102");
    }
    void scheduledRunDeliversFiles()
    {
        const auto [scheme, event] = fetch<QString, QString>();
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
        QVERIFY(read(server + "/send.txt") == "to the partner\r\n" &&
                read("in/fetch-" + event + ".txt") == "from the partner\r\n");
        // Delivered, not left behind; the record was there for the delivery, and went with it.
        QVERIFY(!QFile::exists(path("app/Junction/" + event + "01.txt")));
        QVERIFY2(!read("app/Rcvdchkr.txt").contains(event.toLatin1() + "01 "), read("app/Rcvdchkr.txt").constData());
        const QByteArray said = readBytes(run.value("transcript").toString());
        QVERIFY2(!said.contains("no receipt record") &&
                     said.contains("receipt record of the delivered file was removed"),
                 said.constData());
        // The password is in the script and nowhere else.
        QVERIFY(!said.contains(password) && !read("app/Log/runs.jsonl").contains(password) &&
                !read("data/messages.jsonl").contains(password));
        // The ping library understood the open line: the partner answered.
        QByteArray log;
        QVERIFY2(m_world.qorvhost({"log"}, &log) == 0 && log.contains(event.toLatin1() + " [4124,4125]"),
                 log.constData());
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
        QVERIFY(read("in/two.txt") == "two" && read("app/Rcvdchkr.txt").isEmpty());
    }

    // As a service manager starts it: the host ends with the runner, and with its status.
    void waitedRunEndsWithTheRunner_data()
    {
        const auto row = columns<QString, int>();
        row("success", "Secr3t-pw", 0);
        row("refused login", "wrong-pw", 3);
    }
    void waitedRunEndsWithTheRunner()
    {
        const auto [password, exitStatus] = fetch<QString, int>();
        const QString script =
            QString("open 127.0.0.1 %1\r\nuser ops %2\r\npwd\r\nquit\r\n").arg(m_server.port()).arg(password);
        QVERIFY(m_world.defineEvent("W0002", script.toLatin1()));
        const auto before = m_world.runs().size();
        QByteArray out;
        QVERIFY2(m_world.qorvhost({"run", "W0002", "--wait"}, &out) == exitStatus &&
                     out.contains("ended with exit status " + QByteArray::number(exitStatus)),
                 out.constData());
        // Its record is written before it ends.
        QVERIFY(m_world.runs().size() == before + 1 && m_world.runs().last().value("exit") == exitStatus);
    }
};

QTEST_GUILESS_MAIN(ConcurrencyTest)
#include "tst_concurrency.moc"
