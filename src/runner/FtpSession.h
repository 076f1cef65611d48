#pragma once

#include "runner/CurlSession.h"

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zul::runner {

// One FTP session over a libcurl easy handle. The handle keeps its control
// connection between requests, so a script of many files logs in once. Paths
// go to the server as written (no CWD per file); relative names are made
// absolute from the working folder that PWD reported, so libcurl never needs
// to move around. When the connection is lost, the next request opens a new
// one and replays the session's state (working folder, SITE commands) first.
// Over TLS (ftpes: AUTH TLS on port 21, ftps: TLS from the first byte) the
// certificate is checked against the CA store or CA_FILE, with the host name,
// and against PINNED_KEY when set; a server that will not speak TLS never
// sees the user or the password.
class FtpSession : public CurlSession {
public:
    FtpSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
               std::function<bool()> shouldStop, Scheme scheme = Scheme::Ftp);
    ~FtpSession() override;

    void setLogin(std::string user, std::string password) override;
    void setAscii(bool ascii) override { m_ascii = ascii; }
    bool ascii() const override { return m_ascii; }

    void close() override;
    void reconnect() override;

    Outcome login() override;
    // Raw commands in order; every reply is collected in replies when given.
    Outcome commands(const std::vector<std::string>& cmds, std::vector<std::string>* replies = nullptr);
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

    // The remote name as sent: relative names prefixed with the working folder.
    std::string remotePath(const std::string& name) const override;
    const std::string& workingFolder() const override { return m_cwd; }

private:
    Outcome moveFolder(const std::string& cmd); // "CWD x" or "CDUP"
    void setTlsOptions();
    Outcome tlsFailure(CURLcode rc, const std::string& detail) const;
    void noteTls();
    void ensureHandle();
    void dropHandle();
    bool connectionLooksDead();
    std::vector<std::string> typeCommands() const;
    void prepare(const std::string& path, const std::vector<std::string>& quote,
                 const std::vector<std::string>& prequote);
    Outcome perform(const std::string& what);
    Outcome classify(CURLcode rc, const std::string& what);
    bool classifyProtocol(CURLcode rc, const std::string& what, Outcome& o) override;
    size_t readSource(char* buffer, size_t room) override;
    std::string url(const std::string& path) const;
    static std::optional<std::string> pwdFrom(const std::vector<std::string>& replies);

    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
    static int closeGently(void*, curl_socket_t fd);

    CURLcode transfer();
    // The server's FEAT lines, asked for once per session, trimmed and upper-cased.
    const std::vector<std::string>& features();
    // The positive replies of this request to the command verb, in order.
    std::vector<std::string> repliesTo(std::string_view verb) const;
    Outcome announcedOtherSize(const std::string& remote, const std::string& reply, std::int64_t announced,
                               std::int64_t got);

    CURLM* m_multi = nullptr;                  // owns the connection cache between requests
    curl_socket_t m_control = CURL_SOCKET_BAD; // the control connection after the last request
    curl_slist* m_quote = nullptr;
    curl_slist* m_prequote = nullptr;
    curl_slist* m_postquote = nullptr;

    Scheme m_scheme = Scheme::Ftp;
    bool m_ascii = false;
    bool m_serverInAscii = false;              // set by our own TYPE A, which libcurl does not know of
    bool m_restorePending = false;             // a new connection must get the session's state first
    std::string m_cwd;                         // as PWD reported it; absolute when it begins with '/'
    std::vector<std::string> m_folderCommands; // replayed when the folder is not absolute
    std::vector<std::string> m_siteCommands;
    std::string m_tlsUsed; // "TLSv1.3 / TLS_AES_256_GCM_SHA384" as libcurl last reported it
    std::optional<std::vector<std::string>> m_features;

    // Per request.
    std::vector<std::string>* m_replies = nullptr;
    std::vector<std::string> m_lastReplies;
    std::vector<std::pair<std::string, std::string>> m_answered; // (verb sent, reply) in order
    std::string m_lastVerb;                                      // of the last command sent
    bool m_sourceAscii = false;
    bool m_lastWasCr = false;
    std::string m_pending; // converted bytes that did not fit curl's buffer
};

} // namespace zul::runner
