#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace zul::test {

// A loopback port nobody listens on right now; a server that loses the race is started again.
int freePort();

// The one system account that vsftpd and sshd log in during the tests. It is
// created (as root) on first use, with a shell from /etc/shells so that PAM
// lets it log in to FTP, and "/" as its home.
struct TestAccount {
    static QString name() { return QStringLiteral("zulsec"); }
    static QByteArray password() { return QByteArrayLiteral("Zul-Test-Pw1"); }
    // False, with why, when the account cannot be made (not root, no useradd).
    static bool ensure(QString* why);
    // Makes path and every folder above it reachable by the account, and path its own.
    static bool own(const QString& path);
};

// A throw-away CA and a server certificate signed by it, made with the openssl command.
struct TestCertificates {
    enum class Key { Ecdsa, Rsa }; // of the server's certificate; the CA's is ECDSA
    QString caPem, certPem, keyPem;
    QString pin; // "sha256//BASE64" of the server's public key
    bool make(const QString& folder, const QString& subjectAltName, QString* why, Key key = Key::Ecdsa);
};

// Where tools/setup.sh unpacked the servers Debian ships as conflicting packages
// (ProFTPD, Pure-FTPd): ZUL_SERVERS_DIR, with usr/sbin and usr/lib/proftpd below it.
QString unpackedServers();

// A server process on 127.0.0.1 with a port chosen for it, killed with the object.
class ServerProcess {
public:
    ~ServerProcess();
    int port() const { return m_port; }
    QString why() const { return m_why; }

protected:
    // Starts program with the arguments argsFor(port) gives (after writing any configuration
    // for that port; empty when it cannot), until the port answers.
    bool launch(const QString& program, const std::function<QStringList(int)>& argsFor);
    // Waits until the further ports of a server that listens on several answer.
    bool alsoAnswers(const QList<int>& ports);
    QProcess m_process;
    int m_port = 0;
    QString m_why;
};

// vsftpd with TLS required for login and data.
class VsftpdServer : public ServerProcess {
public:
    // As packaged, with explicit TLS (AUTH TLS) and the cipher list HIGH.
    bool start(const QString& folder, const QString& root, const TestCertificates& certs);
    // As Debian packages it (/etc/vsftpd.conf's settings; its own cipher list,
    // require_ssl_reuse and forced TLS once TLS is on), plus what a test needs:
    // loopback, a port, uploads, a root. No certificates: TLS off, as packaged.
    // extra: settings an operator often adds ("ssl_ciphers" "HIGH").
    bool startPackaged(const QString& folder, const QString& root, const TestCertificates* certs, bool implicit,
                       const QMap<QByteArray, QByteArray>& extra = {});
    QString logFile() const { return m_log; }

private:
    bool launchWith(const QString& conf, const std::function<QByteArray(int)>& settingsFor);
    QString m_log;
};

// ProFTPD from the unpacked package, in the foreground (-n): plain FTP and
// explicit TLS (mod_tls, RSA and ECDSA certificates) on port(), implicit TLS on
// implicitPort(), SFTP (mod_sftp) on sftpPort(); every login starts in root.
class ProftpdServer : public ServerProcess {
public:
    bool start(const QString& folder, const QString& root, const TestCertificates& rsa, const TestCertificates& ecdsa);
    int implicitPort() const { return m_implicitPort; }
    int sftpPort() const { return m_sftpPort; }
    QString knownHostsLine() const { return m_known; }

private:
    int m_implicitPort = 0, m_sftpPort = 0;
    QString m_known;
};

// Pure-FTPd from the unpacked package, in the foreground: plain FTP and explicit
// TLS on one port (it has no implicit TLS). Logins start in the account's home, "/".
class PureFtpdServer : public ServerProcess {
public:
    bool start(const QString& folder, const TestCertificates& certs);
};

// OpenSSH's sshd with its own host key, internal-sftp starting in root, password and key logins.
class SshdServer : public ServerProcess {
public:
    bool start(const QString& folder, const QString& root);
    QString userKey() const { return m_userKey; }        // private key whose public half is authorised
    QString knownHostsLine() const { return m_known; }    // "[127.0.0.1]:PORT TYPE BASE64"
    QString fingerprint() const { return m_fingerprint; } // "SHA256:..." as ssh-keygen -l prints it

private:
    QString m_userKey, m_known, m_fingerprint;
};

// A plain FTP server that never offers TLS and records every line it receives.
class NoTlsServer : public ServerProcess {
public:
    bool start(const QString& logFile);
};

} // namespace zul::test
