#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

namespace zul::test {

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
    QString caPem, certPem, keyPem;
    QString pin; // "sha256//BASE64" of the server's public key
    bool make(const QString& folder, const QString& subjectAltName, QString* why);
};

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
    QProcess m_process;
    int m_port = 0;
    QString m_why;
};

// vsftpd with TLS required for login and data: explicit (AUTH TLS) or implicit.
class VsftpdServer : public ServerProcess {
public:
    bool start(const QString& folder, const QString& root, const TestCertificates& certs, bool implicit);
    QString logFile() const { return m_log; }

private:
    QString m_log;
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
