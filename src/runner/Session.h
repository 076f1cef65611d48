#pragma once

#include "ftpscript/OpenAddress.h"
#include "runner/Delivery.h"
#include "runner/LocalFiles.h"
#include "runner/Settings.h"
#include "runner/Transcript.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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
    Untrusted,   // the partner's certificate or host key is not trusted
    NoTls,       // the partner does not offer TLS; nothing secret was sent
    Unsupported, // the command has no meaning for this partner's protocol
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
    // Downloads: the size and time the server gave for the file, and whether the
    // transfer broke off on the way (what arrived may then be continued).
    // Uploads: the size the server gave right after the upload, when the
    // session could ask for it in the same exchange.
    ServerFacts seen;
    bool broken = false;
};

// A checksum the partner computed: "SHA-256", "SHA-1", "MD5" or "CRC32", and its hex digits as sent.
struct RemoteHash {
    std::string algorithm;
    std::string hex;
};

using ftpscript::Scheme;

// A listing received into memory, cut off once it passes LIST_MAX_BYTES or
// LIST_MAX_NAMES, so that no server can make the runner grow without bound.
class ListingBuffer {
public:
    void start(std::string* text) { m_text = text; m_names = 0; m_refused.clear(); }
    void stop() { m_text = nullptr; }
    bool active() const { return m_text != nullptr; }
    // False once the listing is refused; the transfer is then to be aborted.
    bool append(const char* data, std::size_t bytes, const Settings& settings);
    // Why the listing was cut off; empty when it was not.
    const std::string& refused() const { return m_refused; }

private:
    std::string* m_text = nullptr;
    long m_names = 0;
    std::string m_refused;
};

// What the runner's commands ask of a partner, whatever the protocol. Remote
// names are given as the script wrote them; the session makes them absolute
// from its working folder. When the connection is lost, the next request opens
// a new one and restores the session's state (working folder, SITE commands).
class Session {
public:
    virtual ~Session() = default;

    virtual void open(std::string host, int port) = 0;
    virtual void setLogin(std::string user, std::string password) = 0;
    virtual bool hasHost() const = 0;
    virtual const std::string& host() const = 0;
    virtual bool loggedIn() const = 0;
    virtual void setAscii(bool ascii) = 0;
    virtual bool ascii() const = 0;
    // Caps the connect, reply and stall time-outs of the next requests (zero: the settings alone).
    virtual void setWaitLimit(std::chrono::seconds limit) = 0;

    // Drops the connection (saying good-bye when it is alive) and forgets the session.
    virtual void close() = 0;
    // Drops the connection but keeps the session, to be restored on the next request.
    virtual void reconnect() = 0;

    virtual Outcome login() = 0;
    virtual Outcome changeFolder(const std::string& name) = 0;
    virtual Outcome changeUp() = 0;
    // The working folder as the partner states it, for the operator.
    virtual Outcome printFolder(std::string& shown) = 0;
    virtual Outcome remove(const std::string& name) = 0;
    virtual Outcome makeFolder(const std::string& name) = 0;
    virtual Outcome removeFolder(const std::string& name) = 0;
    virtual Outcome rename(const std::string& from, const std::string& to) = 0;
    virtual Outcome site(const std::string& text) = 0;
    // A raw protocol command; one the protocol has no use for is Unsupported.
    virtual Outcome quote(const std::string& text) = 0;
    // The transfer channel's mode; a protocol without one says so.
    virtual Outcome passive() = 0;
    // A file's size and, unless only the size is asked for, its time (one
    // round trip less over FTP: an upload's check needs the size alone).
    enum class Facts { SizeAndTime, SizeOnly };
    virtual Outcome facts(const std::string& remote, ServerFacts& out, Facts which = Facts::SizeAndTime) = 0;
    // A sink that already holds bytes continues from its size (REST, or an SFTP offset).
    virtual Outcome download(const std::string& remote, PartFile& sink, bool verifySize, TransferStats& stats) = 0;
    // from > 0 sends the source from that byte on, appended to what the partner has (APPE, SFTP append).
    virtual Outcome upload(const std::string& remote, SourceFile& source, bool append, TransferStats& stats,
                           std::int64_t from = 0) = 0;
    // The best hash the partner offers of remote; Unsupported when it offers none.
    virtual Outcome remoteHash(const std::string& remote, RemoteHash& out) = 0;
    // Sets remote's modification time (seconds since the epoch); Unsupported when the partner cannot.
    virtual Outcome setTime(const std::string& remote, std::int64_t mtime) = 0;
    virtual Outcome list(const std::string& remote, bool namesOnly, std::string& out) = 0;

    virtual std::string remotePath(const std::string& name) const = 0;
    virtual const std::string& workingFolder() const = 0;
};

// The session that speaks scheme, with the partner's settings.
std::unique_ptr<Session> makeSession(Scheme scheme, Transcript& transcript, ProgressBar& progress,
                                     const Settings& settings, std::function<bool()> shouldStop);

} // namespace zul::runner
