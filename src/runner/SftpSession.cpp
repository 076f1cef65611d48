#include "runner/SftpSession.h"

#include <algorithm>
#include "platform/CommandWords.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <ctime>
#include <fnmatch.h>
#include <unistd.h>

namespace zul::runner {

namespace {
constexpr long kBuffer = 512 * 1024;

const char* const kSftpQuoteVerbs[] = {"chgrp", "chmod", "chown", "atime", "mtime", "ln",
                                       "symlink", "mkdir", "rename", "rmdir", "rm", "statvfs"};

// A path as libcurl's SFTP command parser reads it: quoted, with " and \ escaped.
std::string quoted(const std::string& path)
{
    std::string out = "\"";
    for (char ch : path) {
        if (ch == '"' || ch == '\\')
            out += '\\';
        out += ch;
    }
    return out + "\"";
}

// "/a/./b/../c//" becomes "/a/c".
std::string normalised(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string out;
    for (const auto& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string lowerWord(const std::string& text)
{
    std::string w = text.substr(0, text.find(' '));
    for (char& ch : w)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return w;
}

// Names-only or long listings without the "." and ".." entries that SFTP servers return,
// and with only the names that match pattern when one is given.
std::string withoutDotEntries(const std::string& text, bool namesOnly, const std::string& pattern)
{
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        const std::string line = text.substr(start, nl - start);
        const std::string name = namesOnly ? line : line.substr(line.find_last_of(' ') + 1);
        if (name != "." && name != ".." && (pattern.empty() || ::fnmatch(pattern.c_str(), name.c_str(), 0) == 0))
            out += line + "\n";
        start = nl + 1;
    }
    return out;
}
} // namespace

SftpSession::SftpSession(Transcript& transcript, ProgressBar& progress, const Settings& settings,
                         std::function<bool()> shouldStop)
    : CurlSession(transcript, progress, settings, std::move(shouldStop), 22)
{
}

SftpSession::~SftpSession()
{
    dropHandle();
}

void SftpSession::setLogin(std::string user, std::string password)
{
    dropHandle(); // a new user needs a new SSH connection
    m_user = std::move(user);
    m_password = std::move(password);
    m_loggedIn = false;
    m_cwd.clear(); // the new user starts in its own login folder
}

void SftpSession::setAscii(bool ascii)
{
    if (ascii)
        m_transcript.note("SFTP has no ASCII mode: files move unchanged, byte for byte");
}

void SftpSession::close()
{
    dropHandle();
    m_host.clear();
    m_loggedIn = false;
    m_home.clear();
    m_cwd.clear();
}

void SftpSession::reconnect()
{
    dropHandle();
}

void SftpSession::dropHandle()
{
    if (m_curl) {
        curl_easy_cleanup(m_curl); // ends the SSH session politely when it is alive
        m_curl = nullptr;
    }
    curl_slist_free_all(m_quote);
    m_quote = nullptr;
}

void SftpSession::ensureHandle()
{
    if (m_curl)
        return;
    m_curl = curl_easy_init();
    setHandleOptions();
    CURL* c = m_curl;
    setopt(c, CURLOPT_BUFFERSIZE, kBuffer);
    setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, kBuffer);
    securityOption(CURLOPT_PROTOCOLS_STR, "sftp", "the sftp scheme");
    // Without a known_hosts file libcurl would accept any key: one is always given.
    securityOption(CURLOPT_SSH_KNOWNHOSTS, m_settings.knownHosts.c_str(), "KNOWN_HOSTS");
    securityOption(CURLOPT_SSH_KEYFUNCTION, &SftpSession::onKey, "the host key check");
    setopt(c, CURLOPT_SSH_KEYDATA, this);
    setopt(c, CURLOPT_USERNAME, m_user.c_str());
    if (m_password.empty()) {
        securityOption(CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PUBLICKEY), "SSH_KEY");
        securityOption(CURLOPT_SSH_PRIVATE_KEYFILE, m_settings.sshKey.c_str(), "SSH_KEY");
    } else {
        securityOption(CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PASSWORD | CURLSSH_AUTH_KEYBOARD), "the login");
        setopt(c, CURLOPT_PASSWORD, m_password.c_str());
    }
}

std::string SftpSession::url(const std::string& path) const
{
    std::string u = "sftp://" + urlHost() + ":" + std::to_string(m_port);
    std::size_t start = 0;
    while (start < path.size()) {
        auto slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start) {
            char* e = curl_easy_escape(m_curl, path.data() + start, int(slash - start));
            u += e;
            curl_free(e);
        }
        if (slash < path.size())
            u += '/';
        start = slash + 1;
    }
    return u;
}

std::string SftpSession::remotePath(const std::string& name) const
{
    if (name.empty())
        return m_cwd;
    if (name.front() == '/')
        return normalised(name);
    return normalised(m_cwd + "/" + name);
}

void SftpSession::prepare(const std::string& path, const std::vector<std::string>& quote)
{
    ensureHandle();
    CURL* c = m_curl;
    setopt(c, CURLOPT_URL, url(path.empty() ? std::string("/") : path).c_str());
    resetRequestOptions();
    curl_slist_free_all(m_quote);
    m_quote = nullptr;
    for (const auto& q : quote)
        m_quote = curl_slist_append(m_quote, q.c_str());
    setopt(c, CURLOPT_QUOTE, m_quote);
    m_trustProblem.clear();
}

Outcome SftpSession::perform(const std::string& what)
{
    if (Outcome refused = refusedOption(what); !refused.ok())
        return refused;
    m_transcript.sent("sftp " + what);
    const CURLcode rc = curl_easy_perform(m_curl);
    m_progress.end();
    return classify(rc, what);
}

Outcome SftpSession::classify(CURLcode rc, const std::string& what)
{
    if (rc == CURLE_OK)
        return {};
    return classifyResult(rc, what, m_transcript.scrub(m_errorBuffer[0] ? m_errorBuffer : curl_easy_strerror(rc)), 0);
}

bool SftpSession::classifyProtocol(CURLcode rc, const std::string& what, Outcome& o)
{
    switch (rc) {
    case CURLE_PEER_FAILED_VERIFICATION:
        o.failure = Failure::Untrusted;
        if (!m_trustProblem.empty())
            o.message = what + ": " + m_trustProblem;
        return true;
    case CURLE_LOGIN_DENIED:
        o.failure = Failure::Login;
        if (m_password.empty())
            o.message += " (key " + m_settings.sshKey + ", set by SSH_KEY)";
        return true;
    case CURLE_SSH:
        // "(4/-31)": the server answered with an SFTP status (failure, no such
        // file, ...), so the connection stands and a retry would get the same
        // answer, as a 5xx reply over FTP. Anything else may be a lost connection.
        o.failure = std::string_view(m_errorBuffer).find("/-31)") != std::string_view::npos ? Failure::Remote
                                                                                            : Failure::Transient;
        return true;
    default:
        return false;
    }
}

Outcome SftpSession::login()
{
    m_loggedIn = false;
    if (m_password.empty() && ::access(m_settings.sshKey.c_str(), R_OK) != 0)
        return {Failure::Login, "login as " + m_user + ": no password and no readable SSH key " + m_settings.sshKey +
                                    " (" + errnoText(errno) + "; SSH_KEY names another one)"};
    prepare("/");
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    Outcome o = perform("login as " + m_user);
    if (!o.ok())
        return o;
    m_loggedIn = true;
    const char* entry = nullptr;
    curl_easy_getinfo(m_curl, CURLINFO_FTP_ENTRY_PATH, &entry);
    m_home = entry && *entry ? normalised(entry) : std::string("/");
    if (m_cwd.empty())
        m_cwd = m_home;
    m_transcript.note("logged in; remote folder is " + m_cwd);
    return o;
}

// A folder is known by its time stamp: the stat of "path/" fails for files and missing names.
Outcome SftpSession::folderExists(const std::string& path)
{
    prepare(path == "/" ? path : path + "/");
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    setopt(m_curl, CURLOPT_FILETIME, 1L);
    Outcome o = perform("stat " + path);
    if (!o.ok())
        return o;
    curl_off_t time = -1;
    curl_easy_getinfo(m_curl, CURLINFO_FILETIME_T, &time);
    if (time < 0)
        return {Failure::Remote, "cd " + path + ": no such folder"};
    return o;
}

Outcome SftpSession::changeFolder(const std::string& name)
{
    const std::string target = remotePath(name);
    Outcome o = folderExists(target);
    if (o.ok())
        m_cwd = target;
    return o;
}

Outcome SftpSession::changeUp()
{
    return changeFolder("..");
}

Outcome SftpSession::printFolder(std::string& shown)
{
    shown = "\"" + m_cwd + "\" is the remote folder";
    return {};
}

Outcome SftpSession::remove(const std::string& name)
{
    const std::string p = remotePath(name);
    prepare("/", {"rm " + quoted(p)});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    return perform("rm " + p);
}

Outcome SftpSession::makeFolder(const std::string& name)
{
    const std::string p = remotePath(name);
    prepare("/", {"mkdir " + quoted(p)});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    return perform("mkdir " + p);
}

Outcome SftpSession::removeFolder(const std::string& name)
{
    const std::string p = remotePath(name);
    prepare("/", {"rmdir " + quoted(p)});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    return perform("rmdir " + p);
}

Outcome SftpSession::rename(const std::string& from, const std::string& to)
{
    const std::string a = remotePath(from);
    const std::string b = remotePath(to);
    prepare("/", {"rename " + quoted(a) + " " + quoted(b)});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    return perform("rename " + a + " " + b);
}

Outcome SftpSession::site(const std::string&)
{
    return {Failure::Unsupported, "site is an FTP command; this partner speaks SFTP (sftp://)"};
}

Outcome SftpSession::quote(const std::string& text)
{
    const std::string verb = lowerWord(text);
    if (std::find(std::begin(kSftpQuoteVerbs), std::end(kSftpQuoteVerbs), verb) == std::end(kSftpQuoteVerbs))
        return {Failure::Unsupported, "quote " + text.substr(0, text.find(' ')) +
                                          ": not an SFTP command; over sftp:// quote takes chmod, chown, chgrp, "
                                          "atime, mtime, ln, symlink, mkdir, rename, rmdir, rm or statvfs"};
    // Names are taken from the working folder, as every other command takes them.
    auto words = platform::splitWords(text);
    const std::size_t firstPath = (verb == "chgrp" || verb == "chmod" || verb == "chown" || verb == "atime" ||
                                   verb == "mtime")
                                      ? 2
                                      : 1;
    std::string sent = words[0];
    for (std::size_t i = 1; i < words.size(); ++i)
        sent += " " + (i >= firstPath ? quoted(remotePath(words[i])) : words[i]);
    prepare("/", {sent});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    return perform(sent);
}

Outcome SftpSession::passive()
{
    return {Failure::Unsupported, "passive is an FTP command; this partner speaks SFTP (sftp://)"};
}

Outcome SftpSession::facts(const std::string& remote, ServerFacts& out, Facts)
{
    const std::string p = remotePath(remote);
    prepare(p);
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    setopt(m_curl, CURLOPT_FILETIME, 1L);
    Outcome o = perform("stat " + p);
    if (!o.ok())
        return o;
    curl_off_t size = -1, time = -1;
    curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    curl_easy_getinfo(m_curl, CURLINFO_FILETIME_T, &time);
    // An empty file reports no size: libcurl then has nothing to download.
    out.size = size >= 0 ? std::optional<std::int64_t>(size) : (time >= 0 ? std::optional<std::int64_t>(0) : std::nullopt);
    out.mtime = time >= 0 ? std::optional<std::int64_t>(time) : std::nullopt;
    return o;
}

Outcome SftpSession::download(const std::string& remote, PartFile& sink, bool, TransferStats& stats)
{
    const std::string p = remotePath(remote);
    prepare(p);
    if (resumeDownload(sink))
        m_transcript.note("continuing " + p + " from byte " + std::to_string(sink.size()));
    m_sink = &sink;
    m_progress.begin(remote, -1);
    Outcome o = perform("get " + p);
    m_sink = nullptr;
    curl_off_t size = -1;
    curl_easy_getinfo(m_curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    stats.seen = {};
    if (size >= 0)
        stats.seen.size = size + m_startedAt;
    o = downloaded(remote, sink, stats, std::move(o));
    // A folder cannot be read as a file, and never will be: no retry for it.
    if (o.failure == Failure::Transient && folderExists(p).ok())
        return {Failure::Remote, "get " + p + ": it is a folder, not a file"};
    if (!o.ok())
        return o;
    // libcurl reads no more than the size the server gave when the file was
    // opened; one that grew since would be cut without a word. Asked again:
    ServerFacts now;
    if (Outcome s = facts(remote, now); !s.ok())
        return s;
    if (now.size && *now.size != sink.size()) {
        const std::string what = "get " + p + ": the file is now " + std::to_string(*now.size) + " bytes but " +
                                 std::to_string(sink.size()) + " were received; the file is not taken";
        m_transcript.error(what);
        return {Failure::Transient, what};
    }
    return o;
}

Outcome SftpSession::upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats,
                            std::int64_t from)
{
    const std::string p = remotePath(remote);
    prepare(p);
    startUpload(source, from);
    if (append)
        setopt(m_curl, CURLOPT_APPEND, 1L);
    setopt(m_curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(source.size() - from));
    m_source = &source;
    m_progress.begin(remote, source.size());
    Outcome o = perform((append || from > 0 ? "append " : "put ") + p);
    m_source = nullptr;
    return uploaded(remote, source, true, stats, std::move(o));
}

Outcome SftpSession::remoteHash(const std::string&, RemoteHash&)
{
    return {Failure::Unsupported, "SFTP offers no hash of a remote file"};
}

Outcome SftpSession::setTime(const std::string& remote, std::int64_t mtime)
{
    const std::string p = remotePath(remote);
    const std::time_t t = std::time_t(mtime);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    prepare("/", {"mtime \"" + std::string(stamp) + "\" " + quoted(p)});
    setopt(m_curl, CURLOPT_NOBODY, 1L);
    return perform("mtime " + p);
}

Outcome SftpSession::list(const std::string& remote, bool namesOnly, std::string& out)
{
    std::string p = remotePath(remote);
    // SFTP servers do not expand wildcards: the folder is listed and its names matched here.
    std::string pattern;
    const auto slash = p.find_last_of('/');
    if (p.find_first_of("*?[", slash) != std::string::npos) {
        pattern = p.substr(slash + 1);
        p.erase(slash + 1);
    }
    if (p.back() != '/')
        p += '/';
    prepare(p);
    setopt(m_curl, CURLOPT_DIRLISTONLY, namesOnly ? 1L : 0L);
    std::string raw;
    m_listing.start(&raw);
    Outcome o = perform(std::string(namesOnly ? "ls " : "dir ") + p);
    m_listing.stop();
    if (o.ok())
        out += withoutDotEntries(raw, namesOnly, pattern);
    return o;
}

int SftpSession::onKey(CURL*, const curl_khkey*, const curl_khkey* found, curl_khmatch, void* self)
{
    auto* s = static_cast<SftpSession*>(self);
    if (!found || found->len == 0) {
        s->m_trustProblem = "the partner showed no usable host key";
        return CURLKHSTAT_REJECT;
    }
    const auto key = describeHostKey(s->m_host, s->m_port, reinterpret_cast<const unsigned char*>(found->key),
                                     found->len);
    const std::string& file = s->m_settings.knownHosts;
    const std::string partner = s->m_port == 22 ? s->m_host : "[" + s->m_host + "]:" + std::to_string(s->m_port);
    // libcurl's own answer (match) lets a revoked key through and a port-22
    // entry stand for every port: the file is read here as OpenSSH reads it.
    const auto text = platform::readAll(file);
    const KnownHost verdict = text ? lookUpKnownHost(*text, s->m_host, s->m_port,
                                                     reinterpret_cast<const unsigned char*>(found->key), found->len)
                                   : KnownHost::Unknown;
    switch (verdict) {
    case KnownHost::Known:
        s->m_transcript.note("host key of " + partner + " is known: " + key.type + " " + key.fingerprint);
        return CURLKHSTAT_FINE;
    case KnownHost::Revoked:
        s->m_trustProblem = "the host key of " + partner + " is REVOKED in " + file + ": " + key.type + " " +
                            key.fingerprint + ". Nothing was sent. The partner's administrator must replace the key";
        break;
    case KnownHost::Changed:
        s->m_trustProblem = "the host key of " + partner + " has CHANGED: " + file +
                            " holds another key for it; the partner now shows " + key.type + " " + key.fingerprint +
                            ". Nothing was sent. If the partner's administrator confirms this fingerprint, "
                            "remove the old key with: ssh-keygen -R '" + partner + "' -f " + file +
                            " and trust the new one with: echo '" + key.knownHostsLine + "' >> " + file;
        break;
    case KnownHost::Unknown:
        s->m_trustProblem = "the host key of " + partner + " is unknown (not in " + file + "): " + key.type + " " +
                            key.fingerprint + ". Nothing was sent. If the partner's administrator confirms this "
                            "fingerprint, trust it with: echo '" + key.knownHostsLine + "' >> " + file;
        break;
    }
    return CURLKHSTAT_REJECT;
}

} // namespace zul::runner
