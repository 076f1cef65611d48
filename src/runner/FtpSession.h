#pragma once

#include "runner/Delivery.h"
#include "runner/LocalFiles.h"
#include "runner/Settings.h"
#include "runner/Transcript.h"

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zul::runner {

enum class Failure {
    None,
    Transient,   // worth another attempt on a new connection
    TimedOut,    // the partner went quiet: no reply, no byte moved; retried like Transient
    Unreachable, // no connection to the partner
    Login,       // user or password refused
    Remote,      // the server refused for good (5xx)
    Local,       // a local file could not be read or written
    Stopped,     // interrupted or past the run's deadline
};

struct Outcome {
    Failure failure = Failure::None;
    std::string message;
    long reply = 0;
    bool ok() const { return failure == Failure::None; }
};

struct TransferStats {
    std::int64_t bytes = 0;
    double seconds = 0;
};

// One FTP session over a libcurl easy handle. The handle keeps its control
// connection between requests, so a script of many files logs in once. Paths
// go to the server as written (no CWD per file); relative names are made
// absolute from the working folder that PWD reported, so libcurl never needs
// to move around. When the connection is lost, the next request opens a new
// one and replays the session's state (working folder, SITE commands) first.
class FtpSession {
public:
    FtpSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
               std::function<bool()> shouldStop);
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    void open(std::string host, int port);
    void setLogin(std::string user, std::string password);
    bool hasHost() const { return !m_host.empty(); }
    const std::string& host() const { return m_host; }
    bool loggedIn() const { return m_loggedIn; }
    void setAscii(bool ascii) { m_ascii = ascii; }
    // Caps the connect, reply and stall time-outs of the next requests (zero: the settings alone).
    void setWaitLimit(std::chrono::seconds limit) { m_waitLimit = limit; }
    bool ascii() const { return m_ascii; }

    // Drops the connection (QUIT when it is alive) and forgets the session.
    void close();
    // Drops the connection but keeps the session, to be restored on the next request.
    void reconnect();

    Outcome login();
    // Raw commands in order; every reply is collected in replies when given.
    Outcome commands(const std::vector<std::string>& cmds, std::vector<std::string>* replies = nullptr);
    Outcome changeFolder(const std::string& cmd); // "CWD x" or "CDUP"
    Outcome site(const std::string& text);
    Outcome facts(const std::string& remote, ServerFacts& out);
    Outcome download(const std::string& remote, PartFile& sink, bool verifySize, TransferStats& stats);
    Outcome upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats);
    Outcome list(const std::string& remote, bool namesOnly, std::string& out);

    // The remote name as sent: relative names prefixed with the working folder.
    std::string remotePath(const std::string& name) const;
    const std::string& workingFolder() const { return m_cwd; }

private:
    void ensureHandle();
    void dropHandle();
    bool connectionLooksDead();
    std::vector<std::string> typeCommands() const;
    void prepare(const std::string& path, const std::vector<std::string>& quote,
                 const std::vector<std::string>& prequote);
    Outcome perform(const std::string& what);
    Outcome classify(CURLcode rc, const std::string& what);
    std::string url(const std::string& path) const;
    static std::optional<std::string> pwdFrom(const std::vector<std::string>& replies);

    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
    static size_t onWrite(char* data, size_t size, size_t n, void* self);
    static size_t onRead(char* buffer, size_t size, size_t n, void* self);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow);

    Transcript& m_transcript;
    ProgressBar& m_progress;
    Settings m_settings;
    std::function<bool()> m_shouldStop;

    CURLcode transfer();

    CURL* m_curl = nullptr;
    CURLM* m_multi = nullptr;                  // owns the connection cache between requests
    curl_socket_t m_control = CURL_SOCKET_BAD; // the control connection after the last request
    curl_slist* m_quote = nullptr;
    curl_slist* m_prequote = nullptr;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    std::string m_host;
    int m_port = 21;
    std::string m_user;
    std::string m_password;
    bool m_loggedIn = false;
    bool m_ascii = false;
    bool m_serverInAscii = false;              // set by our own TYPE A, which libcurl does not know of
    bool m_restorePending = false;             // a new connection must get the session's state first
    std::string m_cwd;                         // as PWD reported it; absolute when it begins with '/'
    std::vector<std::string> m_folderCommands; // replayed when the folder is not absolute
    std::vector<std::string> m_siteCommands;

    // Per request.
    std::vector<std::string>* m_replies = nullptr;
    std::vector<std::string> m_lastReplies;
    PartFile* m_sink = nullptr;
    std::string* m_text = nullptr;
    SourceFile* m_source = nullptr;
    bool m_sourceAscii = false;
    bool m_lastWasCr = false;
    std::string m_pending; // converted bytes that did not fit curl's buffer
    bool m_sinkFailed = false;
    long m_listNames = 0;
    std::string m_listRefused; // why a listing was cut off
    std::chrono::seconds m_waitLimit{0};
};

} // namespace zul::runner
