#pragma once

#include "runner/CurlSession.h"

#include <curl/curl.h>

#include <string>
#include <vector>

namespace zul::runner {

// One SFTP session over a libcurl easy handle (libssh2 underneath), which
// keeps its SSH connection between requests. SFTP has no working folder on the
// server: this side keeps one, absolute from the login folder, and sends full
// paths. The partner's host key must be in KNOWN_HOSTS; an unknown or changed
// key ends the run with its fingerprint and the line that would trust it.
// "user NAME PASSWORD" logs in with the password, "user NAME" with SSH_KEY.
class SftpSession : public CurlSession {
public:
    SftpSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
                std::function<bool()> shouldStop);
    ~SftpSession() override;

    void setLogin(std::string user, std::string password) override;
    void setAscii(bool ascii) override;
    bool ascii() const override { return false; }

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
    void ensureHandle();
    void dropHandle();
    // Sets the URL for path and resets the per-request options.
    void prepare(const std::string& path, const std::vector<std::string>& quote = {});
    Outcome perform(const std::string& what);
    Outcome classify(CURLcode rc, const std::string& what);
    bool classifyProtocol(CURLcode rc, const std::string& what, Outcome& o) override;
    Outcome folderExists(const std::string& path);
    std::string url(const std::string& path) const;

    static int onKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match, void* self);

    curl_slist* m_quote = nullptr;
    std::string m_trustProblem; // why the host key was refused, for the outcome
    std::string m_home;         // where the login put us
    std::string m_cwd;          // always absolute
};

// The operator's view of an SSH host key: "SHA256:..." as OpenSSH prints it,
// and the known_hosts line that trusts it.
struct HostKeyView {
    std::string type; // "ssh-ed25519", "ssh-rsa", ...
    std::string fingerprint;
    std::string knownHostsLine;
};
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
