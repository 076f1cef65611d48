#include "runner/CurlSession.h"

#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace zul::runner {

CurlSession::CurlSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
                         std::function<bool()> shouldStop, int defaultPort)
    : m_transcript(transcript), m_progress(progress), m_settings(settings), m_shouldStop(std::move(shouldStop)),
      m_port(defaultPort)
{
}

void CurlSession::open(std::string host, int port)
{
    close();
    m_host = std::move(host);
    m_port = port;
}

std::function<CURLcode(CURLoption)>& securityOptionRefusal()
{
    static std::function<CURLcode(CURLoption)> refusal;
    return refusal;
}

std::string CurlSession::refusalText(CURLoption o, const char* setting, CURLcode rc)
{
    const curl_easyoption* option = curl_easy_option_by_id(o);
    return std::string("libcurl refused the option ") + (option ? "CURLOPT_" + std::string(option->name) : "?") +
           " for " + setting + ": " + curl_easy_strerror(rc) + "; nothing was sent to the partner without it";
}

Outcome CurlSession::refusedOption(const std::string& what) const
{
    if (m_refusedOption.empty())
        return {};
    return {Failure::Untrusted, what + ": " + m_refusedOption};
}

void CurlSession::setHandleOptions()
{
    CURL* c = m_curl;
    m_refusedOption.clear(); // a new handle asks libcurl again
    setopt(c, CURLOPT_NOSIGNAL, 1L);
    setopt(c, CURLOPT_ERRORBUFFER, m_errorBuffer);
    setopt(c, CURLOPT_WRITEFUNCTION, &CurlSession::onWrite);
    setopt(c, CURLOPT_WRITEDATA, this);
    setopt(c, CURLOPT_READFUNCTION, &CurlSession::onRead);
    setopt(c, CURLOPT_READDATA, this);
    setopt(c, CURLOPT_NOPROGRESS, 0L);
    setopt(c, CURLOPT_XFERINFOFUNCTION, &CurlSession::onProgress);
    setopt(c, CURLOPT_XFERINFODATA, this);
    setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L); // the time-outs themselves are set per request
    setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
    // Larger buffers mean fewer callbacks, and over SFTP more read and write
    // requests in flight at once; libcurl's defaults (16 and 64 KiB) leave
    // loopback and long links idle between requests.
    setopt(c, CURLOPT_BUFFERSIZE, 1L << 20);
    setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, 1L << 20);
}

void CurlSession::resetRequestOptions()
{
    CURL* c = m_curl;
    const auto capped = [this](std::chrono::seconds t) {
        return long(m_waitLimit.count() > 0 ? std::min(t, m_waitLimit).count() : t.count());
    };
    setopt(c, CURLOPT_CONNECTTIMEOUT, capped(m_settings.connectTimeout));
    setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, capped(m_settings.replyTimeout));
    setopt(c, CURLOPT_LOW_SPEED_TIME, capped(m_settings.stallTimeout));
    setopt(c, CURLOPT_NOBODY, 0L);
    setopt(c, CURLOPT_UPLOAD, 0L);
    setopt(c, CURLOPT_APPEND, 0L);
    setopt(c, CURLOPT_DIRLISTONLY, 0L);
    setopt(c, CURLOPT_FILETIME, 0L);
    setopt(c, CURLOPT_INFILESIZE_LARGE, curl_off_t(-1));
    setopt(c, CURLOPT_RESUME_FROM_LARGE, curl_off_t(0));
    m_startedAt = 0;
    m_errorBuffer[0] = '\0';
    m_sinkFailed = false;
}

std::string CurlSession::urlHost() const
{
    return m_host.find(':') != std::string::npos ? "[" + m_host + "]" : m_host;
}

Outcome CurlSession::classifyResult(CURLcode rc, const std::string& what, const std::string& detail, long reply)
{
    Outcome o{Failure::Remote, what + ": " + detail, reply};
    if (!classifyProtocol(rc, what, o)) {
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            o.failure = m_loggedIn ? Failure::Transient : Failure::Unreachable;
            break;
        case CURLE_LOGIN_DENIED:
            o.failure = Failure::Login;
            break;
        case CURLE_ABORTED_BY_CALLBACK:
            o.failure = Failure::Stopped;
            break;
        case CURLE_WRITE_ERROR:
        case CURLE_READ_ERROR:
            if (m_listing.active() && !m_listing.refused().empty()) {
                // Not worth a retry: the same listing would come again.
                o.message = what + ": " + m_listing.refused();
                break;
            }
            o.failure = Failure::Local;
            if (m_sinkFailed && m_sink)
                o.message = what + ": cannot write the local file: " + errnoText(m_sink->error());
            break;
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connectTime = 0;
            curl_easy_getinfo(m_curl, CURLINFO_CONNECT_TIME_T, &connectTime);
            o.failure = (!m_loggedIn && connectTime == 0) ? Failure::Unreachable : Failure::TimedOut;
            break;
        }
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
            o.failure = Failure::Transient;
            break;
        default:
            break;
        }
    }
    // Replies in the 400s are the server's "try again later".
    if (o.failure == Failure::Remote && reply >= 400 && reply < 500)
        o.failure = Failure::Transient;
    return o;
}

Outcome CurlSession::downloaded(const std::string& remote, PartFile& sink, TransferStats& stats, Outcome o)
{
    curl_off_t bytes = 0, micros = 0;
    curl_easy_getinfo(m_curl, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
    curl_easy_getinfo(m_curl, CURLINFO_TOTAL_TIME_T, &micros);
    stats.bytes = sink.size();
    stats.seconds = double(micros) / 1e6;
    curl_off_t time = -1;
    curl_easy_getinfo(m_curl, CURLINFO_FILETIME_T, &time);
    if (time >= 0)
        stats.seen.mtime = time;
    stats.broken = o.failure == Failure::Transient || o.failure == Failure::TimedOut;
    if (o.ok() && bytes != sink.size() - m_startedAt)
        return {Failure::Local, "get " + remote + ": received " + platform::counted(bytes, "byte", "bytes") + " but wrote " +
                                    std::to_string(sink.size() - m_startedAt)};
    return o;
}

Outcome CurlSession::uploaded(const std::string& remote, SourceFile& source, bool checkSize, TransferStats& stats,
                              Outcome o)
{
    curl_off_t bytes = 0, micros = 0;
    curl_easy_getinfo(m_curl, CURLINFO_SIZE_UPLOAD_T, &bytes);
    curl_easy_getinfo(m_curl, CURLINFO_TOTAL_TIME_T, &micros);
    stats.bytes = bytes;
    stats.seconds = double(micros) / 1e6;
    if (o.ok() && checkSize && bytes != source.size() - m_startedAt)
        return {Failure::Transient, "put " + remote + ": sent " + std::to_string(bytes) + " of " +
                                        std::to_string(source.size() - m_startedAt) + " bytes"};
    return o;
}

bool CurlSession::resumeDownload(PartFile& sink, bool setOffset)
{
    // The time comes with the transfer, for the retry's check that the file is unchanged.
    if (m_settings.resume && !ascii())
        setopt(m_curl, CURLOPT_FILETIME, 1L);
    m_startedAt = sink.size();
    if (m_startedAt > 0 && setOffset)
        setopt(m_curl, CURLOPT_RESUME_FROM_LARGE, curl_off_t(m_startedAt));
    return m_startedAt > 0;
}

void CurlSession::startUpload(SourceFile& source, std::int64_t from)
{
    m_startedAt = from;
    ::lseek(source.fd(), from, SEEK_SET);
    setopt(m_curl, CURLOPT_UPLOAD, 1L);
    if (from > 0)
        setopt(m_curl, CURLOPT_APPEND, 1L);
}

size_t CurlSession::readSource(char* buffer, size_t room)
{
    for (;;) {
        const ssize_t r = ::read(m_source->fd(), buffer, room);
        if (r >= 0)
            return size_t(r);
        if (errno != EINTR)
            return CURL_READFUNC_ABORT;
    }
}

size_t CurlSession::onWrite(char* data, size_t size, size_t n, void* self)
{
    auto* s = static_cast<CurlSession*>(self);
    const size_t bytes = size * n;
    if (s->m_sink) {
        if (!s->m_sink->write(data, bytes)) {
            s->m_sinkFailed = true;
            return 0;
        }
    } else if (s->m_listing.active() && !s->m_listing.append(data, bytes, s->m_settings)) {
        return 0;
    }
    return bytes;
}

size_t CurlSession::onRead(char* buffer, size_t size, size_t n, void* self)
{
    auto* s = static_cast<CurlSession*>(self);
    return s->m_source ? s->readSource(buffer, size * n) : 0;
}

int CurlSession::onProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow)
{
    auto* s = static_cast<CurlSession*>(self);
    if (s->m_sink)
        s->m_progress.update(dlNow, dlTotal);
    else if (s->m_source)
        s->m_progress.update(ulNow, ulTotal);
    return s->m_shouldStop && s->m_shouldStop() ? 1 : 0;
}

} // namespace zul::runner
