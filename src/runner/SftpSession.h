#pragma once

#include "runner/Session.h"
#include "runner/SocketWatch.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zul::runner {

// One SFTP session over libssh, which keeps its SSH connection between
// requests and keeps many reads in flight, as OpenSSH's own client does. SFTP
// has no working folder on the server: this side keeps one, absolute from the
// login folder, and sends full paths. The partner's host key must be in
// KNOWN_HOSTS; an unknown or changed key ends the run with its fingerprint and
// the line that would trust it, before anything secret is sent. "user NAME
// PASSWORD" logs in with the password, "user NAME" with SSH_KEY.
class SftpSession : public Session {
public:
    SftpSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
                std::function<bool()> shouldStop);
    ~SftpSession() override;
    SftpSession(const SftpSession&) = delete;
    SftpSession& operator=(const SftpSession&) = delete;

    void open(std::string host, int port) override;
    void setLogin(std::string user, std::string password) override;
    bool hasHost() const override { return !m_host.empty(); }
    const std::string& host() const override { return m_host; }
    bool loggedIn() const override { return m_loggedIn; }
    void setAscii(bool ascii) override;
    bool ascii() const override { return false; }
    void setWaitLimit(std::chrono::seconds limit) override { m_waitLimit = limit; }

    void close() override;
    void reconnect() override;

    Outcome login() override;
    Outcome changeFolder(const std::string& name) override;
    Outcome changeUp() override;
    Outcome printFolder(std::string& shown) override;
    Outcome remove(const std::string& name) override;
    Outcome makeFolder(const std::string& name) override;
    Outcome removeFolder(const std::string& name) override;
    Outcome rename(const std::string& from, const std::string& to) override;
    Outcome site(const std::string& text) override;
    Outcome quote(const std::string& text) override;
    Outcome passive() override;
    Outcome facts(const std::string& remote, ServerFacts& out, Facts which = Facts::SizeAndTime) override;
    Outcome download(const std::string& remote, PartFile& sink, bool verifySize, TransferStats& stats) override;
    Outcome upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats,
                   std::int64_t from = 0) override;
    Outcome remoteHash(const std::string& remote, RemoteHash& out) override;
    Outcome setTime(const std::string& remote, std::int64_t mtime) override;
    Outcome list(const std::string& remote, bool namesOnly, std::string& out) override;

    std::string remotePath(const std::string& name) const override;
    const std::string& workingFolder() const override { return m_cwd; }

private:
    std::chrono::seconds capped(std::chrono::seconds limit) const;
    // Connected, the host key trusted and logged in, for what; a new connection when there is none.
    Outcome ready(const std::string& what);
    Outcome connect(const std::string& what);
    Outcome lookUp(const std::string& what, std::chrono::steady_clock::time_point until, std::string& address);
    Outcome handshake(const std::string& what, std::chrono::steady_clock::time_point until);
    Outcome checkHostKey(const std::string& what);
    Outcome authenticate(const std::string& what);
    void dropConnection();
    // The failure of the last libssh call made for what; the connection is dropped unless the server refused.
    Outcome failed(const std::string& what);
    // One request that waits for one answer: sent to the transcript, guarded by the reply time-out.
    Outcome request(const std::string& what, const std::function<bool()>& call);
    struct FreeAttributes {
        void operator()(sftp_attributes a) const { sftp_attributes_free(a); }
    };
    using Attributes = std::unique_ptr<sftp_attributes_struct, FreeAttributes>;
    Outcome stat(const std::string& path, const std::string& what, Attributes& out);
    // Sets the times of path that are given, keeping the other one.
    Outcome setTimes(const std::string& path, const std::string& what, std::optional<std::int64_t> atime,
                     std::optional<std::int64_t> mtime);
    Outcome receive(const std::string& remote, const std::string& path, const std::string& what, PartFile& sink,
                    TransferStats& stats);
    Outcome send(const std::string& remote, const std::string& path, const std::string& what, SourceFile& source,
                 bool continuing, std::int64_t from, TransferStats& stats);

    Transcript& m_transcript;
    ProgressBar& m_progress;
    Settings m_settings;
    std::function<bool()> m_shouldStop;
    std::unique_ptr<SocketWatch> m_watch;

    ssh_session m_ssh = nullptr;
    sftp_session m_sftp = nullptr;
    std::string m_host;
    int m_port = 22;
    std::string m_user;
    std::string m_password;
    bool m_loggedIn = false;
    bool m_broken = false;      // the connection failed: a new one for the next request
    bool m_smallWrites = false; // the partner failed a large write
    // Uploads that failed with writes in flight: where each file is whole, until it is cut back there.
    std::map<std::string, std::uint64_t> m_wholeUpTo;
    std::chrono::seconds m_waitLimit{0};
    std::string m_home; // where the login put us
    std::string m_cwd;  // always absolute
};

// The operator's view of an SSH host key: "SHA256:..." as OpenSSH prints it,
// and the known_hosts line that trusts it.
struct HostKeyView {
    std::string type; // "ssh-ed25519", "ssh-rsa", ...
    std::string fingerprint;
    std::string knownHostsLine;
};
// Base64 as in known_hosts lines; nullopt for text that is not.
std::optional<std::string> unbase64(std::string_view text);

HostKeyView describeHostKey(const std::string& host, int port, const unsigned char* blob, std::size_t size);

// What an OpenSSH known_hosts file says of a host's key. A host pattern without
// "[host]:port" stands for port 22 only; hashed names (|1|salt|hash) and
// negated or wildcard patterns count as OpenSSH counts them; a key on a
// matching @revoked line is refused whatever else the file says; a
// @cert-authority line trusts no plain key. Changed: the file has another key
// of the same type for the host.
enum class KnownHost { Known, Unknown, Changed, Revoked };
KnownHost lookUpKnownHost(std::string_view knownHostsText, const std::string& host, int port, const unsigned char* blob,
                          std::size_t size);

} // namespace zul::runner
