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

// The system account vsftpd and sshd log in, made by root on first use with a shell PAM accepts and "/" as home.
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

// ZUL_SERVERS_DIR, where tools/setup.sh unpacked the conflicting packages ProFTPD and Pure-FTPd.
QString unpackedServers();

// A server process on 127.0.0.1 with a port chosen for it, killed with the object.
class ServerProcess {
public:
    ~ServerProcess();
    int port() const { return m_port; }
    QString why() const { return m_why; }
    QProcess& process() { return m_process; }

protected:
    // Starts program with argsFor(port) (empty: no configuration could be written) until the port answers.
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
    // /etc/vsftpd.conf as packaged (no certificates: TLS off) plus loopback, a port, uploads, a root and extra.
    bool startPackaged(const QString& folder, const QString& root, const TestCertificates* certs, bool implicit,
                       const QMap<QByteArray, QByteArray>& extra = {});

private:
    bool launchWith(const QString& conf, const std::function<QByteArray(int)>& settingsFor);
    QString m_log;
};

// ProFTPD: plain FTP and explicit TLS (RSA and ECDSA) on port(), implicit TLS and SFTP on their own; logins in root.
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

// Pure-FTPd: plain FTP and explicit TLS on one port (it has no implicit TLS); logins start in "/".
class PureFtpdServer : public ServerProcess {
public:
    bool start(const QString& folder, const TestCertificates& certs);
};

// OpenSSH's sshd with its own host key, internal-sftp starting in root, password and key logins.
class SshdServer : public ServerProcess {
public:
    // command: what every session runs in place of the SFTP server (a partner that misbehaves);
    // options: sshd_config lines that take the place of the defaults (sshd keeps a keyword's first value).
    bool start(const QString& folder, const QString& root, const QString& command = {}, const QString& options = {});
    QString userKey() const { return m_userKey; }        // private key whose public half is authorised
    QString knownHostsLine() const { return m_known; }    // "[127.0.0.1]:PORT TYPE BASE64"
    QString fingerprint() const { return m_fingerprint; } // "SHA256:..." as ssh-keygen -l prints it

private:
    QString m_userKey, m_known, m_fingerprint;
};

// A slow line to a server on 127.0.0.1: the client's bytes reach it at rate bytes a second.
class SlowLine : public ServerProcess {
public:
    bool start(int serverPort, int rate);
};

// A plain FTP server that never offers TLS and records every line it receives.
class NoTlsServer : public ServerProcess {
public:
    bool start(const QString& logFile);
};

} // namespace zul::test
