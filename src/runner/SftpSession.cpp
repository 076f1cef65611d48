#include "runner/SftpSession.h"

#include "platform/CommandWords.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fnmatch.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zul::runner {

namespace {
// Reads of 32 KiB, 64 of them asked at once, as OpenSSH's client keeps them.
constexpr std::uint32_t kReadChunk = 32 * 1024;
constexpr std::size_t kReadsInFlight = 64;
// Writes of 128 KiB, 2 MiB of them unanswered at a time: the partner stores
// one while the next are on their way, and the SSH window (2 MiB at OpenSSH)
// stays full. Writes near OpenSSH's packet limit (255 KiB) took 40 % longer
// against its server, however many were in flight.
constexpr std::size_t kWriteChunk = 128 * 1024;
constexpr std::size_t kWriteBytesInFlight = 2 * 1024 * 1024;
// What every server must take in one packet, for partners that refuse the large writes.
constexpr std::size_t kSmallWriteChunk = 32 * 1024;

const char* const kSftpQuoteVerbs[] = {"chgrp",   "chmod", "chown",  "atime", "mtime", "ln",
                                       "symlink", "mkdir", "rename", "rmdir", "rm",    "statvfs"};

// Write requests with several of them in flight. libssh 0.10 has no
// asynchronous write and waits for each answer, so the requests go out on the
// session's own channel, numbered from its counter, and their answers are
// taken off the channel here. All are answered (or the connection is given
// up) before libssh is called again, so that it never meets one of them.
class WritePipeline {
public:
    static constexpr std::size_t kHeader = 4 + 1 + 4 + 4 + 8 + 4; // without the handle
    enum class Answer { Ok, Refused, Lost };

    explicit WritePipeline(sftp_file file) : m_file(file), m_sftp(file->sftp) {}

    std::size_t headerSize() const { return kHeader + ssh_string_len(m_file->handle); }
    std::size_t waiting() const { return m_asked.size(); }

    // packet holds headerSize() free bytes, then n bytes of the file for offset.
    bool send(std::vector<char>& packet, std::size_t n, std::uint64_t offset)
    {
        const std::size_t handleSize = ssh_string_len(m_file->handle);
        const std::uint32_t id = ++m_sftp->id_counter;
        char* p = packet.data();
        const auto put32 = [&p](std::uint32_t v) {
            for (int shift = 24; shift >= 0; shift -= 8)
                *p++ = char((v >> shift) & 0xff);
        };
        put32(std::uint32_t(headerSize() - 4 + n));
        *p++ = char(SSH_FXP_WRITE);
        put32(id);
        put32(std::uint32_t(handleSize));
        std::memcpy(p, ssh_string_data(m_file->handle), handleSize);
        p += handleSize;
        put32(std::uint32_t(offset >> 32));
        put32(std::uint32_t(offset));
        put32(std::uint32_t(n));
        const std::size_t total = headerSize() + n;
        if (ssh_channel_write(m_sftp->channel, packet.data(), std::uint32_t(total)) != int(total)) {
            unsure(offset);
            return false;
        }
        m_asked.push_back({id, n, offset});
        return true;
    }

    // The answer to one of the requests in flight; bytes is how much of the file it stored.
    Answer take(std::size_t& bytes, std::string& message)
    {
        unsigned char head[9];
        if (!readExactly(head, 4))
            return Answer::Lost;
        const std::uint32_t length = get32(head);
        // A status is a few words and a message; anything longer is no answer to a write.
        if (length < 5 || length > 64 * 1024 || !readExactly(head + 4, 5))
            return lost("the partner's answer to a write cannot be read");
        std::string body(length - 5, '\0');
        if (!readExactly(body.data(), body.size()))
            return Answer::Lost;
        const std::uint32_t id = get32(head + 5);
        const auto asked = std::find_if(m_asked.begin(), m_asked.end(), [id](const Asked& a) { return a.id == id; });
        if (head[4] != SSH_FXP_STATUS || asked == m_asked.end() || body.size() < 4)
            return lost("the partner answered a write with something else");
        bytes = asked->bytes;
        const std::uint64_t offset = asked->offset;
        m_asked.erase(asked);
        const std::uint32_t status = get32(reinterpret_cast<const unsigned char*>(body.data()));
        if (status == SSH_FX_OK)
            return Answer::Ok;
        unsure(offset);
        if (body.size() >= 8) {
            const std::uint32_t size = get32(reinterpret_cast<const unsigned char*>(body.data()) + 4);
            message = body.substr(8, std::min<std::size_t>(size, body.size() - 8));
        }
        message = "SFTP server: " + (message.empty() ? "write refused, status " + std::to_string(status) : message);
        return Answer::Refused;
    }

    // The answers still owed, taken off the line; false when the connection is no longer usable.
    bool drain()
    {
        std::size_t bytes = 0;
        std::string message;
        while (!m_asked.empty())
            if (take(bytes, message) == Answer::Lost)
                return false;
        return true;
    }

    const std::string& why() const { return m_why; }

    // Where the partner's file stops being what was sent, when a write failed
    // or went unanswered: it may hold later writes past a gap.
    std::optional<std::uint64_t> firstUnsure() const
    {
        std::optional<std::uint64_t> at = m_unsure;
        for (const Asked& a : m_asked)
            if (!at || a.offset < *at)
                at = a.offset;
        return at;
    }

private:
    struct Asked {
        std::uint32_t id;
        std::size_t bytes;
        std::uint64_t offset;
    };

    void unsure(std::uint64_t offset)
    {
        if (!m_unsure || offset < *m_unsure)
            m_unsure = offset;
    }

    static std::uint32_t get32(const unsigned char* b)
    {
        return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    }

    bool readExactly(void* into, std::size_t size)
    {
        auto* p = static_cast<char*>(into);
        while (size > 0) {
            const int n = ssh_channel_read(m_sftp->channel, p, std::uint32_t(size), 0);
            if (n <= 0)
                return false;
            p += n;
            size -= std::size_t(n);
        }
        return true;
    }

    Answer lost(const char* why)
    {
        m_why = why;
        return Answer::Lost;
    }

    sftp_file m_file;
    sftp_session m_sftp;
    std::deque<Asked> m_asked;
    std::optional<std::uint64_t> m_unsure;
    std::string m_why;
};

struct CloseFile {
    void operator()(sftp_file f) const { sftp_close(f); }
};
using RemoteFile = std::unique_ptr<sftp_file_struct, CloseFile>;

bool isFolder(const sftp_attributes_struct& a)
{
    if (a.flags & SSH_FILEXFER_ATTR_PERMISSIONS)
        return S_ISDIR(a.permissions);
    return a.type == SSH_FILEXFER_TYPE_DIRECTORY;
}

// "drwxr-xr-x" and the like, for a listing line the server did not write itself.
std::string longLine(const sftp_attributes_struct& a)
{
    std::string mode = isFolder(a) ? "d" : a.type == SSH_FILEXFER_TYPE_SYMLINK ? "l" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        mode += (a.permissions & (0400u >> bit)) ? letters[bit] : '-';
    return mode + " " + std::to_string(a.uid) + " " + std::to_string(a.gid) + " " + std::to_string(a.size) + " " +
           (a.name ? a.name : "");
}

// The first address of host in numeric form; empty when it has none. With
// numericOnly no resolver is asked: only an address written as one counts.
std::string numericAddress(const std::string& host, bool numericOnly = false)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return {};
    char text[NI_MAXHOST] = {};
    const bool named =
        ::getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0;
    ::freeaddrinfo(found);
    return named ? text : std::string();
}

// A name's lookup on a thread of its own, shared with the caller, who may stop
// waiting: the resolver's own waits are out of the run's reach.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::string address;
};

// Whether the socket's connection to its peer stands.
bool connected(int fd)
{
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
}

std::string secondsText(std::chrono::seconds s)
{
    return std::to_string(s.count()) + " s";
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
    : m_transcript(transcript), m_progress(progress), m_settings(settings), m_shouldStop(std::move(shouldStop)),
      m_watch(std::make_unique<SocketWatch>(m_shouldStop))
{
}

SftpSession::~SftpSession()
{
    dropConnection();
}

void SftpSession::open(std::string host, int port)
{
    close();
    m_smallWrites = false;
    m_host = std::move(host);
    m_port = port;
}

void SftpSession::setLogin(std::string user, std::string password)
{
    dropConnection(); // a new user needs a new SSH connection
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
    dropConnection();
    m_host.clear();
    m_loggedIn = false;
    m_home.clear();
    m_cwd.clear();
}

void SftpSession::reconnect()
{
    dropConnection();
}

std::chrono::seconds SftpSession::capped(std::chrono::seconds limit) const
{
    return m_waitLimit.count() > 0 ? std::min(limit, m_waitLimit) : limit;
}

void SftpSession::dropConnection()
{
    if (!m_ssh)
        return;
    {
        // Good-byes to a partner that went quiet must not hold the run.
        WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.replyTimeout));
        if (m_sftp)
            sftp_free(m_sftp);
        ssh_disconnect(m_ssh);
    }
    m_sftp = nullptr;
    ssh_free(m_ssh);
    m_ssh = nullptr;
    m_broken = false;
}

Outcome SftpSession::failed(const std::string& what)
{
    const SocketWatch::Fired fired = m_watch->fired();
    const int status = m_sftp ? sftp_get_error(m_sftp) : SSH_FX_OK;
    const bool alive =
        m_ssh && ssh_is_connected(m_ssh) && (ssh_get_status(m_ssh) & (SSH_CLOSED | SSH_CLOSED_ERROR)) == 0;
    const char* said = m_ssh ? ssh_get_error(m_ssh) : "";
    Outcome o{Failure::Transient, what + ": " + m_transcript.scrub(said && *said ? said : "the SSH connection failed")};
    if (fired == SocketWatch::Fired::Stopped) {
        o = {Failure::Stopped, what + ": stopped"};
    } else if (fired == SocketWatch::Fired::Stalled) {
        o = {Failure::TimedOut, what + ": nothing came from the partner for " + secondsText(m_watch->limit())};
    } else if (alive && status != SSH_FX_OK && status != SSH_FX_EOF && status != SSH_FX_NO_CONNECTION &&
               status != SSH_FX_CONNECTION_LOST) {
        // The server answered with an SFTP status (failure, no such file, ...):
        // the connection stands and a retry would get the same answer.
        o.failure = Failure::Remote;
    }
    // Dropped before the next request: handles still open are closed first.
    if (o.failure != Failure::Remote)
        m_broken = true;
    return o;
}

Outcome SftpSession::ready(const std::string& what)
{
    // A socket the watch shut down (even in a good-bye to a file after another failure) serves no further request.
    if (m_broken || m_watch->fired() != SocketWatch::Fired::No)
        dropConnection();
    if (m_sftp) {
        m_sftp->errnum = SSH_FX_OK; // a status is read as this request's own
        return {};
    }
    if (m_password.empty() && ::access(m_settings.sshKey.c_str(), R_OK) != 0)
        return {Failure::Login, "login as " + m_user + ": no password and no readable SSH key " + m_settings.sshKey +
                                    " (" + errnoText(errno) + "; SSH_KEY names another one)"};
    Outcome o = connect(what);
    if (!o.ok())
        dropConnection();
    return o;
}

Outcome SftpSession::connect(const std::string& what)
{
    m_ssh = ssh_new();
    if (!m_ssh)
        return {Failure::Local, what + ": cannot start an SSH session"};
    const bool configFiles = false; // only what the runner's settings say
    const int noDelay = 1;
    // libssh's own log goes to stderr, which the caller may keep, and at its finer levels it shows what is
    // sent: none, whatever a newer libssh reads from the environment.
    const int quiet = SSH_LOG_NOLOG;
    // The connection's limit holds from here: the name's lookup, the connection and the handshake.
    const auto until = std::chrono::steady_clock::now() + capped(m_settings.connectTimeout);
    std::string address;
    if (Outcome o = lookUp(what, until, address); !o.ok())
        return o;
    const bool set = ssh_options_set(m_ssh, SSH_OPTIONS_LOG_VERBOSITY, &quiet) == 0 &&
                     ssh_options_set(m_ssh, SSH_OPTIONS_HOST, address.c_str()) == 0 &&
                     ssh_options_set(m_ssh, SSH_OPTIONS_PORT, &m_port) == 0 &&
                     ssh_options_set(m_ssh, SSH_OPTIONS_USER, m_user.c_str()) == 0 &&
                     ssh_options_set(m_ssh, SSH_OPTIONS_PROCESS_CONFIG, &configFiles) == 0 &&
                     ssh_options_set(m_ssh, SSH_OPTIONS_KNOWNHOSTS, m_settings.knownHosts.c_str()) == 0 &&
                     ssh_options_set(m_ssh, SSH_OPTIONS_NODELAY, &noDelay) == 0;
    if (!set)
        return {Failure::Untrusted, what + ": libssh refused a setting (" + m_transcript.scrub(ssh_get_error(m_ssh)) +
                                        "); nothing was sent to the partner"};
    // Nothing that fired before counts here.
    m_watch->arm(-1, capped(m_settings.connectTimeout));
    if (Outcome o = handshake(what, until); !o.ok())
        return o;
    if (Outcome o = checkHostKey(what); !o.ok())
        return o;
    // libssh gives up on the login's answers after its own limit and then reports
    // no error at all: that limit only backs up the watch, which ends the wait
    // first and says why.
    const long backstop = long(capped(m_settings.replyTimeout).count()) + 2;
    ssh_options_set(m_ssh, SSH_OPTIONS_TIMEOUT, &backstop);
    WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.replyTimeout));
    if (Outcome o = authenticate(what); !o.ok())
        return o;
    m_sftp = sftp_new(m_ssh);
    if (!m_sftp || sftp_init(m_sftp) != SSH_OK)
        return failed(what);
    return {};
}

// libssh is given the partner's address, never its name: the resolver inside
// it would wait as long as the system's settings say, out of the run's reach
// (libcurl's lookups for FTP end with CONNECT_TIMEOUT too), and it refuses
// some names that resolvers take (an underscore, as in many Windows host
// names). The host key is still looked up under the name.
Outcome SftpSession::lookUp(const std::string& what, std::chrono::steady_clock::time_point until,
                            std::string& address)
{
    address = numericAddress(m_host, true);
    if (!address.empty())
        return {};
    const auto lookup = std::make_shared<Lookup>();
    // Left to finish on its own when the run stops waiting; it holds nothing of the session.
    std::thread([lookup, host = m_host] {
        std::string found = numericAddress(host);
        std::lock_guard lock(lookup->mutex);
        lookup->address = std::move(found);
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    std::unique_lock lock(lookup->mutex);
    while (!lookup->finished) {
        if (m_shouldStop && m_shouldStop())
            return {Failure::Stopped, what + ": stopped"};
        if (std::chrono::steady_clock::now() >= until)
            return {Failure::TimedOut, what + ": the name " + m_host + " was not resolved within " +
                                           secondsText(capped(m_settings.connectTimeout))};
        lookup->done.wait_until(lock, std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(200)));
    }
    address = lookup->address;
    if (address.empty())
        return {m_loggedIn ? Failure::Transient : Failure::Unreachable, what + ": cannot resolve " + m_host};
    return {};
}

// The connection and the SSH handshake, step by step without blocking: a stop
// is heard at once, and a partner that took the connection but went quiet is
// told from one that could not be reached.
Outcome SftpSession::handshake(const std::string& what, std::chrono::steady_clock::time_point until)
{
    const auto limit = capped(m_settings.connectTimeout);
    ssh_set_blocking(m_ssh, 0);
    int rc = ssh_connect(m_ssh);
    while (rc == SSH_AGAIN) {
        if (m_shouldStop && m_shouldStop())
            return {Failure::Stopped, what + ": stopped"};
        const int fd = ssh_get_fd(m_ssh);
        if (std::chrono::steady_clock::now() >= until) {
            if (fd >= 0 && connected(fd))
                return {Failure::TimedOut, what + ": nothing came from the partner for " + secondsText(limit)};
            return {m_loggedIn ? Failure::Transient : Failure::Unreachable, what + ": no connection to " + m_host +
                                                                                " port " + std::to_string(m_port) +
                                                                                " within " + secondsText(limit)};
        }
        // Until the connection stands, its completion is what libssh waits for.
        pollfd wait{fd, short(POLLIN | (fd >= 0 && !connected(fd) ? POLLOUT : 0)), 0};
        ::poll(&wait, fd >= 0 ? 1 : 0, 50);
        rc = ssh_connect(m_ssh);
    }
    ssh_set_blocking(m_ssh, 1);
    if (rc == SSH_OK)
        return {};
    Outcome o = failed(what);
    // A partner that sent its SSH banner was reached: the handshake failed after that.
    if (!m_loggedIn && o.failure == Failure::Transient && !ssh_get_serverbanner(m_ssh))
        o.failure = Failure::Unreachable;
    return o;
}

Outcome SftpSession::checkHostKey(const std::string& what)
{
    ssh_key found = nullptr;
    char* shown = nullptr;
    if (ssh_get_server_publickey(m_ssh, &found) != SSH_OK || ssh_pki_export_pubkey_base64(found, &shown) != SSH_OK) {
        ssh_key_free(found);
        return {Failure::Untrusted, what + ": the partner showed no usable host key"};
    }
    ssh_key_free(found);
    const auto blob = unbase64(shown);
    ssh_string_free_char(shown);
    if (!blob)
        return {Failure::Untrusted, what + ": the partner showed no usable host key"};
    const std::string& bytes = *blob;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto key = describeHostKey(m_host, m_port, data, bytes.size());
    const std::string& file = m_settings.knownHosts;
    const std::string partner = m_port == 22 ? m_host : "[" + m_host + "]:" + std::to_string(m_port);
    // Trust comes from this file: one that another user could have written is
    // refused; a missing one trusts nothing.
    const auto text = platform::readTrustedThroughLink(file);
    if (!text && text.error().code != platform::ErrorCode::FileNotFound)
        return {Failure::Untrusted, what + ": the host key of " + partner + " (" + key.type + " " + key.fingerprint +
                                        ") cannot be checked: " + text.error().description + ". Nothing was sent"};
    // Read as OpenSSH reads it: a revoked key is refused, and a port-22 entry does not stand for every port.
    const KnownHost verdict = text ? lookUpKnownHost(*text, m_host, m_port, data, bytes.size()) : KnownHost::Unknown;
    std::string problem;
    switch (verdict) {
    case KnownHost::Known:
        m_transcript.note("host key of " + partner + " is known: " + key.type + " " + key.fingerprint);
        return {};
    case KnownHost::Revoked:
        problem = "the host key of " + partner + " is REVOKED in " + file + ": " + key.type + " " + key.fingerprint +
                  ". Nothing was sent. The partner's administrator must replace the key";
        break;
    case KnownHost::Changed:
        problem = "the host key of " + partner + " has CHANGED: " + file +
                  " holds another key for it; the partner now shows " + key.type + " " + key.fingerprint +
                  ". Nothing was sent. If the partner's administrator confirms this fingerprint, "
                  "remove the old key with: ssh-keygen -R '" + partner + "' -f " + file +
                  " and trust the new one with: echo '" + key.knownHostsLine + "' >> " + file;
        break;
    case KnownHost::Unknown:
        problem = "the host key of " + partner + " is unknown (not in " + file + "): " + key.type + " " +
                  key.fingerprint + ". Nothing was sent. If the partner's administrator confirms this "
                  "fingerprint, trust it with: echo '" + key.knownHostsLine + "' >> " + file;
        break;
    }
    return {Failure::Untrusted, what + ": " + problem};
}

Outcome SftpSession::authenticate(const std::string& what)
{
    // No answer in time (libssh's "again", even when blocking) is no refusal of the login.
    const auto unanswered = [](int rc) { return rc == SSH_AUTH_ERROR || rc == SSH_AUTH_AGAIN; };
    int rc = ssh_userauth_none(m_ssh, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return {};
    if (unanswered(rc))
        return failed(what);
    const int methods = ssh_userauth_list(m_ssh, nullptr);
    if (m_password.empty()) {
        ssh_key key = nullptr;
        if (ssh_pki_import_privkey_file(m_settings.sshKey.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK)
            return {Failure::Login, what + ": cannot read the SSH key " + m_settings.sshKey +
                                        " (a key with a passphrase cannot be used; SSH_KEY names another one)"};
        rc = (methods & SSH_AUTH_METHOD_PUBLICKEY) ? ssh_userauth_publickey(m_ssh, nullptr, key) : SSH_AUTH_DENIED;
        ssh_key_free(key);
        if (unanswered(rc))
            return failed(what);
        if (rc != SSH_AUTH_SUCCESS)
            return {Failure::Login, what + ": the partner refused the key (key " + m_settings.sshKey +
                                        ", set by SSH_KEY)"};
        return {};
    }
    rc = SSH_AUTH_DENIED;
    if (methods & SSH_AUTH_METHOD_PASSWORD)
        rc = ssh_userauth_password(m_ssh, nullptr, m_password.c_str());
    if (rc == SSH_AUTH_DENIED && (methods & SSH_AUTH_METHOD_INTERACTIVE)) {
        // The password answers every prompt that hides what is typed.
        rc = ssh_userauth_kbdint(m_ssh, nullptr, nullptr);
        for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
            const int prompts = ssh_userauth_kbdint_getnprompts(m_ssh);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                ssh_userauth_kbdint_getprompt(m_ssh, unsigned(i), &echo);
                ssh_userauth_kbdint_setanswer(m_ssh, unsigned(i), echo ? "" : m_password.c_str());
            }
            rc = ssh_userauth_kbdint(m_ssh, nullptr, nullptr);
        }
    }
    if (unanswered(rc))
        return failed(what);
    if (rc != SSH_AUTH_SUCCESS)
        return {Failure::Login, what + ": the partner refused the password"};
    return {};
}

Outcome SftpSession::request(const std::string& what, const std::function<bool()>& call)
{
    if (Outcome o = ready(what); !o.ok())
        return o;
    m_transcript.sent("sftp " + what);
    WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.replyTimeout));
    return call() ? Outcome{} : failed(what);
}

Outcome SftpSession::stat(const std::string& path, const std::string& what, Attributes& out)
{
    return request(what, [&] {
        out.reset(sftp_stat(m_sftp, path.c_str()));
        return out != nullptr;
    });
}

std::string SftpSession::remotePath(const std::string& name) const
{
    if (name.empty())
        return m_cwd;
    if (name.front() == '/')
        return normalised(name);
    return normalised(m_cwd + "/" + name);
}

Outcome SftpSession::login()
{
    m_loggedIn = false;
    const std::string what = "login as " + m_user;
    m_transcript.sent("sftp " + what);
    if (Outcome o = ready(what); !o.ok())
        return o;
    char* entry = nullptr;
    {
        WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.replyTimeout));
        entry = sftp_canonicalize_path(m_sftp, ".");
        // Without its login folder every relative name would point elsewhere.
        if (!entry)
            return failed(what);
    }
    m_loggedIn = true;
    m_home = *entry ? normalised(entry) : std::string("/");
    ssh_string_free_char(entry);
    if (m_cwd.empty())
        m_cwd = m_home;
    m_transcript.note("logged in; remote folder is " + m_cwd);
    return {};
}

Outcome SftpSession::changeFolder(const std::string& name)
{
    const std::string target = remotePath(name);
    Attributes a;
    Outcome o = stat(target, "stat " + target, a);
    if (o.failure == Failure::Remote && sftp_get_error(m_sftp) == SSH_FX_NO_SUCH_FILE)
        return {Failure::Remote, "cd " + target + ": no such folder"};
    if (!o.ok())
        return o;
    if (!isFolder(*a))
        return {Failure::Remote, "cd " + target + ": no such folder"};
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
    return request("rm " + p, [&] { return sftp_unlink(m_sftp, p.c_str()) == 0; });
}

Outcome SftpSession::makeFolder(const std::string& name)
{
    const std::string p = remotePath(name);
    return request("mkdir " + p, [&] { return sftp_mkdir(m_sftp, p.c_str(), 0755) == 0; });
}

Outcome SftpSession::removeFolder(const std::string& name)
{
    const std::string p = remotePath(name);
    return request("rmdir " + p, [&] { return sftp_rmdir(m_sftp, p.c_str()) == 0; });
}

Outcome SftpSession::rename(const std::string& from, const std::string& to)
{
    const std::string a = remotePath(from);
    const std::string b = remotePath(to);
    return request("rename " + a + " " + b, [&] { return sftp_rename(m_sftp, a.c_str(), b.c_str()) == 0; });
}

Outcome SftpSession::site(const std::string&)
{
    return {Failure::Unsupported, "site is an FTP command; this partner speaks SFTP (sftp://)"};
}

Outcome SftpSession::setTimes(const std::string& path, const std::string& what, std::optional<std::int64_t> atime,
                              std::optional<std::int64_t> mtime)
{
    Attributes a;
    if (Outcome o = stat(path, what, a); !o.ok())
        return o;
    timeval times[2] = {};
    times[0].tv_sec = time_t(atime.value_or(a->atime));
    times[1].tv_sec = time_t(mtime.value_or(a->mtime));
    return request(what, [&] { return sftp_utimes(m_sftp, path.c_str(), times) == 0; });
}

Outcome SftpSession::quote(const std::string& text)
{
    const std::string verb = lowerWord(text);
    if (std::find(std::begin(kSftpQuoteVerbs), std::end(kSftpQuoteVerbs), verb) == std::end(kSftpQuoteVerbs))
        return {Failure::Unsupported, "quote " + text.substr(0, text.find(' ')) +
                                          ": not an SFTP command; over sftp:// quote takes chmod, chown, chgrp, "
                                          "atime, mtime, ln, symlink, mkdir, rename, rmdir, rm or statvfs"};
    const auto words = platform::splitWords(text);
    const bool withValue = verb == "chgrp" || verb == "chmod" || verb == "chown" || verb == "atime" || verb == "mtime";
    const bool twoPaths = verb == "ln" || verb == "symlink" || verb == "rename";
    const std::size_t wanted = 2 + (withValue || twoPaths ? 1 : 0);
    if (words.size() != wanted)
        return {Failure::Remote, "quote " + text + ": " + verb + " takes " +
                                     (withValue ? "a value and a path" : twoPaths ? "two paths" : "one path")};
    // Names are taken from the working folder, as every other command takes them.
    const std::string path = remotePath(words.back());
    const std::string first = twoPaths ? remotePath(words[1]) : std::string();
    const std::string what = verb + (withValue ? " " + words[1] : twoPaths ? " " + first : "") + " " + path;
    if (verb == "chmod" || verb == "chown" || verb == "chgrp") {
        char* end = nullptr;
        const unsigned long value = std::strtoul(words[1].c_str(), &end, verb == "chmod" ? 8 : 10);
        if (words[1].empty() || *end != '\0' || value > (verb == "chmod" ? 07777ul : 0xfffffffful))
            return {Failure::Remote, "quote " + text + ": " + words[1] + " is not " +
                                         (verb == "chmod" ? "an octal mode" : "a number")};
        if (verb == "chmod")
            return request(what, [&] { return sftp_chmod(m_sftp, path.c_str(), mode_t(value)) == 0; });
        Attributes a;
        if (Outcome o = stat(path, what, a); !o.ok())
            return o;
        const uid_t owner = verb == "chown" ? uid_t(value) : uid_t(a->uid);
        const gid_t group = verb == "chgrp" ? gid_t(value) : gid_t(a->gid);
        return request(what, [&] { return sftp_chown(m_sftp, path.c_str(), owner, group) == 0; });
    }
    if (verb == "atime" || verb == "mtime") {
        const time_t when = curl_getdate(words[1].c_str(), nullptr);
        if (when < 0)
            return {Failure::Remote, "quote " + text + ": " + words[1] + " is not a date"};
        return verb == "atime" ? setTimes(path, what, when, std::nullopt) : setTimes(path, what, std::nullopt, when);
    }
    if (twoPaths) {
        if (verb == "rename")
            return request(what, [&] { return sftp_rename(m_sftp, first.c_str(), path.c_str()) == 0; });
        return request(what, [&] { return sftp_symlink(m_sftp, first.c_str(), path.c_str()) == 0; });
    }
    if (verb == "statvfs")
        return request(what, [&] {
            sftp_statvfs_t fs = sftp_statvfs(m_sftp, path.c_str());
            const bool answered = fs != nullptr;
            sftp_statvfs_free(fs);
            return answered;
        });
    if (verb == "mkdir")
        return request(what, [&] { return sftp_mkdir(m_sftp, path.c_str(), 0755) == 0; });
    if (verb == "rmdir")
        return request(what, [&] { return sftp_rmdir(m_sftp, path.c_str()) == 0; });
    return request(what, [&] { return sftp_unlink(m_sftp, path.c_str()) == 0; });
}

Outcome SftpSession::passive()
{
    return {Failure::Unsupported, "passive is an FTP command; this partner speaks SFTP (sftp://)"};
}

Outcome SftpSession::facts(const std::string& remote, ServerFacts& out, Facts)
{
    const std::string p = remotePath(remote);
    // An upload that failed with writes in flight may have left later bytes past
    // a gap: the file is cut back to its whole part before its size is believed.
    if (const auto whole = m_wholeUpTo.find(p); whole != m_wholeUpTo.end()) {
        sftp_attributes_struct cut{};
        cut.flags = SSH_FILEXFER_ATTR_SIZE;
        cut.size = whole->second;
        Outcome r = request("truncate " + p + " to " + std::to_string(whole->second) + " bytes",
                            [&] { return sftp_setstat(m_sftp, p.c_str(), &cut) == SSH_OK; });
        if (!r.ok())
            return r;
        m_wholeUpTo.erase(whole);
    }
    Attributes a;
    Outcome o = stat(p, "stat " + p, a);
    if (!o.ok())
        return o;
    out.size = (a->flags & SSH_FILEXFER_ATTR_SIZE) ? std::optional<std::int64_t>(std::int64_t(a->size)) : std::nullopt;
    out.mtime = (a->flags & SSH_FILEXFER_ATTR_ACMODTIME) ? std::optional<std::int64_t>(a->mtime) : std::nullopt;
    return o;
}

Outcome SftpSession::download(const std::string& remote, PartFile& sink, bool, TransferStats& stats)
{
    const std::string p = remotePath(remote);
    const std::string what = "get " + p;
    stats = {};
    if (Outcome o = ready(what); !o.ok())
        return o;
    if (sink.size() > 0)
        m_transcript.note("continuing " + p + " from byte " + std::to_string(sink.size()));
    m_transcript.sent("sftp " + what);
    const auto started = std::chrono::steady_clock::now();
    Outcome o = receive(remote, p, what, sink, stats);
    m_progress.end();
    stats.bytes = sink.size();
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Only a lost connection leaves a part worth continuing; a file that changed while it came is fetched anew.
    stats.broken = (o.failure == Failure::Transient || o.failure == Failure::TimedOut) && m_broken;
    return o;
}

Outcome SftpSession::receive(const std::string& remote, const std::string& path, const std::string& what,
                             PartFile& sink, TransferStats& stats)
{
    // Each 32 KiB answer must come within the limit: bytes that come in are
    // no sign of one, a partner's keep-alives come in too.
    WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.stallTimeout));
    RemoteFile file(sftp_open(m_sftp, path.c_str(), O_RDONLY, 0));
    if (!file)
        return failed(what);
    Attributes opened(sftp_fstat(file.get()));
    if (!opened)
        return failed(what);
    // A folder cannot be read as a file, and never will be: no retry for it.
    if (isFolder(*opened))
        return {Failure::Remote, what + ": it is a folder, not a file"};
    if (opened->flags & SSH_FILEXFER_ATTR_SIZE)
        stats.seen.size = std::int64_t(opened->size);
    if (opened->flags & SSH_FILEXFER_ATTR_ACMODTIME)
        stats.seen.mtime = opened->mtime;
    const std::int64_t total = stats.seen.size.value_or(-1);
    m_progress.begin(remote, total);

    std::int64_t at = sink.size(); // the next byte the local file takes
    std::int64_t askedTo = at;     // where the next read request starts
    if (at > 0 && sftp_seek64(file.get(), std::uint64_t(at)) < 0)
        return failed(what);
    std::vector<char> buffer(kReadChunk);
    std::uint32_t chunk = kReadChunk; // smaller for a server that sends less at once
    std::deque<std::uint32_t> asked;
    // Answers that are no longer wanted are still taken off the line. libssh
    // answers every read after an end of file with 0 without taking its reply,
    // which would then stay queued for the rest of the session: the seek, which
    // moves nothing here, clears that mark before each one.
    const auto dropAsked = [&] {
        for (const std::uint32_t id : asked) {
            sftp_seek64(file.get(), sftp_tell64(file.get()));
            sftp_async_read(file.get(), buffer.data(), chunk, id);
        }
        asked.clear();
    };
    for (;;) {
        // Up to the known end and one read past it, which finds the end (or growth).
        while (asked.size() < kReadsInFlight && (total < 0 || askedTo <= total)) {
            const int id = sftp_async_read_begin(file.get(), chunk);
            if (id < 0) {
                dropAsked();
                return failed(what);
            }
            asked.push_back(std::uint32_t(id));
            askedTo += chunk;
        }
        if (asked.empty())
            break;
        const std::uint32_t id = asked.front();
        asked.pop_front();
        // The length asked, not the buffer's: libssh moves the next read's offset
        // back by what a reply falls short of the length it is given.
        const int n = sftp_async_read(file.get(), buffer.data(), chunk, id);
        if (n < 0) {
            Outcome o = failed(what);
            if (o.failure == Failure::Remote)
                dropAsked();
            return o;
        }
        if (n == 0)
            break;
        if (!sink.write(buffer.data(), std::size_t(n))) {
            dropAsked();
            return {Failure::Local, what + ": cannot write the local file: " + errnoText(sink.error())};
        }
        at += n;
        m_watch->progress();
        m_progress.update(at, total);
        if (std::uint32_t(n) < chunk) {
            // Short: the end, or a server that sends less at once. Every read
            // asked after this one starts at the wrong byte.
            dropAsked();
            if (total >= 0 && at >= total)
                break;
            if (sftp_seek64(file.get(), std::uint64_t(at)) < 0)
                return failed(what);
            askedTo = at;
            chunk = std::uint32_t(n);
        }
    }
    dropAsked();
    // The reads went to the end of the file as it was then; one that grew since is fetched again.
    Attributes now(sftp_fstat(file.get()));
    if (!now)
        return failed(what);
    if ((now->flags & SSH_FILEXFER_ATTR_SIZE) && std::int64_t(now->size) != at) {
        const std::string text = what + ": the file is now " + std::to_string(now->size) + " bytes but " +
                                 std::to_string(at) + " were received; the file is not taken";
        m_transcript.error(text);
        return {Failure::Transient, text};
    }
    if (sftp_close(file.release()) != SSH_OK)
        return failed(what);
    return {};
}

Outcome SftpSession::upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats,
                            std::int64_t from)
{
    const std::string p = remotePath(remote);
    const bool continuing = append || from > 0;
    const std::string what = (continuing ? "append " : "put ") + p;
    stats = {};
    if (Outcome o = ready(what); !o.ok())
        return o;
    m_transcript.sent("sftp " + what);
    const auto started = std::chrono::steady_clock::now();
    Outcome o = send(remote, p, what, source, continuing, from, stats);
    m_progress.end();
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (o.ok() && stats.bytes != source.size() - from)
        return {Failure::Transient, "put " + remote + ": sent " + std::to_string(stats.bytes) + " of " +
                                        std::to_string(source.size() - from) + " bytes"};
    return o;
}

Outcome SftpSession::send(const std::string& remote, const std::string& path, const std::string& what,
                          SourceFile& source, bool continuing, std::int64_t from, TransferStats& stats)
{
    WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.stallTimeout), SocketWatch::Counts::Sent);
    RemoteFile file(sftp_open(m_sftp, path.c_str(), O_WRONLY | O_CREAT | (continuing ? O_APPEND : O_TRUNC), 0644));
    if (!file)
        return failed(what);
    if (continuing) {
        // Servers that ignore the append flag still write at the offset given.
        Attributes there(sftp_fstat(file.get()));
        if (!there || sftp_seek64(file.get(), there->size) < 0)
            return failed(what);
    }
    if (!continuing)
        m_wholeUpTo.erase(path);
    m_progress.begin(remote, source.size());
    const std::size_t chunk = m_smallWrites ? kSmallWriteChunk : kWriteChunk;
    const std::size_t depth = kWriteBytesInFlight / chunk;
    WritePipeline pipeline(file.get());
    std::vector<char> packet(pipeline.headerSize() + chunk);
    std::uint64_t remoteAt = sftp_tell64(file.get());
    // A failed write: the answers still owed are taken first, or the connection
    // is given up and its socket shut, so that the file's close fails at once.
    // A resume starts where the file is known to be whole.
    const auto fail = [&](Outcome o) {
        if (m_broken || !pipeline.drain()) {
            m_broken = true;
            ::shutdown(ssh_get_fd(m_ssh), SHUT_RDWR);
        }
        if (const auto end = pipeline.firstUnsure())
            m_wholeUpTo[path] = *end;
        // The protocol promises packets of about 34,000 bytes only: a partner
        // that refuses a large write, or drops the connection on it, gets
        // small ones from the retry on.
        if (!m_smallWrites && o.failure != Failure::Stopped && o.failure != Failure::Local) {
            m_smallWrites = true;
            m_transcript.note(what + ": a write of " + std::to_string(kWriteChunk / 1024) +
                              " KiB failed; from now on this partner gets " + std::to_string(kSmallWriteChunk / 1024) +
                              " KiB at a time");
            if (o.failure == Failure::Remote)
                o.failure = Failure::Transient;
        }
        return o;
    };
    for (std::int64_t at = from; at < source.size() || pipeline.waiting() > 0;) {
        if (at < source.size() && pipeline.waiting() < depth) {
            const std::size_t room = std::size_t(std::min<std::int64_t>(std::int64_t(chunk), source.size() - at));
            const ssize_t n = ::pread(source.fd(), packet.data() + pipeline.headerSize(), room, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail({Failure::Local, what + ": cannot read the local file: " + errnoText(errno)});
            if (n == 0) { // shorter than when it was opened: what was sent is checked by its size
                if (pipeline.waiting() == 0)
                    break;
                at = source.size();
                continue;
            }
            if (!pipeline.send(packet, std::size_t(n), remoteAt)) {
                m_broken = true;
                return fail(failed(what));
            }
            at += n;
            remoteAt += std::uint64_t(n);
            continue;
        }
        std::size_t bytes = 0;
        std::string message;
        switch (pipeline.take(bytes, message)) {
        case WritePipeline::Answer::Ok:
            break;
        case WritePipeline::Answer::Refused:
            return fail({Failure::Remote, what + ": " + m_transcript.scrub(platform::escapeControls(message))});
        case WritePipeline::Answer::Lost:
            m_broken = true;
            if (!pipeline.why().empty() && m_watch->fired() == SocketWatch::Fired::No)
                return fail({Failure::Transient, what + ": " + pipeline.why()});
            return fail(failed(what));
        }
        stats.bytes += std::int64_t(bytes);
        m_watch->progress();
        m_progress.update(from + stats.bytes, source.size());
    }
    // The size as the partner has it now, for the upload's check without another request.
    Attributes stored(sftp_fstat(file.get()));
    if (!stored)
        return failed(what);
    if (stored->flags & SSH_FILEXFER_ATTR_SIZE)
        stats.seen.size = std::int64_t(stored->size);
    // The partner may report only now that it could not store everything.
    if (sftp_close(file.release()) != SSH_OK)
        return failed(what);
    return {};
}

Outcome SftpSession::remoteHash(const std::string&, RemoteHash&)
{
    return {Failure::Unsupported, "SFTP offers no hash of a remote file"};
}

Outcome SftpSession::setTime(const std::string& remote, std::int64_t mtime)
{
    const std::string p = remotePath(remote);
    return setTimes(p, "mtime " + p, std::nullopt, mtime);
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
    const std::string what = std::string(namesOnly ? "ls " : "dir ") + p;
    if (Outcome o = ready(what); !o.ok())
        return o;
    m_transcript.sent("sftp " + what);
    WatchedCall watch(*m_watch, ssh_get_fd(m_ssh), capped(m_settings.stallTimeout));
    sftp_dir dir = sftp_opendir(m_sftp, p.c_str());
    if (!dir)
        return failed(what);
    // Every name the server sends counts against the listing's limits, the
    // ones the pattern leaves out too: a server cannot list without end.
    std::string received, kept;
    ListingBuffer listing;
    listing.start(&received);
    bool whole = true;
    while (sftp_attributes a = sftp_readdir(m_sftp, dir)) {
        const std::string name = a->name ? a->name : "";
        std::string line = (namesOnly ? name : a->longname ? std::string(a->longname) : longLine(*a)) + '\n';
        const bool link = a->type == SSH_FILEXFER_TYPE_SYMLINK;
        sftp_attributes_free(a);
        m_watch->progress();
        if (!listing.append(line.data(), line.size(), m_settings)) {
            whole = false;
            break;
        }
        std::string shown = withoutDotEntries(line, namesOnly, pattern);
        // A long listing says where a link points, as "ls -l" does; matched by its own name, not the target's.
        if (!shown.empty() && !namesOnly && link) {
            if (char* target = sftp_readlink(m_sftp, (p + name).c_str())) {
                shown.insert(shown.size() - 1, std::string(" -> ") + target);
                ssh_string_free_char(target);
            }
            m_sftp->errnum = SSH_FX_OK; // a link that cannot be read is no failure of the listing
        }
        kept += shown;
    }
    const bool read = !whole || sftp_dir_eof(dir);
    Outcome o = read ? Outcome{} : failed(what);
    sftp_closedir(dir);
    listing.stop();
    if (!whole)
        return {Failure::Remote, what + ": " + listing.refused()};
    if (o.ok())
        out += kept;
    return o;
}

} // namespace zul::runner
