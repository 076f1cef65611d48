#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"
#include "support/SecureServers.h"
#include "support/TempAppFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utime.h>

using namespace zul::test;

// The runner over FTPS and SFTP: the partner's certificate or host key is checked before anything secret is sent.
class SecureTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TestCertificates m_certs;
    VsftpdServer m_explicit;
    SshdServer m_sshd;
    QString m_tlsProblem, m_sshProblem; // why the FTPS or the SFTP tests cannot run
    QByteArray m_otherKey; // "TYPE BASE64" of a key the server does not have

    QString path(const QString& rel) const { return m_dir.filePath(rel); }
    static QString folder(const TempAppFolder& app) { return QString::fromStdString(app.path()); }

    static RunnerRun run(const TempAppFolder& app, const QByteArray& conf, const QByteArray& script)
    {
        return runScript(folder(app), script, conf);
    }
    QByteArray tlsConf() const { return "CA_FILE = " + m_certs.caPem.toLatin1() + "\n"; }
    QByteArray sshConf(const QString& knownHosts) const
    {
        return "KNOWN_HOSTS = " + knownHosts.toLatin1() + "\nSSH_KEY = " + m_sshd.userKey().toLatin1() + "\n";
    }
    QByteArray trustedSsh() const { return sshConf(knownHosts(m_sshd.knownHostsLine().toLatin1() + "\n")); }
    // The bytes of OpenSSH's answer to the SFTP start, its length field and the packet.
    static int versionReplySize()
    {
        QProcess server;
        server.start("/usr/lib/openssh/sftp-server", {});
        server.write(QByteArray("\0\0\0\5\1\0\0\0\3", 9)); // SSH_FXP_INIT, version 3
        QByteArray reply;
        while (reply.size() < 4 && server.waitForReadyRead(10000))
            reply += server.readAll();
        server.closeWriteChannel();
        server.waitForFinished(10000);
        return reply.size() < 4 ? 0 : 4 + int(qFromBigEndian<quint32>(reply.constData()));
    }
    QString sftpServer() const { return "/usr/lib/openssh/sftp-server -d " + path("sftp"); }
    QByteArray sftpLogin(const QByteArray& password) const { return opening("sftp://", m_sshd.port(), password); }
    QString knownHosts(const QByteArray& lines) const
    {
        QString file = path("known_hosts_" + QString::number(qHash(lines)));
        writeBytes(file, lines);
        return file;
    }
    static QByteArray opening(const char* scheme, int port, const QByteArray& password)
    {
        return QByteArray("open ") + scheme + "127.0.0.1 " + QByteArray::number(port) + "\r\nuser " +
               TestAccount::name().toLatin1() + " " + password + "\r\n";
    }

private slots:
    void initTestCase()
    {
        QString why;
        if (!TestAccount::ensure(&why))
            QSKIP(qPrintable(why));
        for (const char* served : {"ftp", "sftp"})
            QVERIFY(QDir(m_dir.path()).mkpath(served) && TestAccount::own(path(served)));
        QVERIFY2(m_certs.make(path("tls"), "IP:127.0.0.1,DNS:localhost", &why), qPrintable(why));
        if (!m_explicit.start(path("tls"), path("ftp"), m_certs))
            m_tlsProblem = m_explicit.why();
        if (!m_sshd.start(path("ssh"), path("sftp")))
            m_sshProblem = m_sshd.why();
        QProcess::execute("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", path("other_host_key")});
        const auto pub = readBytes(path("other_host_key.pub")).split(' ');
        m_otherKey = pub.value(0) + " " + pub.value(1);
    }

    void init()
    {
        const bool ssh = QByteArray(QTest::currentTestFunction()).startsWith("sftp") ||
                         QByteArray(QTest::currentTestFunction()).startsWith("hostKey");
        const QString& problem = ssh ? m_sshProblem : m_tlsProblem;
        if (!problem.isEmpty())
            QSKIP(qPrintable(problem));
    }

    void certificateTrust_data()
    {
        const auto row = columns<QByteArray, int, QByteArray>();
        row("the system's CA store does not know the private CA", "", 11, "CA_FILE");
        row("the pinned key matches", tlsConf() + "PINNED_KEY = " + m_certs.pin.toLatin1() + "\n", 0, "");
        row("another key is pinned", tlsConf() + "PINNED_KEY = sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n",
            11, "PINNED_KEY");
        row("the partner's own section names the CA", "CA_FILE = /nonexistent/ca.pem\n[127.0.0.1]\n" + tlsConf(), 0,
            "");
    }
    void certificateTrust()
    {
        const auto [conf, exit, says] = fetch<QByteArray, int, QByteArray>();
        TempAppFolder app;
        QVERIFY(writeBytes(folder(app) + "/local/t.txt", "trust\r\n"));
        const auto r =
            run(app, conf, opening("ftpes://", m_explicit.port(), TestAccount::password()) + "put t.txt\r\nquit\r\n");
        QVERIFY2(r.exit == exit && r.output.contains(says) && (exit == 0 || !r.transcript.contains("> USER")),
                 r.output + r.transcript);
    }

    // The password must not cross the network in clear when TLS was asked for.
    void serverWithoutTlsNeverSeesThePassword_data()
    {
        const auto row = columns<QByteArray, QByteArray>();
        row("explicit", "ftpes://", "AUTH TLS\r\n");
        row("implicit", "ftps://", "\x16\x03"); // a TLS handshake record
    }
    void serverWithoutTlsNeverSeesThePassword()
    {
        const auto [scheme, firstLine] = fetch<QByteArray, QByteArray>();
        const QString log = path("notls-" + QString::fromLatin1(scheme.left(4)) + ".log");
        NoTlsServer server;
        QVERIFY2(server.start(log), qPrintable(server.why()));
        TempAppFolder app;
        QVERIFY(writeBytes(folder(app) + "/local/t.txt", "x"));
        const auto r = run(app, tlsConf(),
                           opening(scheme.constData(), server.port(), TestAccount::password()) + "put t.txt\r\nquit\r\n");
        QVERIFY2(r.exit == 12 && r.output.contains("were not sent"), r.output + r.transcript);
        const QByteArray seen = readBytes(log);
        QVERIFY2(seen.startsWith(firstLine) && !seen.contains("USER") && !seen.contains("PASS") &&
                     !seen.contains(TestAccount::password()),
                 seen);
    }

    // A key login and the commands SFTP does its own way (password logins and transfers are rows of tst_interop).
    void sftpRoundTrip()
    {
        TempAppFolder app;
        const QByteArray data = someBytes(500000, 5);
        QVERIFY(writeBytes(folder(app) + "/local/a.bin", data) &&
                writeBytes(folder(app) + "/local/text.txt", "one\r\ntwo\r\n"));
        const auto r = run(app, trustedSsh(),
                           sftpLogin("\"\"") +
                               "mkdir key\r\ncd key\r\nmkdir inner\r\nput a.bin\r\nascii\r\nput text.txt\r\nbinary\r\n"
                               "rename a.bin b.bin\r\nquote chmod 600 b.bin\r\nquote symlink b.bin b.lnk\r\ncd inner\r\n"
                               "cdup\r\npwd\r\nls *.bin\r\n"
                               "mget *.bin\r\nget text.txt\r\ndir b.*\r\n"
                               "delete text.txt\r\nrmdir inner\r\nquit\r\n");
        // pwd: the folder in quotes
        QVERIFY2(r.exit == 0 && r.output.contains("\"" + path("sftp/key").toLatin1() + "\""), r.output + r.transcript);
        QVERIFY(readBytes(path("sftp/key/b.bin")) == data && readBytes(folder(app) + "/local/b.bin") == data);
        // ASCII changes nothing.
        QVERIFY(readBytes(folder(app) + "/local/text.txt") == "one\r\ntwo\r\n" &&
                !QFile::exists(path("sftp/key/text.txt")) && !QFile::exists(path("sftp/key/inner")));
        // A wildcard is matched here (SFTP servers do not), a link by its own name, and quote takes names from the
        // working folder.
        QVERIFY2(r.output.contains("\nb.bin\n") && !r.output.contains("\ntext.txt\n"), r.output);
        QVERIFY2(r.output.contains(" b.lnk -> " + path("sftp/key/b.bin").toLatin1() + "\n"), r.output);
        QVERIFY(!(QFileInfo(path("sftp/key/b.bin")).permissions() & (QFile::ReadGroup | QFile::ReadOther)));
        QVERIFY2(r.transcript.contains("SFTP has no ASCII mode") && !r.transcript.contains(TestAccount::password()),
                 r.transcript);
    }

    // Upload under a temporary name over SFTP: the old file goes before the rename; size by stat, time by setstat.
    void sftpUploadUnderATemporaryName()
    {
        TempAppFolder app;
        const QByteArray data = someBytes(300000, 7);
        const QString local = folder(app) + "/local/a.bin";
        const utimbuf when{1600000000, 1600000000};
        QVERIFY(writeBytes(folder(app) + "/local/old.bin", "the old file") && writeBytes(local, data) &&
                ::utime(QFile::encodeName(local).constData(), &when) == 0);
        const auto r = run(app, trustedSsh() + "UPLOAD_TEMP = prefix\nKEEP_TIME = on\nVERIFY = hash\n",
                           sftpLogin(TestAccount::password()) +
                               "mkdir tmpup\r\ncd tmpup\r\nput old.bin a.bin\r\nput a.bin\r\nquit\r\n");
        QVERIFY2(r.exit == 0 && readBytes(path("sftp/tmpup/a.bin")) == data, r.output + r.transcript);
        QVERIFY(QDir(path("sftp/tmpup")).entryList(QDir::Files | QDir::Hidden) == QStringList{"a.bin"} &&
                QFileInfo(path("sftp/tmpup/a.bin")).lastModified().toSecsSinceEpoch() == 1600000000);
        for (const QByteArray& said : {"sftp put " + path("sftp/tmpup/.zulpart.a.bin").toLatin1(),
                                       QByteArray("the partner will not rename over a.bin: removing it, then renaming"),
                                       QByteArray("SFTP offers no hash of a remote file: uploads are checked by their "
                                                  "size alone")})
            QVERIFY2(r.transcript.contains(said), said.constData());
    }

    void hostKeyTrust_data()
    {
        const auto row = columns<QByteArray, int, QByteArray>();
        const QByteArray line = m_sshd.knownHostsLine().toLatin1(),
                         at = "[127.0.0.1]:" + QByteArray::number(m_sshd.port());
        row("unknown host key", "", 11, "is unknown");
        row("known for another port only", QByteArray(line).replace("]:", "]:1") + "\n", 11, "is unknown");
        row("changed host key", at + " " + m_otherKey + "\n", 11, "has CHANGED");
        row("known host key", line + "\n", 0, "");
        // A host name without [host]:port stands for port 22 alone.
        row("known for port 22 only", QByteArray(line).replace(at, "127.0.0.1") + "\n", 11, "is unknown");
        row("revoked", line + "\n@revoked " + line + "\n", 11, "is REVOKED");
        row("hashed entry", "hash " + line + "\n", 0, "");
        // Trust comes from the file: one that others may write is refused, right key or not.
        row("writable by the group", "group-writable " + line + "\n# a file of its own\n", 11, "chmod go-w");
    }
    void hostKeyTrust()
    {
        const auto [known, exit, says] = fetch<QByteArray, int, QByteArray>();
        TempAppFolder app;
        QVERIFY(writeBytes(folder(app) + "/local/k.txt", "k"));
        QString file = knownHosts(known);
        if (known.startsWith("group-writable ")) {
            file = knownHosts(known.mid(15));
            QVERIFY(QFile::setPermissions(file, QFile::permissions(file) | QFile::WriteGroup));
        }
        if (known.startsWith("hash ")) {
            file = knownHosts(known.mid(5));
            QVERIFY(QProcess::execute("ssh-keygen", {"-q", "-H", "-f", file}) == 0 && QFile::remove(file + ".old") &&
                    readBytes(file).startsWith("|1|"));
        }
        const auto r =
            run(app, sshConf(file),
                sftpLogin(TestAccount::password()) + "put k.txt hk" + QByteArray::number(exit) + ".txt\r\nquit\r\n");
        QVERIFY2(r.exit == exit && QFile::exists(path("sftp/hk" + QString::number(exit) + ".txt")) == (exit == 0),
                 r.output + r.transcript);
        if (exit == 0)
            return;
        // The operator learns the fingerprint and the one line that trusts the key.
        QVERIFY2(r.output.contains(says) && r.output.contains(m_sshd.fingerprint().toLatin1()), r.output);
        // A revoked key is not to be trusted again; a file others may write is mended, not added to.
        const bool groupWritable = known.startsWith("group-writable ");
        if (says != "is REVOKED" && !groupWritable)
            QVERIFY2(r.output.contains("echo '" + m_sshd.knownHostsLine().toLatin1() + "' >> " + file.toLatin1()),
                     r.output);
        QCOMPARE(readBytes(file), groupWritable ? known.mid(15) : known); // nothing trusted silently
    }

    void sftpRefuses_data()
    {
        // login: empty for the account's password
        const auto row = columns<QByteArray, QByteArray, int, QByteArray>();
        row("site", "", "site umask 022", 1, "line 3: site is an FTP command");
        row("quote of an FTP verb", "", "quote SITE CHMOD 644 x", 1, "line 3: quote SITE: not an SFTP command");
        row("passive", "", "passive", 1, "line 3: passive is an FTP command");
        row("missing file", "", "get nothing-here.txt", 4, "line 3: get");
        row("missing folder", "", "cd nothing-here", 4, "no such folder");
        row("wrong password", "wrong", "ls", 3, "");
        row("key not authorised", "other key", "ls", 3, "");
        row("no key file", "no key", "ls", 3, "");
    }
    void sftpRefuses()
    {
        const auto [login, line, exit, says] = fetch<QByteArray, QByteArray, int, QByteArray>();
        TempAppFolder app;
        QByteArray conf = trustedSsh();
        if (login == "other key") {
            const QString other = path("other_key");
            QFile::remove(other);
            QProcess::execute("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", other});
            conf += "SSH_KEY = " + other.toLatin1() + "\n";
        } else if (login == "no key") {
            conf += "SSH_KEY = " + path("no_such_key").toLatin1() + "\n";
        }
        const QByteArray password =
            login.isEmpty() ? TestAccount::password() : QByteArray(login == "wrong" ? "not-it" : "\"\"");
        const auto r = run(app, conf, sftpLogin(password) + line + "\r\nquit\r\n");
        QVERIFY2(r.exit == exit && r.output.contains(says), r.output + r.transcript);
    }

    // A partner that stops answering, at the start or in the middle of a file, ends the run as timed out; nothing
    // half-received stays. sshd's keep-alives (one a second) and their answers are no progress of a file that stands
    // still.
    void sftpPartnerGoesQuiet_data()
    {
        const int version = versionReplySize();
        QVERIFY(version > 4);
        const auto row = columns<QString, QByteArray, QString, QByteArray>();
        // No command: a listener that takes the connection and never says a word (no SSH banner).
        row("no answer to the connection", "", "ZUL_RUNNER_CONNECT_TIMEOUT", "", "get quiet.bin");
        row("no answer to the SFTP start", "exec sleep 30", "ZUL_RUNNER_REPLY_TIMEOUT", "", "get quiet.bin");
        // The login asks for its folder right after the SFTP start: a silence there fails the login.
        // dd passes each piece on at once, where head would keep it in its buffer.
        row("no answer to the login folder",
            sftpServer() + " | dd bs=32k count=" + QString::number(version) +
                " iflag=count_bytes status=none; exec sleep 30",
            "ZUL_RUNNER_REPLY_TIMEOUT", "", "get quiet.bin");
        const QString quietDownload =
            sftpServer() + " | dd bs=32k count=300000 iflag=count_bytes status=none; exec sleep 30";
        row("quiet in the middle of a file", quietDownload, "ZUL_RUNNER_STALL_TIMEOUT", "", "get quiet.bin");
        const QString keepAlive = "ClientAliveInterval 1\n";
        row("quiet in the middle of a file, keep-alives go on", quietDownload, "ZUL_RUNNER_STALL_TIMEOUT", keepAlive,
            "get quiet.bin");
        row("quiet in the middle of an upload, keep-alives go on",
            "(dd bs=32k count=600000 iflag=count_bytes status=none; exec sleep 30) | " + sftpServer(),
            "ZUL_RUNNER_STALL_TIMEOUT", keepAlive, "put quiet.bin quietup.bin");
    }
    void sftpPartnerGoesQuiet()
    {
        const auto [command, limit, options, line] = fetch<QString, QByteArray, QString, QByteArray>();
        QVERIFY(writeBytes(path("sftp/quiet.bin"), someBytes(2000000, 9)) && TestAccount::own(path("sftp/quiet.bin")));
        SshdServer quiet;
        // The kernel completes the connection to a listening socket that nobody serves.
        const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in loopback{};
        loopback.sin_family = AF_INET;
        loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof loopback;
        const auto* address = reinterpret_cast<sockaddr*>(&loopback);
        const bool listening = ::bind(silent, address, size) == 0 && ::listen(silent, 4) == 0 &&
                               ::getsockname(silent, reinterpret_cast<sockaddr*>(&loopback), &size) == 0;
        const auto closeSilent = qScopeGuard([silent] { ::close(silent); });
        if (command.isEmpty())
            QVERIFY(listening);
        else
            QVERIFY2(
                quiet.start(path("quiet-" + QString::number(qHash(command + options))), path("sftp"), command, options),
                qPrintable(quiet.why()));
        const int port = command.isEmpty() ? ntohs(loopback.sin_port) : quiet.port();
        TempAppFolder app;
        const bool put = line.startsWith("put");
        QVERIFY(!put || writeBytes(folder(app) + "/local/quiet.bin", someBytes(2000000, 9)));
        // Keep-alives a second apart fit well inside the limit.
        const QByteArray seconds = options.isEmpty() ? "1" : "3";
        qputenv(limit.constData(), seconds);
        qputenv("ZUL_RUNNER_RETRIES", "0");
        const auto r = run(app, sshConf(knownHosts(quiet.knownHostsLine().toLatin1() + "\n")),
                           opening("sftp://", port, TestAccount::password()) + line + "\r\nquit\r\n");
        qunsetenv(limit.constData());
        qunsetenv("ZUL_RUNNER_RETRIES");
        QVERIFY2(r.exit == 10 && r.output.contains("nothing came from the partner for " + seconds + " s") &&
                     !r.transcript.contains("remote folder is /\n"),
                 r.output + r.transcript);
        QCOMPARE(QDir(folder(app) + "/local").entryList(QDir::Files | QDir::Hidden).size(), put ? 1 : 0);
    }

    // A connection that drops in the middle of a file: the retry continues from what arrived (the download's part
    // file, the upload's temporary name) and the file ends up whole. The partner's first session is cut after a
    // number of bytes; the later ones serve whole (a counter file tells them apart).
    void sftpContinuesAfterADroppedConnection_data()
    {
        // The download's first session lives on after the cut until what passed it has reached the runner: sshd
        // may close a session whose command ended before its last output went out.
        const QString server = sftpServer();
        const auto row = columns<QString, QByteArray, QByteArray, QByteArray>();
        row("download", server + " | dd bs=32k count=300000 iflag=count_bytes status=none; sleep 2", "", "get cut.bin",
            "continuing " + path("sftp/cut.bin").toLatin1() + " from byte ");
        row("upload to a temporary name", "dd bs=32k count=600000 iflag=count_bytes status=none | " + server,
            "UPLOAD_TEMP = prefix\n", "put cut.bin cutup.bin", "put .zulpart.cutup.bin: continuing at byte ");
    }
    void sftpContinuesAfterADroppedConnection()
    {
        const auto [first, conf, line, says] = fetch<QString, QByteArray, QByteArray, QByteArray>();
        const bool get = line.startsWith("get");
        const QByteArray data = someBytes(2000000, 11);
        const QString cut = path("cut-" + QString::number(qHash(line)));
        QVERIFY(QDir().mkpath(cut) && TestAccount::own(cut));
        QFile::remove(cut + "/sessions");
        const QString script = QStringLiteral("n=$(cat %1 2>/dev/null || echo 0)\necho $((n + 1)) > %1\n"
                                              "if [ \"$n\" -eq 0 ]; then %2; exit 0; fi\nexec %3\n")
                                   .arg(cut + "/sessions", first, sftpServer());
        QVERIFY(writeBytes(cut + "/first.sh", script.toLatin1()));
        SshdServer partner;
        QVERIFY2(partner.start(cut + "/ssh", path("sftp"), "sh " + cut + "/first.sh"), qPrintable(partner.why()));
        TempAppFolder app;
        const QString local = folder(app) + "/local/cut.bin", remote = path(get ? "sftp/cut.bin" : "sftp/cutup.bin");
        QVERIFY(writeBytes(get ? remote : local, data) && (!get || TestAccount::own(remote)));
        const auto r =
            run(app, sshConf(knownHosts(partner.knownHostsLine().toLatin1() + "\n")) + "BACKOFF_MS = 100\n" + conf,
                opening("sftp://", partner.port(), TestAccount::password()) + line + "\r\nquit\r\n");
        QVERIFY2(r.exit == 0 && readBytes(get ? local : remote) == data, r.output + r.transcript);
        QVERIFY2(r.transcript.contains(says) && r.transcript.contains("retry 1") &&
                     !r.transcript.contains("starting again from byte 0") && readBytes(cut + "/sessions") == "2\n",
                 r.transcript);
        // Nothing of the attempts is left on either side.
        QVERIFY(QDir(folder(app) + "/local").entryList(QDir::Files | QDir::Hidden).size() == 1 &&
                !QFile::exists(path("sftp/.zulpart.cutup.bin")));
    }

    // A partner that sends less than each read asks for (here 20000 of 32768 bytes), and one that ends the session on
    // a packet longer than 40000 bytes: the file still arrives byte for byte. One that refuses the writes from a
    // point on, answering them ahead of the writes before: the run fails with its words, once with small writes too.
    // One that refuses one write but stores the later ones: the file is cut back to the gap and continued from there.
    void sftpPartnerWithLimits_data()
    {
        const auto row = columns<QString, bool, int, QString>();
        row("reads cut short", "--cap 20000", false, 0, QString());
        row("small packets only", "--max-packet 40000", true, 0, "from now on this partner gets 32 KiB at a time");
        row("writes refused", "--refuse-writes-from 1000000", true, 4,
            "/sftp/limited.bin.zulpart: SFTP server: No space left on device");
        row("one write refused", "--refuse-once-at 393216", true, 0, "continuing at byte 393216 of 3000000");
    }
    void sftpPartnerWithLimits()
    {
        const auto [limits, upload, exit, said] = fetch<QString, bool, int, QString>();
        const QString dir = path("limits-" + QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'));
        QVERIFY(QDir().mkpath(dir) && TestAccount::own(dir));
        QVERIFY(QFile::copy(ZUL_SOURCE_DIR "/tests/runner/sftplimits.py", dir + "/sftplimits.py"));
        SshdServer limited;
        QVERIFY2(limited.start(dir + "/ssh", path("sftp"),
                               "/usr/bin/python3 " + dir + "/sftplimits.py " + limits + " " + sftpServer()),
                 qPrintable(limited.why()));
        const QByteArray data = someBytes(3000000, 13);
        TempAppFolder app;
        const QString there = path("sftp/limited.bin"), here = folder(app) + "/local/limited.bin";
        QFile::remove(there); // an upload must bring every byte itself
        QVERIFY(writeBytes(upload ? here : there, data) && (upload || TestAccount::own(there)));
        const auto r = run(app,
                           sshConf(knownHosts(limited.knownHostsLine().toLatin1() + "\n")) +
                               "BACKOFF_MS = 10\nUPLOAD_TEMP = suffix\n",
                           opening("sftp://", limited.port(), TestAccount::password()) +
                               (upload ? "put" : "get") + " limited.bin\r\nquit\r\n");
        QVERIFY2(r.exit == exit && (exit != 0 || readBytes(upload ? there : here) == data) &&
                     (said.isEmpty() || r.transcript.count(said.toLatin1()) == (exit ? 2 : 1)),
                 r.output + r.transcript);
    }

    // A line so slow that one 128 KiB write of an upload takes longer than STALL_TIMEOUT: the bytes it moves all
    // along are progress, so the first attempt goes through with large writes.
    void sftpUploadOverASlowLine()
    {
        SlowLine line;
        QVERIFY2(line.start(m_sshd.port(), 80000), qPrintable(line.why()));
        const QByteArray data = someBytes(400000, 17);
        TempAppFolder app;
        QVERIFY(writeBytes(folder(app) + "/local/slow.bin", data));
        const QString known = m_sshd.knownHostsLine().replace(
            QStringLiteral("]:%1 ").arg(m_sshd.port()), QStringLiteral("]:%1 ").arg(line.port()));
        qputenv("ZUL_RUNNER_STALL_TIMEOUT", "1");
        qputenv("ZUL_RUNNER_RETRIES", "0");
        const auto r = run(app, sshConf(knownHosts(known.toLatin1() + "\n")),
                           opening("sftp://", line.port(), TestAccount::password()) + "put slow.bin\r\nquit\r\n");
        qunsetenv("ZUL_RUNNER_STALL_TIMEOUT");
        qunsetenv("ZUL_RUNNER_RETRIES");
        QVERIFY2(r.exit == 0 && readBytes(path("sftp/slow.bin")) == data, r.output + r.transcript);
    }

    // A name whose lookup gets no answer ends with CONNECT_TIMEOUT, as over FTP. The runner gets a resolv.conf of
    // its own in a mount namespace, naming a listener on 127.0.0.1 that never answers.
    void sftpNameNeverResolved()
    {
        const int dns = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const auto closeDns = qScopeGuard([dns] { ::close(dns); });
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(53);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(dns, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
            QSKIP("port 53 of 127.0.0.1 is taken");
        if (QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("no unshare command");
        TempAppFolder app;
        const QString dir = folder(app);
        QVERIFY(writeBytes(dir + "/resolv.conf", "nameserver 127.0.0.1\n") &&
                writeBytes(dir + "/ZUL/tZULexe.zul", "open sftp://partner.zul.test 22\r\nuser zul not-used\r\nquit\r\n") &&
                installBuilt("VelundZUL", dir) && QFile::rename(dir + "/VelundZUL", dir + "/VelundZUL.bin") &&
                writeBytes(dir + "/VelundZUL",
                           "#!/bin/sh\nexec unshare -m sh -c 'mount --bind \"$0/resolv.conf\" /etc/resolv.conf && "
                           "exec \"$0/VelundZUL.bin\" \"$@\"' \"$(dirname \"$0\")\" \"$@\"\n") &&
                QFile::setPermissions(dir + "/VelundZUL", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("ZUL_RUNNER_CONNECT_TIMEOUT", "1");
        qputenv("ZUL_RUNNER_RETRIES", "0");
        const auto r = runRunner(dir, {"true|" + dir + "/ZUL/tZULexe.zul|E0001"});
        qunsetenv("ZUL_RUNNER_CONNECT_TIMEOUT");
        qunsetenv("ZUL_RUNNER_RETRIES");
        QVERIFY2(r.exit == 10 && r.output.contains("the name partner.zul.test was not resolved within 1 s"),
                 r.output + r.transcript);
    }

    // A partner that takes passwords by keyboard-interactive alone (PAM) gets the password there.
    void sftpPasswordByKeyboardInteractive_data()
    {
        const auto row = columns<QByteArray, int>();
        row("right password", TestAccount::password(), 0);
        row("wrong password", "not-it", 3);
    }
    void sftpPasswordByKeyboardInteractive()
    {
        const auto [password, exit] = fetch<QByteArray, int>();
        SshdServer pam;
        QVERIFY2(pam.start(path("pam" + QString::number(exit)), path("sftp"), {},
                           "UsePAM yes\nPasswordAuthentication no\nKbdInteractiveAuthentication yes\n"),
                 qPrintable(pam.why()));
        TempAppFolder app;
        const QByteArray name = "kbd" + QByteArray::number(exit) + ".txt";
        QVERIFY(writeBytes(folder(app) + "/local/" + name, "k"));
        const auto r = run(app, sshConf(knownHosts(pam.knownHostsLine().toLatin1() + "\n")),
                           opening("sftp://", pam.port(), password) + "put " + name + "\r\nquit\r\n");
        QVERIFY2(r.exit == exit && QFile::exists(path("sftp/" + name)) == (exit == 0), r.output + r.transcript);
    }

    // Over SFTP mget skips a name listed in pieces and a folder, each with a line, fetches the rest and ends with 4.
    void sftpMgetSkipsWhatItCannotFetch()
    {
        const QString dir = path("sftp/mg");
        QVERIFY(QDir().mkpath(dir + "/sub.txt"));
        for (const char* name : {"a.txt", "lf\nname.txt", "z.txt"})
            QVERIFY(writeBytes(dir + "/" + QString::fromLatin1(name), name));
        TempAppFolder app;
        const auto r = run(app, trustedSsh(), sftpLogin(TestAccount::password()) + "mget mg/*.txt\r\nquit\r\n");
        QVERIFY2(r.exit == 4 && r.output.contains("2 remote names were skipped"), r.output + r.transcript);
        QVERIFY(QDir(folder(app) + "/local").entryList(QDir::Files) == QStringList({"a.txt", "z.txt"}) &&
                readBytes(folder(app) + "/local/z.txt") == "z.txt");
        // No retry: a folder stays a folder.
        QVERIFY2(r.transcript.contains("skipped the remote name \"mg/sub.txt\"") &&
                     r.transcript.contains("it is a folder, not a file") &&
                     r.transcript.contains("skipped the remote name \"mg/name.txt\"") &&
                     !r.transcript.contains("retry 1"),
                 r.transcript);
    }
};

QTEST_GUILESS_MAIN(SecureTest)
#include "tst_secure.moc"
