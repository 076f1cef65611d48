#include "support/SecureServers.h"

#include "support/Files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::test {

namespace {
bool run(const QString& program, const QStringList& args, QString* why, const QByteArray& input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        *why = program + " cannot be started";
        return false;
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *why = program + " " + args.join(' ') + ": " + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

// Connects to the loopback port, or (port 0) binds a free one; the port, or 0.
int onLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(quint16(port));
    socklen_t len = sizeof a;
    const bool ok = port ? ::connect(fd, reinterpret_cast<sockaddr*>(&a), len) == 0
                         : ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 &&
                               ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}
bool answers(int port)
{
    return onLoopback(port) != 0;
}
} // namespace

int freePort()
{
    return onLoopback(0);
}

bool TestAccount::ensure(QString* why)
{
    if (::geteuid() != 0) {
        *why = QStringLiteral("vsftpd and sshd log in a system account, which only root may create");
        return false;
    }
    // Other test programs may be doing the same at this moment; the password files are locked meanwhile.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0)
            QThread::msleep(300);
        if (!::getpwnam(name().toLatin1().constData()) &&
            !run("useradd", {"--no-create-home", "--home-dir", "/", "--shell", "/bin/sh", name()}, why))
            continue;
        if (run("chpasswd", {}, why, name().toLatin1() + ":" + password() + "\n"))
            return true;
    }
    return false;
}

bool TestAccount::own(const QString& path)
{
    const passwd* pw = ::getpwnam(name().toLatin1().constData());
    if (!pw || ::chown(QFile::encodeName(path).constData(), pw->pw_uid, pw->pw_gid) != 0)
        return false;
    for (QString dir = QFileInfo(path).absolutePath(); dir != "/"; dir = QFileInfo(dir).absolutePath()) {
        struct stat st {};
        if (::stat(QFile::encodeName(dir).constData(), &st) == 0 && (st.st_mode & 0005) != 0005)
            ::chmod(QFile::encodeName(dir).constData(), st.st_mode | 0055);
    }
    return true;
}

QString unpackedServers()
{
    return qEnvironmentVariable("ZUL_SERVERS_DIR");
}

bool TestCertificates::make(const QString& folder, const QString& subjectAltName, QString* why, Key key)
{
    QDir().mkpath(folder);
    caPem = folder + "/ca.pem";
    certPem = folder + "/server.pem";
    keyPem = folder + "/server.key";
    const QString caKey = folder + "/ca.key", csr = folder + "/server.csr", ext = folder + "/ext.cnf";
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    if (!writeBytes(ext, "subjectAltName=" + subjectAltName.toLatin1() + "\n") ||
        !run("openssl", QStringList{"req", "-x509"} + ec +
                            QStringList{"-keyout", caKey, "-out", caPem, "-days", "2", "-subj", "/CN=zul test CA"},
             why) ||
        !run("openssl",
             QStringList{"req"} + (key == Key::Ecdsa ? ec : QStringList{"-newkey", "rsa:2048", "-nodes"}) +
                 QStringList{"-keyout", keyPem, "-out", csr, "-subj", "/CN=zul test"},
             why) ||
        !run("openssl",
             {"x509", "-req", "-in", csr, "-CA", caPem, "-CAkey", caKey, "-CAcreateserial", "-out", certPem, "-days",
              "2", "-extfile", ext},
             why))
        return false;
    QProcess pub, digest;
    pub.setStandardOutputProcess(&digest);
    pub.start("openssl", {"pkey", "-in", keyPem, "-pubout", "-outform", "der"});
    digest.start("openssl", {"dgst", "-sha256", "-binary"});
    pub.waitForFinished();
    digest.waitForFinished();
    pin = "sha256//" + QString::fromLatin1(digest.readAllStandardOutput().toBase64());
    return pin.size() > 20;
}

ServerProcess::~ServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
}

bool ServerProcess::launch(const QString& program, const std::function<QStringList(int)>& argsFor)
{
    if (!QFileInfo(program).isExecutable()) {
        m_why = program + " is not installed (tools/setup.sh installs it)";
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        const QStringList args = argsFor(m_port);
        if (args.isEmpty()) {
            m_why = "cannot write the configuration of " + program;
            return false;
        }
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, args);
        const QDeadlineTimer deadline(10000);
        while (m_process.state() != QProcess::NotRunning && !deadline.hasExpired() && !answers(m_port))
            QThread::msleep(20);
        if (m_process.state() != QProcess::NotRunning && answers(m_port))
            return true;
        m_process.kill();
        m_process.waitForFinished();
        m_why = program + " did not start: " + QString::fromLocal8Bit(m_process.readAll());
    }
    return false;
}

bool ServerProcess::alsoAnswers(const QList<int>& ports)
{
    const QDeadlineTimer deadline(10000);
    for (const int port : ports) {
        while (!answers(port)) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
                m_why = QStringLiteral("port %1 does not answer: ").arg(port) + QString::fromLocal8Bit(m_process.readAll());
                return false;
            }
            QThread::msleep(20);
        }
    }
    return true;
}

bool VsftpdServer::launchWith(const QString& conf, const std::function<QByteArray(int)>& settingsFor)
{
    QDir().mkpath("/var/run/vsftpd/empty"); // vsftpd's secure_chroot_dir
    QDir().mkpath(QFileInfo(conf).absolutePath());
    m_log = QFileInfo(conf).absolutePath() + "/" + QFileInfo(conf).completeBaseName() + ".log";
    return launch("/usr/sbin/vsftpd",
                  [&](int port) { return writeBytes(conf, settingsFor(port)) ? QStringList{conf} : QStringList{}; });
}

bool VsftpdServer::startPackaged(const QString& folder, const QString& root, const TestCertificates* certs,
                                 bool implicit, const QMap<QByteArray, QByteArray>& extra)
{
    const QString conf = folder + "/packaged-" + (certs ? (implicit ? "implicit" : "explicit") : "plain") +
                         (extra.isEmpty() ? "" : "-more") + ".conf";
    QMap<QByteArray, QByteArray> ours{{"listen", "YES"},
                                      {"listen_ipv6", "NO"},
                                      {"listen_address", "127.0.0.1"},
                                      {"background", "NO"},
                                      {"write_enable", "YES"},
                                      {"local_umask", "022"},
                                      {"local_root", root.toLatin1()},
                                      {"pasv_address", "127.0.0.1"},
                                      // The sandboxes need namespaces that a container may not grant.
                                      {"seccomp_sandbox", "NO"},
                                      {"isolate", "NO"},
                                      {"isolate_network", "NO"}};
    if (certs) {
        ours["ssl_enable"] = "YES";
        ours["implicit_ssl"] = implicit ? "YES" : "NO";
        ours["rsa_cert_file"] = certs->certPem.toLatin1();
        ours["rsa_private_key_file"] = certs->keyPem.toLatin1();
    }
    ours.insert(extra);
    QByteArray packaged;
    for (const QByteArray& line : readBytes("/etc/vsftpd.conf").split('\n'))
        if (!line.startsWith('#') && line.contains('=') && !ours.contains(line.left(line.indexOf('='))))
            packaged += line + "\n";
    return launchWith(conf, [&](int port) {
        QByteArray text = packaged;
        for (auto it = ours.cbegin(); it != ours.cend(); ++it)
            text += it.key() + "=" + it.value() + "\n";
        return text + "listen_port=" + QByteArray::number(port) + "\nvsftpd_log_file=" + m_log.toLatin1() +
               "\nlog_ftp_protocol=YES\n";
    });
}

bool VsftpdServer::start(const QString& folder, const QString& root, const TestCertificates& certs)
{
    return startPackaged(folder, root, &certs, false,
                         {{"force_local_logins_ssl", "YES"}, {"force_local_data_ssl", "YES"}, {"ssl_ciphers", "HIGH"}});
}

bool SshdServer::start(const QString& folder, const QString& root, const QString& command, const QString& options)
{
    QDir().mkpath("/run/sshd"); // sshd's privilege separation folder
    QDir().mkpath(folder);
    const QString hostKey = folder + "/host_key", authorized = folder + "/authorized_keys",
                  conf = folder + "/sshd_config";
    m_userKey = folder + "/user_key";
    QFile::remove(hostKey);
    QFile::remove(m_userKey);
    if (!QFileInfo("/usr/sbin/sshd").isExecutable()) {
        m_why = "/usr/sbin/sshd is not installed (tools/setup.sh installs openssh-server)";
        return false;
    }
    if (!run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-C", "zul test host", "-f", hostKey}, &m_why) ||
        !run("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-C", "zul test user", "-f", m_userKey}, &m_why) ||
        !QFile::copy(m_userKey + ".pub", authorized))
        return false;
    QFile::setPermissions(authorized, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    TestAccount::own(root);
    const QList<QByteArray> pub = readBytes(hostKey + ".pub").split(' ');
    QProcess keygen;
    keygen.start("ssh-keygen", {"-l", "-E", "sha256", "-f", hostKey + ".pub"});
    keygen.waitForFinished(30000);
    m_fingerprint = QString::fromLatin1(keygen.readAllStandardOutput().split(' ').value(1));
    return launch("/usr/sbin/sshd", [&](int port) {
        m_known = QStringLiteral("[127.0.0.1]:%1 %2 %3").arg(port).arg(QString::fromLatin1(pub.value(0)),
                                                                         QString::fromLatin1(pub.value(1)));
        return writeBytes(conf, options.toLatin1() + QStringLiteral("ListenAddress 127.0.0.1:%1\nHostKey %2\nPidFile none\nUsePAM no\n"
                                               "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                                               "PubkeyAuthentication yes\nAuthorizedKeysFile %3\nStrictModes no\n"
                                               "AllowUsers %4\nSubsystem sftp internal-sftp\n"
                                               "ForceCommand %5\n")
                                    .arg(port)
                                    .arg(hostKey, authorized, TestAccount::name(),
                                         command.isEmpty() ? "internal-sftp -d " + root : command)
                                    .toLatin1())
                   ? QStringList{"-D", "-e", "-f", conf}
                   : QStringList{};
    });
}

bool ProftpdServer::start(const QString& folder, const QString& root, const TestCertificates& rsa,
                          const TestCertificates& ecdsa)
{
    const QString base = unpackedServers();
    QDir().mkpath(folder);
    const QString conf = folder + "/proftpd.conf", hostKey = folder + "/sftp_host_key";
    QFile::remove(hostKey);
    if (!run("ssh-keygen", {"-q", "-t", "rsa", "-b", "2048", "-m", "PEM", "-N", "", "-C", "zul test", "-f", hostKey},
             &m_why))
        return false;
    TestAccount::own(root);
    const QList<QByteArray> pub = readBytes(hostKey + ".pub").split(' ');
    // Every login is kept in root; the TLS engine of the main server is inherited by no virtual host.
    const QString common = QStringLiteral("DefaultRoot %1\nAllowOverwrite on\nUmask 022\n").arg(root);
    const QString tls = QStringLiteral("TLSEngine on\nTLSLog %1/tls.log\nTLSProtocol TLSv1.2 TLSv1.3\n"
                                       "TLSRSACertificateFile %2\nTLSRSACertificateKeyFile %3\nTLSVerifyClient off\n")
                            .arg(folder, rsa.certPem, rsa.keyPem);
    if (!launch(base + "/usr/sbin/proftpd", [&](int port) {
            // Three different ports: the kernel may hand out the same free one twice in a row.
            do {
                m_implicitPort = freePort();
                m_sftpPort = freePort();
            } while (m_implicitPort == port || m_sftpPort == port || m_implicitPort == m_sftpPort);
            m_known = QStringLiteral("[127.0.0.1]:%1 %2 %3")
                          .arg(m_sftpPort)
                          .arg(QString::fromLatin1(pub.value(0)), QString::fromLatin1(pub.value(1)));
            const QString text =
                QStringLiteral("ModulePath %1/usr/lib/proftpd\nLoadModule mod_tls.c\nLoadModule mod_sftp.c\n"
                               "ServerName \"zul test\"\nServerType standalone\nPort %2\nDefaultAddress 127.0.0.1\n"
                               "SocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\n"
                               "PidFile %3/proftpd.pid\nScoreboardFile %3/proftpd.scoreboard\nDelayTable none\n"
                               "WtmpLog off\nUseReverseDNS off\nSystemLog %3/proftpd.log\nTransferLog none\n"
                               "AuthOrder mod_auth_unix.c\n")
                    .arg(base)
                    .arg(port)
                    .arg(folder) +
                common + tls +
                QStringLiteral("TLSECCertificateFile %1\nTLSECCertificateKeyFile %2\nTLSRequired off\n")
                    .arg(ecdsa.certPem, ecdsa.keyPem) +
                QStringLiteral("<VirtualHost 127.0.0.1>\nPort %1\n").arg(m_implicitPort) + common + tls +
                "TLSOptions UseImplicitSSL\nTLSRequired on\n</VirtualHost>\n" +
                QStringLiteral("<VirtualHost 127.0.0.1>\nPort %1\n").arg(m_sftpPort) + common +
                QStringLiteral("SFTPEngine on\nSFTPLog %1/sftp.log\nSFTPHostKey %2\nSFTPAuthMethods password\n"
                               "</VirtualHost>\n")
                    .arg(folder, hostKey);
            return writeBytes(conf, text.toLatin1()) ? QStringList{"-n", "-c", conf} : QStringList{};
        }))
        return false;
    return alsoAnswers({m_implicitPort, m_sftpPort});
}

bool PureFtpdServer::start(const QString& folder, const TestCertificates& certs)
{
    // Its certificate and key in one file.
    QDir().mkpath(folder);
    const QString pem = folder + "/pure-ftpd.pem";
    if (!writeBytes(pem, readBytes(certs.keyPem) + readBytes(certs.certPem)))
        return false;
    return launch(unpackedServers() + "/usr/sbin/pure-ftpd", [&](int port) {
        // -l unix: system accounts; -E: no anonymous logins; -H: no name look-ups; -Y 1: TLS optional.
        return QStringList{"-S", QStringLiteral("127.0.0.1,%1").arg(port), "-l", "unix", "-E", "-H", "-Y", "1",
                           "-2", pem, "-P", "127.0.0.1"};
    });
}

bool SlowLine::start(int serverPort, int rate)
{
    const QString script = QStringLiteral(ZUL_SOURCE_DIR "/tests/runner/slowline.py");
    return launch("/usr/bin/python3", [&](int port) {
        return QStringList{script, "--port", QString::number(port), "--to", QString::number(serverPort), "--rate",
                           QString::number(rate)};
    });
}

bool NoTlsServer::start(const QString& logFile)
{
    const QString script = QStringLiteral(ZUL_SOURCE_DIR "/tests/runner/notlsserver.py");
    return launch("/usr/bin/python3",
                  [&](int port) { return QStringList{script, "--log", logFile, "--port", QString::number(port)}; });
}

} // namespace zul::test
