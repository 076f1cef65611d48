#pragma once

#include "runner/Session.h"

#include <curl/curl.h>

#include <functional>
#include <string>

namespace zul::runner {

// curl_easy_setopt for the options without a bearing on security, none of which can fail on a valid
// handle; the others go through CurlSession::securityOption.
template <typename T> void setopt(CURL* c, CURLoption o, T v)
{
    curl_easy_setopt(c, o, v);
}

// Asked before libcurl whenever an option that carries security is set: a code
// other than CURLE_OK stands for libcurl's refusal. Empty in a run; tests make
// libcurl refuse through it.
std::function<CURLcode(CURLoption)>& securityOptionRefusal();

// What the libcurl sessions share: the partner and login, one easy handle with
// the callbacks that feed the local file, the listing and the progress bar, the
// per-request time-outs, and the classification of libcurl's results that does
// not depend on the protocol.
class CurlSession : public Session {
public:
    CurlSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
                std::function<bool()> shouldStop, int defaultPort);
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    void open(std::string host, int port) override;
    bool hasHost() const override { return !m_host.empty(); }
    const std::string& host() const override { return m_host; }
    bool loggedIn() const override { return m_loggedIn; }
    void setWaitLimit(std::chrono::seconds limit) override { m_waitLimit = limit; }

protected:
    // Options every new handle gets: callbacks, error buffer, stall detection.
    void setHandleOptions();
    // Time-outs and the per-request options back to their defaults, before each request.
    void resetRequestOptions();
    // An option that carries security (CA, pin, known hosts, TLS version, SSH
    // key, verification), named by the setting it comes from. libcurl may refuse
    // one (an option its TLS library lacks answers "not built in"): the session
    // never goes on without it. The first refusal is kept and every request of
    // this handle fails on it before anything is sent.
    template <typename T> void securityOption(CURLoption o, T v, const char* setting)
    {
        const auto& refusal = securityOptionRefusal();
        CURLcode rc = refusal ? refusal(o) : CURLE_OK;
        if (rc == CURLE_OK)
            rc = curl_easy_setopt(m_curl, o, v);
        if (rc != CURLE_OK && m_refusedOption.empty())
            m_refusedOption = refusalText(o, setting, rc);
    }
    // The kept refusal as a failure; ok when libcurl took every option.
    Outcome refusedOption(const std::string& what) const;

    // The host as it goes into a URL: IPv6 addresses in brackets.
    std::string urlHost() const;

    // A result that is not CURLE_OK, with the detail to show and the partner's reply code.
    Outcome classifyResult(CURLcode rc, const std::string& what, const std::string& detail, long reply);
    // The protocol's own codes: true when o is settled.
    virtual bool classifyProtocol(CURLcode, const std::string&, Outcome&) { return false; }

    // Stats of the transfer just performed; a byte count that does not match is a failure.
    Outcome downloaded(const std::string& remote, PartFile& sink, TransferStats& stats, Outcome o);
    Outcome uploaded(const std::string& remote, SourceFile& source, bool checkSize, TransferStats& stats, Outcome o);
    // A download that continues a part file, from its size; false when it starts at byte 0.
    // setOffset false: the session asks for the offset itself.
    bool resumeDownload(PartFile& sink, bool setOffset = true);
    // An upload of source from byte from on, appended to what the partner has.
    void startUpload(SourceFile& source, std::int64_t from);

    // Bytes for an upload from m_source; zero at its end, CURL_READFUNC_ABORT on an error.
    virtual size_t readSource(char* buffer, size_t room);

    Transcript& m_transcript;
    ProgressBar& m_progress;
    Settings m_settings;
    std::function<bool()> m_shouldStop;

    CURL* m_curl = nullptr;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};

    std::string m_host;
    int m_port;
    std::string m_user;
    std::string m_password;
    bool m_loggedIn = false;
    std::chrono::seconds m_waitLimit{0};

    // Per request.
    PartFile* m_sink = nullptr;
    ListingBuffer m_listing;
    SourceFile* m_source = nullptr;
    bool m_sinkFailed = false;
    std::int64_t m_startedAt = 0; // the byte a download or upload started from

private:
    static std::string refusalText(CURLoption o, const char* setting, CURLcode rc);
    std::string m_refusedOption;

    static size_t onWrite(char* data, size_t size, size_t n, void* self);
    static size_t onRead(char* buffer, size_t size, size_t n, void* self);
    static int onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow);
};

} // namespace zul::runner
