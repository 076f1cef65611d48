#include "runner/FtpSession.h"

#include "platform/CommandWords.h"
#include "platform/Text.h"
#include "runner/Masking.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>

namespace zul::runner {

namespace {
// Measured on loopback: the largest receive buffer helps, while send buffers
// beyond 64 KiB fall out of the CPU cache and slow a large upload down.
constexpr long kDownloadBuffer = 512 * 1024;
constexpr long kUploadBuffer = 64 * 1024;
constexpr int kIdleLimitMs = 100; // the longest wait: a stop is heard within it

long replyCodeOf(const std::string& line)
{
    if (line.size() < 3)
        return 0;
    long code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[std::size_t(i)] < '0' || line[std::size_t(i)] > '9')
            return 0;
        code = code * 10 + (line[std::size_t(i)] - '0');
    }
    return code;
}
// The size a reply announces: "213 N" to SIZE, or "(N bytes)" in the 150
// that opens a transfer. Nullopt when it announces none.
std::optional<std::int64_t> announcedSize(const std::string& line)
{
    std::string_view digits;
    const long code = replyCodeOf(line);
    if (code == 213 && line.size() > 4) {
        digits = std::string_view(line).substr(4);
    } else if (code == 150) {
        const auto open = line.rfind('(');
        const auto end = line.find(" bytes)", open == std::string::npos ? 0 : open);
        if (open == std::string::npos || end == std::string::npos)
            return std::nullopt;
        digits = std::string_view(line).substr(open + 1, end - open - 1);
    } else {
        return std::nullopt;
    }
    while (!digits.empty() && digits.back() == ' ')
        digits.remove_suffix(1);
    if (digits.empty() || digits.size() > 18)
        return std::nullopt;
    std::int64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}
} // namespace

FtpSession::FtpSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
                       std::function<bool()> shouldStop, Scheme scheme)
    : CurlSession(transcript, progress, settings, std::move(shouldStop), 21), m_scheme(scheme)
{
}

FtpSession::~FtpSession()
{
    dropHandle();
}

void FtpSession::setLogin(std::string user, std::string password)
{
    m_user = std::move(user);
    m_password = std::move(password);
    m_loggedIn = false;
}

void FtpSession::close()
{
    if (m_curl && m_loggedIn && !connectionLooksDead()) {
        // Said in the open so the transcript shows the server's good-bye.
        prepare("", {"QUIT"}, {});
        setopt(m_curl, CURLOPT_NOBODY, 1L);
        transfer();
    }
    dropHandle();
    m_host.clear();
    m_loggedIn = false;
    m_cwd.clear();
    m_folderCommands.clear();
    m_siteCommands.clear();
    m_restorePending = false;
    m_features.reset();
}

void FtpSession::reconnect()
{
    dropHandle();
    m_restorePending = true;
}

void FtpSession::dropHandle()
{
    if (m_multi) {
        curl_multi_cleanup(m_multi); // sends QUIT on a live connection
        m_multi = nullptr;
    }
    if (m_curl) {
        curl_easy_cleanup(m_curl);
        m_curl = nullptr;
    }
    curl_slist_free_all(m_quote);
    curl_slist_free_all(m_prequote);
    curl_slist_free_all(m_postquote);
    m_quote = m_prequote = m_postquote = nullptr;
    m_serverInAscii = false;
    m_control = CURL_SOCKET_BAD;
}

void FtpSession::ensureHandle()
{
    if (m_curl)
        return;
    m_curl = curl_easy_init();
    m_multi = curl_multi_init();
    setHandleOptions();
    CURL* c = m_curl;
    setopt(c, CURLOPT_VERBOSE, 1L);
    setopt(c, CURLOPT_DEBUGFUNCTION, &FtpSession::onDebug);
    setopt(c, CURLOPT_DEBUGDATA, this);
    setopt(c, CURLOPT_FTP_USE_EPSV, 1L);
    setopt(c, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    setopt(c, CURLOPT_BUFFERSIZE, kDownloadBuffer);
    setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBuffer);
    securityOption(CURLOPT_PROTOCOLS_STR, "ftp,ftps", "the ftp scheme");
    setTlsOptions();
}

bool FtpSession::connectionLooksDead()
{
    if (!m_curl || !m_loggedIn)
        return false;
    if (m_control == CURL_SOCKET_BAD)
        return true;
    char c;
    const ssize_t r = ::recv(m_control, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    // Anything unasked for (EOF, an error, a 421 good-bye) means the session is over.
    return r >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

std::string FtpSession::url(const std::string& path) const
{
    std::string u =
        std::string(m_scheme == Scheme::Ftps ? "ftps://" : "ftp://") + urlHost() + ":" + std::to_string(m_port) + "/";
    if (!path.empty()) {
        char* e = curl_easy_escape(m_curl, path.data(), int(path.size()));
        u += e;
        curl_free(e);
    }
    return u;
}

std::string FtpSession::remotePath(const std::string& name) const
{
    if (name.empty())
        return m_cwd;
    if (name.front() == '/' || name.front() == '\'' || m_cwd.empty() || m_cwd.front() != '/')
        return name;
    return m_cwd + (m_cwd.back() == '/' ? "" : "/") + name;
}

void FtpSession::prepare(const std::string& path, const std::vector<std::string>& quote,
                         const std::vector<std::string>& prequote)
{
    if (connectionLooksDead()) {
        m_transcript.note("the connection was closed; opening a new one");
        reconnect();
    }
    ensureHandle();
    CURL* c = m_curl;
    setopt(c, CURLOPT_URL, url(path).c_str());
    resetRequestOptions();
    setopt(c, CURLOPT_USERNAME, m_user.c_str());
    setopt(c, CURLOPT_PASSWORD, m_password.c_str());
    setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 0L);

    curl_slist_free_all(m_quote);
    curl_slist_free_all(m_prequote);
    curl_slist_free_all(m_postquote);
    m_quote = m_prequote = m_postquote = nullptr;
    std::vector<std::string> all;
    if (m_restorePending) {
        if (!m_cwd.empty() && m_cwd.front() == '/')
            all.push_back("CWD " + m_cwd);
        else
            all.insert(all.end(), m_folderCommands.begin(), m_folderCommands.end());
        for (const auto& s : m_siteCommands)
            all.push_back("SITE " + s);
        if (!all.empty())
            m_transcript.note("restoring the session on the new connection");
    }
    all.insert(all.end(), quote.begin(), quote.end());
    for (const auto& q : all)
        m_quote = curl_slist_append(m_quote, q.c_str());
    for (const auto& q : prequote)
        m_prequote = curl_slist_append(m_prequote, q.c_str());
    setopt(c, CURLOPT_QUOTE, m_quote);
    setopt(c, CURLOPT_PREQUOTE, m_prequote);
    setopt(c, CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr));
    m_lastReplies.clear();
    m_answered.clear();
}

Outcome FtpSession::perform(const std::string& what)
{
    if (Outcome refused = refusedOption(what); !refused.ok())
        return refused;
    const CURLcode rc = transfer();
    m_progress.end();
    Outcome o = classify(rc, what);
    if (o.ok())
        m_restorePending = false;
    return o;
}

// The multi interface with short, growing waits: libcurl can hold a reply it
// has already read while it waits for the socket to speak again, which
// would otherwise cost up to a second per file. After progress it is asked
// again at once: it can leave a step (the data connection after EPSV) for
// the next call with no socket yet to wake it. While the file's bytes move,
// the data socket wakes the loop: it waits for the socket then, so that each
// call moves as much as the socket takes, not the little it freed meanwhile.
CURLcode FtpSession::transfer()
{
    if (curl_multi_add_handle(m_multi, m_curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    int idleMs = 0;
    curl_off_t moved = 0;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0)
            break;
        curl_off_t up = 0, down = 0;
        curl_easy_getinfo(m_curl, CURLINFO_SIZE_UPLOAD_T, &up);
        curl_easy_getinfo(m_curl, CURLINFO_SIZE_DOWNLOAD_T, &down);
        const bool flowing = up + down != moved;
        moved = up + down;
        long timeout = -1;
        curl_multi_timeout(m_multi, &timeout);
        int wait = flowing ? kIdleLimitMs : idleMs;
        if (timeout >= 0 && timeout < wait)
            wait = int(timeout);
        int fds = 0;
        curl_multi_poll(m_multi, nullptr, 0, wait, &fds);
        idleMs = fds > 0 ? 0 : std::clamp(idleMs * 2, 1, kIdleLimitMs);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_curl)
            result = msg->data.result;
    // Taken while the handle still knows its connection; nothing closes it before the next request.
    m_control = CURL_SOCKET_BAD;
    curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &m_control);
    curl_multi_remove_handle(m_multi, m_curl);
    return result;
}

Outcome FtpSession::classify(CURLcode rc, const std::string& what)
{
    if (rc == CURLE_OK)
        return {};
    long reply = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &reply);
    if (reply < 100 && !m_lastReplies.empty())
        reply = replyCodeOf(m_lastReplies.back());
    std::string detail = m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(rc);
    if (auto tls = tlsFailure(rc, detail); tls.failure != Failure::None) {
        tls.message = what + ": " + tls.message;
        return tls;
    }
    if (reply >= 400 && !m_lastReplies.empty() && replyCodeOf(m_lastReplies.back()) == reply)
        detail = m_lastReplies.back();
    return classifyResult(rc, what, m_transcript.scrub(detail), reply);
}

bool FtpSession::classifyProtocol(CURLcode rc, const std::string&, Outcome& o)
{
    switch (rc) {
    case CURLE_FTP_WEIRD_PASS_REPLY:
        o.failure = Failure::Login;
        return true;
    case CURLE_FTP_ACCEPT_TIMEOUT:
        o.failure = Failure::TimedOut;
        return true;
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_WEIRD_SERVER_REPLY:
        o.failure = Failure::Transient;
        return true;
    default:
        return false;
    }
}

Outcome FtpSession::login()
{
    m_loggedIn = false;
    prepare("", {}, {});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    Outcome o = perform("login as " + m_user);
    if (!o.ok())
        return o;
    m_loggedIn = true;
    noteTls();
    const char* entry = nullptr;
    curl_easy_getinfo(m_curl, CURLINFO_FTP_ENTRY_PATH, &entry);
    m_cwd = entry ? entry : "";
    m_folderCommands.clear();
    return o;
}

Outcome FtpSession::commands(const std::vector<std::string>& cmds, std::vector<std::string>* replies)
{
    prepare("", cmds, {});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    m_replies = replies;
    Outcome o = perform(cmds.empty() ? std::string("command") : m_transcript.scrub(maskCommand(cmds.front())));
    m_replies = nullptr;
    return o;
}

std::optional<std::string> FtpSession::pwdFrom(const std::vector<std::string>& replies)
{
    for (auto it = replies.rbegin(); it != replies.rend(); ++it) {
        if (replyCodeOf(*it) != 257)
            continue;
        const auto open = it->find('"');
        if (open == std::string::npos)
            return std::nullopt;
        std::string path;
        for (std::size_t i = open + 1; i < it->size(); ++i) {
            if ((*it)[i] == '"') {
                if (i + 1 < it->size() && (*it)[i + 1] == '"') {
                    path += '"';
                    ++i;
                    continue;
                }
                return path;
            }
            path += (*it)[i];
        }
        return std::nullopt;
    }
    return std::nullopt;
}

Outcome FtpSession::changeFolder(const std::string& name)
{
    return moveFolder("CWD " + name);
}

Outcome FtpSession::changeUp()
{
    return moveFolder("CDUP");
}

Outcome FtpSession::printFolder(std::string& shown)
{
    std::vector<std::string> replies;
    Outcome o = commands({"PWD"}, &replies);
    if (o.ok() && !replies.empty())
        shown = replies.back();
    return o;
}

Outcome FtpSession::remove(const std::string& name)
{
    return commands({"DELE " + remotePath(name)});
}

Outcome FtpSession::makeFolder(const std::string& name)
{
    return commands({"MKD " + remotePath(name)});
}

Outcome FtpSession::removeFolder(const std::string& name)
{
    return commands({"RMD " + remotePath(name)});
}

Outcome FtpSession::rename(const std::string& from, const std::string& to)
{
    return commands({"RNFR " + remotePath(from), "RNTO " + remotePath(to)});
}

Outcome FtpSession::quote(const std::string& text)
{
    const auto sp = text.find(' ');
    std::string verb = text.substr(0, sp);
    for (char& ch : verb)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    const std::string rest = sp == std::string::npos ? std::string() : text.substr(sp + 1);
    // Commands that change the session go through it, so it can restore them.
    if (verb == "CWD" && !rest.empty())
        return moveFolder("CWD " + rest);
    if (verb == "CDUP")
        return moveFolder("CDUP");
    if (verb == "SITE" && !rest.empty())
        return site(rest);
    return commands({text});
}

Outcome FtpSession::passive()
{
    m_transcript.note("passive mode (EPSV, then PASV) is always used");
    return {};
}

Outcome FtpSession::moveFolder(const std::string& cmd)
{
    std::vector<std::string> replies;
    // With an absolute folder the server is told where to go, not how.
    std::string sent = cmd;
    if (cmd.rfind("CWD ", 0) == 0)
        sent = "CWD " + remotePath(cmd.substr(4));
    Outcome o = commands({sent, "*PWD"}, &replies);
    if (!o.ok())
        return o;
    const auto pwd = pwdFrom(replies);
    if (pwd && !pwd->empty() && pwd->front() == '/') {
        m_cwd = *pwd;
        m_folderCommands.clear();
    } else {
        m_cwd = pwd.value_or("");
        m_folderCommands.push_back(sent);
    }
    return o;
}

Outcome FtpSession::site(const std::string& text)
{
    Outcome o = commands({"SITE " + text});
    if (o.ok())
        m_siteCommands.push_back(text);
    return o;
}

Outcome FtpSession::facts(const std::string& remote, ServerFacts& out, Facts which)
{
    prepare(remotePath(remote), {}, {});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    setopt(m_curl, CURLOPT_FILETIME, which == Facts::SizeAndTime ? 1L : 0L);
    Outcome o = perform("size and time of " + remote);
    if (!o.ok())
        return o;
    m_serverInAscii = false;
    curl_off_t size = -1, time = -1;
    curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    curl_easy_getinfo(m_curl, CURLINFO_FILETIME_T, &time);
    out.size = size >= 0 ? std::optional<std::int64_t>(size) : std::nullopt;
    out.mtime = time >= 0 ? std::optional<std::int64_t>(time) : std::nullopt;
    return o;
}

// The TYPE the next transfer needs, sent by us rather than by libcurl.
std::vector<std::string> FtpSession::typeCommands() const
{
    if (m_ascii)
        return {"TYPE A"};
    if (m_serverInAscii)
        return {"TYPE I"};
    return {};
}

Outcome FtpSession::download(const std::string& remote, PartFile& sink, bool verifySize, TransferStats& stats)
{
    // libcurl would rewrite line ends itself in ASCII mode; the network's CR LF
    // is this system's own line end, so TYPE A is sent behind its back instead.
    // libcurl would stop at the size the server announces and call the file
    // whole: it is received to the end instead, and compared afterwards. The
    // SIZE is asked for ourselves ('*': a server without it is no failure).
    const bool compare = verifySize && !m_ascii;
    std::vector<std::string> before = typeCommands();
    if (compare || (m_settings.resume && !m_ascii))
        before.push_back("*SIZE " + remotePath(remote));
    // Received to the end, libcurl sends no REST of its own: it is asked for here.
    if (sink.size() > 0)
        before.push_back("REST " + std::to_string(sink.size()));
    prepare(remotePath(remote), {}, before);
    setopt(m_curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    const bool resumed = resumeDownload(sink, false);
    m_sink = &sink;
    m_progress.begin(remote, -1);
    Outcome o = perform("get " + remote);
    m_sink = nullptr;
    m_serverInAscii = m_ascii;
    stats.seen = {};
    const std::vector<std::string> sizeReplies = repliesTo("SIZE");
    for (const auto& reply : sizeReplies)
        stats.seen.size = announcedSize(reply);
    o = downloaded(remote, sink, stats, std::move(o));
    if (!o.ok() || !compare)
        return o;
    for (const auto& reply : m_lastReplies) {
        // After a REST the opening reply may count what is left, or the whole file.
        if (replyCodeOf(reply) != 150 || resumed)
            continue;
        if (const auto announced = announcedSize(reply); announced && *announced != sink.size())
            return announcedOtherSize(remote, reply, *announced, sink.size());
    }
    for (const auto& reply : sizeReplies)
        if (const auto announced = announcedSize(reply); announced && *announced != sink.size())
            return announcedOtherSize(remote, reply, *announced, sink.size());
    return o;
}

Outcome FtpSession::announcedOtherSize(const std::string& remote, const std::string& reply, std::int64_t announced,
                                       std::int64_t got)
{
    const std::string what = "get " + remote + ": the server announced " + std::to_string(announced) + " bytes (\"" +
                             reply + "\") but sent " + std::to_string(got) + "; the file is not taken";
    m_transcript.error(what);
    return {Failure::Transient, what};
}

Outcome FtpSession::upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats,
                           std::int64_t from)
{
    prepare(remotePath(remote), {}, typeCommands());
    startUpload(source, from);
    if (append)
        setopt(m_curl, CURLOPT_APPEND, 1L);
    if (!m_ascii)
        setopt(m_curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(source.size() - from));
    // The check's size is asked for on the upload's own exchange, right after
    // the STOR: a request of its own would cost SIZE and libcurl's REST 0.
    // '*': a server without SIZE is no failure of the upload.
    const bool askSize = !m_ascii && !append && m_settings.verify != Settings::Verify::Off;
    if (askSize) {
        m_postquote = curl_slist_append(m_postquote, ("*SIZE " + remotePath(remote)).c_str());
        setopt(m_curl, CURLOPT_POSTQUOTE, m_postquote);
    }
    m_source = &source;
    m_sourceAscii = m_ascii;
    m_lastWasCr = false;
    m_pending.clear();
    m_progress.begin(remote, m_ascii ? -1 : source.size());
    Outcome o = perform((append || from > 0 ? "append " : "put ") + remote);
    m_source = nullptr;
    m_serverInAscii = m_ascii;
    stats.seen = {};
    if (askSize)
        for (const auto& reply : repliesTo("SIZE"))
            stats.seen.size = announcedSize(reply);
    return uploaded(remote, source, !m_ascii, stats, std::move(o));
}

std::vector<std::string> FtpSession::repliesTo(std::string_view verb) const
{
    std::vector<std::string> out;
    for (const auto& [sent, reply] : m_answered)
        if (sent == verb && replyCodeOf(reply) >= 200 && replyCodeOf(reply) < 300)
            out.push_back(reply);
    return out;
}

const std::vector<std::string>& FtpSession::features()
{
    if (!m_features) {
        std::vector<std::string> replies;
        const Outcome o = commands({"FEAT"}, &replies);
        // Only the server's own answer counts: a lost connection says nothing
        // about what it offers, so it is asked again next time.
        static const std::vector<std::string> unknown;
        if (!o.ok() && o.failure != Failure::Remote)
            return unknown;
        m_features.emplace();
        if (o.ok())
            for (const auto& r : replies)
                if (!r.empty() && r.front() == ' ')
                    m_features->push_back(platform::upper(platform::trim(r)));
    }
    return *m_features;
}

Outcome FtpSession::remoteHash(const std::string& remote, RemoteHash& out)
{
    const auto& feat = features();
    const auto offered = [&](std::string_view f) {
        return std::any_of(feat.begin(), feat.end(), [&](const std::string& l) { return l == f; });
    };
    const std::string path = remotePath(remote);
    // HASH names its algorithms in one line: "HASH SHA-256*;SHA-1;MD5;CRC32".
    for (const auto& line : feat) {
        if (line.rfind("HASH ", 0) != 0)
            continue;
        for (const char* algorithm : {"SHA-256", "SHA-1", "MD5", "CRC32"}) {
            std::string list = ";" + line.substr(5) + ";";
            list.erase(std::remove(list.begin(), list.end(), '*'), list.end());
            if (list.find(std::string(";") + algorithm + ";") == std::string::npos)
                continue;
            Outcome o = commands({"OPTS HASH " + std::string(algorithm), "HASH " + path});
            if (!o.ok())
                return o;
            // "213 SHA-256 0-49 A1B2... name": the digits follow the byte range.
            const auto answer = repliesTo("HASH");
            const auto words = platform::splitWords(answer.empty() ? std::string() : answer.back());
            if (words.size() < 4 || replyCodeOf(words[0]) != 213)
                return {Failure::Remote, "HASH " + remote + ": unexpected reply"};
            out = {algorithm, words[3]};
            return o;
        }
    }
    for (const auto& [verb, algorithm] : {std::pair{"XSHA256", "SHA-256"}, std::pair{"XSHA1", "SHA-1"},
                                          std::pair{"XMD5", "MD5"}, std::pair{"XCRC", "CRC32"}}) {
        if (!offered(verb))
            continue;
        Outcome o = commands({std::string(verb) + " " + path});
        if (!o.ok())
            return o;
        // "250 9A3C..." or "213 9a3c... name": the first word of hex digits.
        const auto answer = repliesTo(verb);
        const auto words = platform::splitWords(answer.empty() ? std::string() : answer.back());
        for (std::size_t i = 1; i < words.size(); ++i)
            if (!words[i].empty() && words[i].find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
                out = {algorithm, words[i]};
                return o;
            }
        return {Failure::Remote, std::string(verb) + " " + remote + ": no hash in the reply"};
    }
    return {Failure::Unsupported, "the server offers no hash (HASH, XSHA256, XSHA1, XMD5 or XCRC in FEAT)"};
}

Outcome FtpSession::setTime(const std::string& remote, std::int64_t mtime)
{
    const auto& feat = features();
    if (std::find(feat.begin(), feat.end(), "MFMT") == feat.end())
        return {Failure::Unsupported, "the server offers no MFMT: the times of uploads are not kept"};
    const std::time_t t = std::time_t(mtime);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &utc);
    return commands({"MFMT " + std::string(stamp) + " " + remotePath(remote)});
}

Outcome FtpSession::list(const std::string& remote, bool namesOnly, std::string& out)
{
    std::string path = remotePath(remote);
    if (!path.empty() && path.back() != '/')
        path += '/';
    prepare(path, {}, {});
    setopt(m_curl, CURLOPT_DIRLISTONLY, namesOnly ? 1L : 0L);
    m_listing.start(&out);
    Outcome o = perform(std::string(namesOnly ? "ls " : "dir ") + (remote.empty() ? "." : remote));
    m_listing.stop();
    m_serverInAscii = false; // libcurl set TYPE A for the listing and knows it
    return o;
}

int FtpSession::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self)
{
    auto* s = static_cast<FtpSession*>(self);
    constexpr std::string_view tls = "SSL connection using ";
    if (type == CURLINFO_TEXT && size > tls.size() && std::string_view(data, tls.size()) == tls) {
        s->m_tlsUsed.assign(data + tls.size(), size - tls.size());
        while (!s->m_tlsUsed.empty() && (s->m_tlsUsed.back() == '\n' || s->m_tlsUsed.back() == '\r'))
            s->m_tlsUsed.pop_back();
    }
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0;
    std::string_view text(data, size);
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string line(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        if (line.empty())
            continue;
        if (type == CURLINFO_HEADER_OUT) {
            s->m_transcript.sent(line);
            s->m_lastVerb = platform::upper(line.substr(0, line.find(' ')));
        } else {
            s->m_transcript.reply(line);
            s->m_lastReplies.push_back(line);
            s->m_answered.emplace_back(s->m_lastVerb, line);
            if (s->m_sink)
                if (const auto size = announcedSize(line))
                    s->m_progress.expect(*size);
            if (s->m_replies)
                s->m_replies->push_back(line);
        }
    }
    return 0;
}

size_t FtpSession::readSource(char* buffer, size_t room)
{
    if (!m_sourceAscii)
        return CurlSession::readSource(buffer, room);
    // Network ASCII: every line ends in CR LF; lines that end in LF alone get a CR.
    if (m_pending.empty()) {
        std::string raw(room, '\0');
        const size_t r = CurlSession::readSource(raw.data(), raw.size());
        if (r == CURL_READFUNC_ABORT)
            return r;
        raw.resize(r);
        for (char c : raw) {
            if (c == '\n' && !m_lastWasCr)
                m_pending += '\r';
            m_pending += c;
            m_lastWasCr = c == '\r';
        }
    }
    const size_t give = std::min(room, m_pending.size());
    m_pending.copy(buffer, give);
    m_pending.erase(0, give);
    return give;
}

} // namespace zul::runner
