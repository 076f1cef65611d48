// The runner against vsftpd, ProFTPD, Pure-FTPd and OpenSSH in every scheme they speak; writes docs/interop.md.
#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"
#include "support/SecureServers.h"
#include "support/TempAppFolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace zul::test;

namespace {
struct Cell {
    QString server, version, scheme, certificate, tlsMax, tls /* as negotiated */, result;
};

QString debianVersion(const QString& package)
{
    QProcess p;
    p.start("dpkg-query", {"-W", "-f", "${Version}", package});
    p.waitForFinished(10000);
    return QString::fromLatin1(p.readAllStandardOutput());
}

// The version of a package that tools/setup.sh downloaded and unpacked.
QString unpackedVersion(const QString& package)
{
    const QStringList debs = QDir(unpackedServers() + "/debs").entryList({package + "_*.deb"});
    return debs.isEmpty() ? QString() : debs.first().section('_', 1, 1);
}

bool sameFiles(const QString& a, const QString& b)
{
    return QProcess::execute("cmp", {"-s", a, b}) == 0;
}
} // namespace

class InteropTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TestCertificates m_rsa, m_ecdsa;
    QString m_caBundle, m_knownHosts;
    VsftpdServer m_vsPlain, m_vsExplicitRsa, m_vsExplicitEcdsa, m_vsImplicitRsa, m_vsImplicitEcdsa, m_vsHigh;
    ProftpdServer m_proftpd;
    PureFtpdServer m_pureFtpd;
    SshdServer m_sshd;
    QString m_problem; // why the matrix cannot run here
    QList<Cell> m_cells;

    QString path(const QString& rel) const { return m_dir.filePath(rel); }

private slots:
    void initTestCase()
    {
        QString why;
        if (!TestAccount::ensure(&why))
            QSKIP(qPrintable(why));
        if (unpackedServers().isEmpty() || !QFile::exists(unpackedServers() + "/usr/sbin/proftpd"))
            QSKIP("ProFTPD and Pure-FTPd are not unpacked in ZUL_SERVERS_DIR (tools/setup.sh does it)");
        QVERIFY(QDir(m_dir.path()).mkpath("root") && TestAccount::own(path("root")));
        QVERIFY2(m_rsa.make(path("rsa"), "IP:127.0.0.1", &why, TestCertificates::Key::Rsa), qPrintable(why));
        QVERIFY2(m_ecdsa.make(path("ecdsa"), "IP:127.0.0.1", &why, TestCertificates::Key::Ecdsa), qPrintable(why));
        m_caBundle = path("ca-bundle.pem");
        QVERIFY(writeBytes(m_caBundle, readBytes(m_rsa.caPem) + readBytes(m_ecdsa.caPem)));
        const QString root = path("root");
        const auto up = [this](const ServerProcess& server, bool started) {
            if (!started)
                m_problem = server.why();
            return started;
        };
        const QString rsa = path("vsftpd/rsa"), ecdsa = path("vsftpd/ecdsa");
        QVERIFY2(up(m_vsPlain, m_vsPlain.startPackaged(path("vsftpd"), root, nullptr, false)) &&
                     up(m_vsExplicitRsa, m_vsExplicitRsa.startPackaged(rsa, root, &m_rsa, false)) &&
                     up(m_vsExplicitEcdsa, m_vsExplicitEcdsa.startPackaged(ecdsa, root, &m_ecdsa, false)) &&
                     up(m_vsImplicitRsa, m_vsImplicitRsa.startPackaged(rsa, root, &m_rsa, true)) &&
                     up(m_vsImplicitEcdsa, m_vsImplicitEcdsa.startPackaged(ecdsa, root, &m_ecdsa, true)) &&
                     up(m_vsHigh, m_vsHigh.startPackaged(ecdsa, root, &m_ecdsa, false, {{"ssl_ciphers", "HIGH"}})) &&
                     up(m_proftpd, m_proftpd.start(path("proftpd"), root, m_rsa, m_ecdsa)) &&
                     up(m_pureFtpd, m_pureFtpd.start(path("pure-ftpd"), m_rsa)) &&
                     up(m_sshd, m_sshd.start(path("sshd"), root)),
                 qPrintable(m_problem));
        m_knownHosts = path("known_hosts");
        QVERIFY(writeBytes(m_knownHosts,
                           (m_proftpd.knownHostsLine() + "\n" + m_sshd.knownHostsLine() + "\n").toLatin1()));
    }

    void cleanupTestCase()
    {
        if (!m_problem.isEmpty() || m_cells.isEmpty())
            return;
        // The prose above the table lives beside this test.
        QByteArray text = readBytes(QStringLiteral(ZUL_SOURCE_DIR "/tests/runner/interop-intro.md")) +
                          "| Server | Version | Scheme | Certificate | TLS_MAX | TLS negotiated | Result |\n"
                          "|---|---|---|---|---|---|---|\n";
        for (const Cell& c : m_cells)
            text += QStringLiteral("| %1 | %2 | `%3` | %4 | %5 | %6 | %7 |\n")
                        .arg(c.server, c.version, c.scheme, c.certificate, c.tlsMax, c.tls, c.result)
                        .toUtf8();
        writeBytes(QStringLiteral(ZUL_SOURCE_DIR "/docs/interop.md"), text);
    }

    void matrix_data()
    {
        // tlsMax: empty for the default; base: where logins start, seen from the server's root
        const auto row = columns<QString, QString, QString, int, QString, QString, QString, int>();
        const auto cell = [&row](const char* tag, const QString& server, const QString& version, const char* scheme,
                                 int port, const char* certificate, const char* tlsMax = "", const QString& base = "",
                                 int exit = 0) {
            row(tag, server, version, scheme, port, certificate, tlsMax, base, exit);
        };
        const QString vs = debianVersion("vsftpd"), pro = unpackedVersion("proftpd-core"),
                      pure = unpackedVersion("pure-ftpd"), ssh = debianVersion("openssh-server");
        cell("vsftpd ftp", "vsftpd", vs, "ftp://", m_vsPlain.port(), "-");
        cell("vsftpd ftpes RSA", "vsftpd", vs, "ftpes://", m_vsExplicitRsa.port(), "RSA");
        cell("vsftpd ftpes ECDSA", "vsftpd", vs, "ftpes://", m_vsExplicitEcdsa.port(), "ECDSA");
        // Its TLS 1.2 cipher list has nothing for an ECDSA key: only TLS 1.3 gets through.
        cell("vsftpd ftpes ECDSA, TLS 1.2 only", "vsftpd", vs, "ftpes://", m_vsExplicitEcdsa.port(), "ECDSA", "1.2", "",
             12);
        cell("vsftpd ftps RSA", "vsftpd", vs, "ftps://", m_vsImplicitRsa.port(), "RSA");
        cell("vsftpd ftps ECDSA", "vsftpd", vs, "ftps://", m_vsImplicitEcdsa.port(), "ECDSA");
        // A cipher list operators often set; over TLS 1.3 its uploads need a proper close of the data connection.
        cell("vsftpd ftpes ECDSA, ssl_ciphers=HIGH", "vsftpd (`ssl_ciphers=HIGH`)", vs, "ftpes://", m_vsHigh.port(),
             "ECDSA");
        cell("ProFTPD ftp", "ProFTPD", pro, "ftp://", m_proftpd.port(), "-");
        cell("ProFTPD ftpes", "ProFTPD", pro, "ftpes://", m_proftpd.port(), "RSA and ECDSA");
        cell("ProFTPD ftps", "ProFTPD", pro, "ftps://", m_proftpd.implicitPort(), "RSA");
        cell("ProFTPD sftp", "ProFTPD (mod_sftp)", pro, "sftp://", m_proftpd.sftpPort(), "-");
        // Its logins start in the account's home, "/".
        cell("Pure-FTPd ftp", "Pure-FTPd", pure, "ftp://", m_pureFtpd.port(), "-", "", path("root"));
        cell("Pure-FTPd ftpes", "Pure-FTPd", pure, "ftpes://", m_pureFtpd.port(), "RSA", "", path("root"));
        cell("OpenSSH sftp", "OpenSSH internal-sftp", ssh, "sftp://", m_sshd.port(), "-");
    }
    void matrix()
    {
        const auto [server, version, scheme, port, certificate, tlsMax, base, exit] =
            fetch<QString, QString, QString, int, QString, QString, QString, int>();
        const bool ssh = scheme == "sftp://";
        const QString shownMax = tlsMax.isEmpty() ? "1.3 (default)" : tlsMax;
        m_cells.append({server, version, scheme, certificate, ssh || scheme == "ftp://" ? "-" : shownMax,
                        ssh ? "(SSH)" : "-", "FAIL"});
        Cell& out = m_cells.last();

        TempAppFolder app;
        const QString folder = QString::fromStdString(app.path()), local = folder + "/local";
        const QString dir = "c" + QString::number(m_cells.size()), remote = path("root/" + dir);
        // This size lost its end to vsftpd over TLS 1.3 until the data connection was closed properly.
        const QByteArray bin = someBytes(700000, quint32(m_cells.size()));
        const QByteArray text = "first line\r\nsecond line\r\n\r\nlast line\r\n";
        QVERIFY(writeBytes(local + "/bin.dat", bin) && writeBytes(local + "/m1.dat", someBytes(70000, 101)) &&
                writeBytes(local + "/m2.dat", someBytes(90001, 102)) && writeBytes(local + "/text.txt", text) &&
                QDir().mkpath(local + "/got"));
        const QByteArray conf = "CA_FILE = " + m_caBundle.toLatin1() + "\nKNOWN_HOSTS = " + m_knownHosts.toLatin1() +
                                "\n" + (tlsMax.isEmpty() ? QByteArray() : "TLS_MAX = " + tlsMax.toLatin1() + "\n");
        const QByteArray at = (base.isEmpty() ? dir : base + "/" + dir).toLatin1();
        const QByteArray script = "open " + scheme.toLatin1() + "127.0.0.1 " + QByteArray::number(port) +
                                  "\r\nuser " + TestAccount::name().toLatin1() + " " + TestAccount::password() +
                                  "\r\nmkdir " + at + "\r\ncd " + at +
                                  "\r\nbinary\r\nput bin.dat\r\nmput m*.dat\r\n"
                                  "ascii\r\nput text.txt\r\nget text.txt text-back.txt\r\nbinary\r\n"
                                  "rename bin.dat moved.dat\r\nget moved.dat back.dat\r\nls\r\n"
                                  "lcd got\r\nmget m*.dat\r\ndelete m1.dat\r\nquit\r\n";
        const RunnerRun r = runScript(folder, script, conf);
        const auto negotiated = QRegularExpression("negotiated (TLSv[0-9.]+ / [A-Za-z0-9_-]+)").match(r.transcript);
        if (negotiated.hasMatch())
            out.tls = negotiated.captured(1);
        const QString said = QString::fromLatin1(r.output).section('\n', 0, 0).trimmed();
        if (exit != 0) {
            const auto alert = QRegularExpression("sslv3 alert [a-z ]+").match(r.output);
            out.result =
                "refused at the handshake, as expected: " + (alert.hasMatch() ? alert.captured().trimmed() : said);
            QVERIFY2(r.exit == exit && r.output.contains("(TLS_MAX = 1.3 allows TLS 1.3)"), r.output + r.transcript);
            return;
        }
        out.result = "FAIL: " + said;
        // moved.dat: the listing
        QVERIFY2(r.exit == 0 && !r.transcript.contains(TestAccount::password()) && r.output.contains("moved.dat"),
                 r.output + r.transcript);
        // Binary files, there and back, byte for byte.
        const char* mine[] = {"bin.dat", "bin.dat", "m2.dat", "m1.dat", "m2.dat"};
        const QString copies[] = {remote + "/moved.dat", local + "/back.dat", remote + "/m2.dat", local + "/got/m1.dat",
                                  local + "/got/m2.dat"};
        for (int i = 0; i < 5; ++i)
            QVERIFY2(sameFiles(local + "/" + mine[i], copies[i]), qPrintable(copies[i]));
        QVERIFY(!QFile::exists(remote + "/bin.dat") && !QFile::exists(remote + "/m1.dat"));
        // Text: the server keeps its own line ends (or the sent ones), this side gets CR LF back.
        const QByteArray there = readBytes(remote + "/text.txt");
        QVERIFY2(there == text || there == QByteArray(text).replace("\r\n", "\n"), there);
        QCOMPARE(readBytes(local + "/text-back.txt"), text);
        if (scheme != "ftp://" && scheme != "sftp://")
            QVERIFY2(!out.tls.startsWith('-'), r.transcript);
        if (scheme == "ftpes://") // the data connections are protected too
            QVERIFY2(r.transcript.contains("> AUTH TLS") && r.transcript.contains("> PROT P"), r.transcript);
        out.result = "pass";
    }
};

QTEST_GUILESS_MAIN(InteropTest)
#include "tst_interop.moc"
