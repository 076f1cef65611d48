#pragma once

#include "runner/Session.h"

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
    Outcome facts(const std::string& remote, ServerFacts& out) override;
    Outcome download(const std::string& remote, PartFile& sink, bool verifySize, TransferStats& stats) override;
    Outcome upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats) override;
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
    Outcome folderExists(const std::string& path);
    std::string url(const std::string& path) const;

    static int onKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match, void* self);
    static size_t onWrite(char* data, size_t size, size_t n, void* self);
    static size_t onRead(char* buffer, size_t size, size_t n, void* self);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow);

    Transcript& m_transcript;
    ProgressBar& m_progress;
    Settings m_settings;
    std::function<bool()> m_shouldStop;

    CURL* m_curl = nullptr;
    curl_slist* m_quote = nullptr;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    std::string m_trustProblem; // why the host key was refused, for the outcome

    std::string m_host;
    int m_port = 22;
    std::string m_user;
    std::string m_password;
    bool m_loggedIn = false;
    std::chrono::seconds m_waitLimit{0};
    std::string m_home; // where the login put us
    std::string m_cwd;  // always absolute

    // Per request.
    PartFile* m_sink = nullptr;
    ListingBuffer m_listing;
    SourceFile* m_source = nullptr;
    bool m_sinkFailed = false;
};

// The operator's view of an SSH host key: "SHA256:..." as OpenSSH prints it,
// and the known_hosts line that trusts it.
struct HostKeyView {
    std::string type; // "ssh-ed25519", "ssh-rsa", ...
    std::string fingerprint;
    std::string knownHostsLine;
};
HostKeyView describeHostKey(const std::string& host, int port, const unsigned char* blob, std::size_t size);

} // namespace zul::runner
