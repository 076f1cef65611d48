#include "runner/Runner.h"

#include "ftpscript/Grammar.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "runner/Checksum.h"
#include "runner/Masking.h"
#include "runner/Netrc.h"
#include "runner/ReceiptRegister.h"
#include "runner/SafeName.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fnmatch.h>
#include <glob.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace zul::runner {

namespace {
std::string currentFolder()
{
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

std::string realFolder(const std::string& path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The local name a GET gets without one: the remote name without quotes, made
// a plain name in the local folder as mget makes the names of a listing.
std::optional<std::string> defaultLocalName(std::string remote, std::string* why)
{
    if (ftpscript::isDataSetName(remote))
        remote = remote.substr(1, remote.size() - 2);
    return safeLocalName(remote, why);
}

// Trust files named relative to the application folder, as the settings file is.
Settings partnerSettings(Settings s, const std::string& appFolder)
{
    for (std::string* path : {&s.caFile, &s.knownHosts, &s.sshKey})
        if (!path->empty() && path->front() != '/')
            *path = appFolder + "/" + *path;
    if (!s.pinnedKey.empty() && s.pinnedKey.front() != '/' && s.pinnedKey.rfind("sha256//", 0) != 0)
        s.pinnedKey = appFolder + "/" + s.pinnedKey;
    return s;
}

std::string stemOf(const std::string& path)
{
    const std::string base = baseName(path);
    const auto dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

std::vector<std::string> splitListing(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        auto nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        std::string l = text.substr(start, nl - start);
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        if (!l.empty())
            out.push_back(l);
        start = nl + 1;
    }
    return out;
}
} // namespace

Runner::Runner(Transcript& transcript, ProgressBar& progress, const Settings& settings, std::string appFolder,
               std::chrono::steady_clock::time_point deadline, std::function<bool()> interrupted)
    : m_transcript(transcript), m_progress(progress), m_settings(settings), m_appFolder(std::move(appFolder)),
      m_interrupted(std::move(interrupted)), m_deadline(deadline),
      m_session(makeSession(Scheme::Ftp, transcript, progress, settings, [this] { return stopRequested(); })),
      m_localDir(currentFolder())
{
}

bool Runner::stopRequested() const
{
    return (m_interrupted && m_interrupted()) || std::chrono::steady_clock::now() >= m_deadline;
}

bool Runner::sleepFor(std::chrono::milliseconds delay) const
{
    const auto until = std::chrono::steady_clock::now() + delay;
    while (std::chrono::steady_clock::now() < until) {
        if (stopRequested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

RunResult Runner::fromOutcome(const Outcome& o)
{
    switch (o.failure) {
    case Failure::None:
        return {};
    case Failure::Transient:
        return {ExitStatus::TransientFailure, o.message};
    case Failure::TimedOut:
        return {ExitStatus::TimedOut, o.message};
    case Failure::Unreachable:
        return {ExitStatus::Unreachable, o.message};
    case Failure::Login:
        return {ExitStatus::LoginRefused, o.message};
    case Failure::Remote:
        return {ExitStatus::RemoteError, o.message};
    case Failure::Local:
        return {ExitStatus::LocalFileError, o.message};
    case Failure::Untrusted:
        return {ExitStatus::Untrusted, o.message};
    case Failure::NoTls:
        return {ExitStatus::TlsNotOffered, o.message};
    case Failure::Unsupported:
        return {ExitStatus::ScriptError, o.message};
    case Failure::Stopped:
        if (m_interrupted && m_interrupted())
            return {ExitStatus::Interrupted, o.message + ": interrupted"};
        return {ExitStatus::TimedOut, o.message + ": the run's deadline passed"};
    }
    return {ExitStatus::RunnerError, o.message};
}

// Retries go on while the retry count, the retry budget (counted from the
// first failure) and the run's deadline allow; a late attempt gets only what
// is left of the budget to wait for the partner.
Outcome Runner::retrying(const std::function<Outcome()>& attempt)
{
    using Clock = std::chrono::steady_clock;
    struct WaitLimitReset {
        Session& session;
        ~WaitLimitReset() { session.setWaitLimit(std::chrono::seconds(0)); }
    } reset{*m_session};
    auto delay = m_settings.backoff;
    std::optional<Clock::time_point> budgetEnd;
    for (int done = 0;; ++done) {
        Outcome o = attempt();
        if (o.failure != Failure::Transient && o.failure != Failure::TimedOut && o.failure != Failure::Unreachable)
            return o;
        if (!budgetEnd)
            budgetEnd = Clock::now() + m_settings.retryBudget;
        if (done >= m_settings.retries) {
            if (done > 0)
                o.message += " (after " + platform::counted(done, "retry", "retries") + ")";
            return o;
        }
        if (Clock::now() + delay >= m_deadline) {
            o.message += " (no time left for a retry)";
            return o;
        }
        if (Clock::now() + delay + std::chrono::seconds(1) > *budgetEnd) {
            o.message += " (the retry budget of " + std::to_string(m_settings.retryBudget.count()) + " s is spent" +
                         (done > 0 ? " after " + platform::counted(done, "retry", "retries") + ")" : ")");
            return o;
        }
        m_transcript.note(o.message + "; retry " + std::to_string(done + 1) + " of " +
                          std::to_string(m_settings.retries) + " in " + std::to_string(delay.count()) + " ms");
        if (!sleepFor(delay))
            return {Failure::Stopped, o.message};
        m_session->reconnect();
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(*budgetEnd - Clock::now());
        m_session->setWaitLimit(std::max(left, std::chrono::seconds(1)));
        delay *= 2;
    }
}

std::optional<RunResult> Runner::requireSession() const
{
    if (!m_session->hasHost())
        return RunResult{ExitStatus::ScriptError, "not connected: the script has no open command before this line"};
    if (!m_session->loggedIn())
        return RunResult{ExitStatus::ScriptError, "not logged in: the script has no user command before this line"};
    return std::nullopt;
}

std::string Runner::localPath(const std::string& name) const
{
    std::string p = toLocalPath(name);
    if (p.empty() || p.front() == '/')
        return p;
    return m_localDir + "/" + p;
}

bool Runner::inJunction(const std::string& path) const
{
    // The same folder however each path reaches it: two stat calls, where
    // resolving both paths would read every link on the way.
    const std::string folder = folderPart(path);
    const std::string junction = m_appFolder + "/Junction";
    struct stat a {};
    struct stat b {};
    if (::stat(folder.c_str(), &a) == 0 && ::stat(junction.c_str(), &b) == 0)
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    return realFolder(folder) == realFolder(junction);
}

std::optional<std::string> Runner::markerKeyFor(const std::vector<Command>& script, std::size_t i,
                                                const std::string& local) const
{
    if (i + 1 >= script.size() || script[i + 1].verb != Verb::Marker)
        return std::nullopt;
    const auto& key = script[i + 1].key;
    if (key.empty() || stemOf(local) != key || !inJunction(local))
        return std::nullopt;
    return key;
}

RunResult Runner::run(const std::vector<Command>& script)
{
    RunResult result;
    bool stop = false;
    for (std::size_t i = 0; i < script.size() && !stop; ++i) {
        if (stopRequested()) {
            result = fromOutcome({Failure::Stopped, "before line " + std::to_string(script[i].line)});
            break;
        }
        m_transcript.script(script[i].line, script[i].shown);
        m_progress.command(script[i].line, script[i].word);
        result = execute(script, i, stop);
        if (result.status != ExitStatus::Success) {
            result.message = "line " + std::to_string(script[i].line) + ": " + result.message;
            break;
        }
    }
    m_session->close();
    removeDelivered();
    return result;
}

void Runner::removeDelivered()
{
    if (m_delivered.empty())
        return;
    const std::size_t n = m_delivered.size();
    if (const std::string e = removeDeliveredRecords(m_appFolder, m_delivered); !e.empty())
        m_transcript.error("the receipt records of the delivered files stay: " + e);
    else
        m_transcript.note(std::string(n == 1 ? "the receipt record of the delivered file was"
                                             : "the receipt records of the delivered files were") +
                          " removed from Rcvdchkr.txt");
    m_delivered.clear();
}

namespace {
// True when the table has one row a verb, each at the place of its verb: a new
// verb does not compile without its handler.
template <typename Rows> constexpr bool oneRowPerVerbInOrder(const Rows& rows)
{
    if (rows.size() != std::size_t(Verb::Marker) + 1)
        return false;
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (std::size_t(rows[k].verb) != k)
            return false;
    return true;
}
} // namespace

// The grammar owns the command words; what each command does is one handler
// here, picked by its verb.
RunResult Runner::execute(const std::vector<Command>& script, std::size_t i, bool& stop)
{
    struct Row {
        Verb verb;
        RunResult (Runner::*handler)(Step&);
    };
    static constexpr std::array kHandlers{
        Row{Verb::Open, &Runner::onOpen},       Row{Verb::User, &Runner::onUser},
        Row{Verb::Cd, &Runner::onCd},           Row{Verb::Cdup, &Runner::onCdup},
        Row{Verb::Lcd, &Runner::onLcd},         Row{Verb::Pwd, &Runner::onPwd},
        Row{Verb::Ls, &Runner::onLs},           Row{Verb::Dir, &Runner::onDir},
        Row{Verb::Get, &Runner::onGet},         Row{Verb::Put, &Runner::onPut},
        Row{Verb::Mget, &Runner::onMget},       Row{Verb::Mput, &Runner::onMput},
        Row{Verb::Append, &Runner::onAppend},   Row{Verb::Delete, &Runner::onDelete},
        Row{Verb::Mdelete, &Runner::onMdelete}, Row{Verb::Mkdir, &Runner::onMkdir},
        Row{Verb::Rmdir, &Runner::onRmdir},     Row{Verb::Rename, &Runner::onRename},
        Row{Verb::Ascii, &Runner::onAscii},     Row{Verb::Binary, &Runner::onBinary},
        Row{Verb::Type, &Runner::onType},       Row{Verb::Quote, &Runner::onQuote},
        Row{Verb::Site, &Runner::onSite},       Row{Verb::Passive, &Runner::onPassive},
        Row{Verb::Close, &Runner::onClose},     Row{Verb::Quit, &Runner::onQuit},
        Row{Verb::NoOp, &Runner::onNoOp},       Row{Verb::DisabledPut, &Runner::onDisabledPut},
        Row{Verb::Marker, &Runner::onMarker},
    };
    static_assert(oneRowPerVerbInOrder(kHandlers), "one handler for each verb, in the order of the verbs");
    const auto verb = std::size_t(script[i].verb);
    if (verb >= kHandlers.size())
        return {ExitStatus::RunnerError, "unhandled command"};
    Step step{script, i};
    RunResult result = (this->*kHandlers[verb].handler)(step);
    stop = step.stop;
    return result;
}

RunResult Runner::onSession(const std::function<Outcome()>& request)
{
    if (auto e = requireSession())
        return *e;
    return fromOutcome(retrying(request));
}

RunResult Runner::onOpen(Step& s)
{
    const auto& a = s.command().args;
    const auto address =
        ftpscript::parseOpenAddress(a[0], a.size() > 1 ? std::optional<std::string_view>(a[1]) : std::nullopt);
    if (const auto* error = std::get_if<ftpscript::AddressError>(&address))
        return {ExitStatus::ScriptError, "open: " + error->message};
    const auto& partner = std::get<ftpscript::OpenAddress>(address);
    m_session->close();
    m_settings = m_settings.forPartner(partner.host);
    m_session = makeSession(partner.scheme, m_transcript, m_progress, partnerSettings(m_settings, m_appFolder),
                            [this] { return stopRequested(); });
    m_session->open(partner.host, partner.port);
    m_transcript.note(std::string("partner ") + partner.host + " port " + std::to_string(partner.port) + " over " +
                      std::string(ftpscript::schemeName(partner.scheme)));
    return {};
}

RunResult Runner::onUser(Step& s)
{
    const auto& a = s.command().args;
    if (!m_session->hasHost())
        return {ExitStatus::ScriptError, "not connected: the script has no open command before this line"};
    std::string password = a.size() > 1 ? a[1] : std::string();
    if (password.empty()) {
        // Passwords may stay out of scripts: the netrc file has them.
        const NetrcLookup n = netrcPassword(m_session->host(), a[0]);
        if (!n.error.empty())
            return {ExitStatus::ScriptError, "no password for " + a[0] + " in the script, and " + n.error};
        if (n.password) {
            password = *n.password;
            m_transcript.note("the password for " + a[0] + " comes from " + n.path);
        } else {
            m_transcript.note("no password for " + a[0] + " in the script or in " +
                              (n.path.empty() ? std::string("a netrc file") : n.path) + "; logging in without one");
        }
    }
    m_transcript.addSecret(password);
    m_session->setLogin(a[0], password);
    return fromOutcome(retrying([this] { return m_session->login(); }));
}

RunResult Runner::changeFolder(const std::function<Outcome()>& change)
{
    if (auto e = requireSession())
        return *e;
    Outcome o = retrying(change);
    if (o.ok())
        m_transcript.note("remote folder is now " + m_session->workingFolder());
    return fromOutcome(o);
}

RunResult Runner::onCd(Step& s)
{
    const auto& a = s.command().args;
    return changeFolder([&] { return m_session->changeFolder(a[0]); });
}

RunResult Runner::onCdup(Step&)
{
    return changeFolder([&] { return m_session->changeUp(); });
}

RunResult Runner::onLcd(Step& s)
{
    const auto& a = s.command().args;
    if (!a.empty()) {
        const std::string dir = localPath(a[0]);
        if (!platform::isDirectory(dir))
            return {ExitStatus::LocalFileError, "no local folder " + dir};
        m_localDir = realFolder(dir);
    }
    m_transcript.note("local folder is now " + m_localDir);
    return {};
}

RunResult Runner::onPwd(Step&)
{
    if (auto e = requireSession())
        return *e;
    std::string shown;
    Outcome o = retrying([&] { return m_session->printFolder(shown); });
    if (o.ok() && !shown.empty())
        std::printf("%s\n", platform::escapeControls(shown).c_str());
    return fromOutcome(o);
}

RunResult Runner::onLs(Step& s)
{
    return listing(s.command(), true);
}

RunResult Runner::onDir(Step& s)
{
    return listing(s.command(), false);
}

RunResult Runner::onGet(Step& s)
{
    const auto& a = s.command().args;
    if (auto e = requireSession())
        return *e;
    if (a.size() > 1)
        return get(s.script, s.index, a[0], a[1]);
    std::string why;
    const auto name = defaultLocalName(a[0], &why);
    if (!name)
        return {ExitStatus::LocalFileError,
                "get " + a[0] + ": no local file name can be made of it (" + why + "); give one after it"};
    return get(s.script, s.index, a[0], *name);
}

RunResult Runner::putCommand(Step& s, bool append)
{
    const auto& a = s.command().args;
    if (auto e = requireSession())
        return *e;
    return put(a[0], a.size() > 1 ? a[1] : baseName(toLocalPath(a[0])), append);
}

RunResult Runner::onPut(Step& s)
{
    return putCommand(s, false);
}

RunResult Runner::onAppend(Step& s)
{
    return putCommand(s, true);
}

RunResult Runner::onMget(Step& s)
{
    const auto& a = s.command().args;
    if (auto e = requireSession())
        return *e;
    // The names come from the server: each is made a plain local name first.
    // One name the server will not give (a folder, a name it listed in
    // pieces, a file gone since) is skipped; the others are still fetched.
    int skipped = 0;
    int refused = 0;
    auto r = forEachRemote(a, [&](const std::string& n) -> RunResult {
        std::string why;
        const auto name = safeLocalName(n, &why);
        if (!name) {
            m_transcript.note("skipped the remote name \"" + n + "\": not usable as a local file name, " + why);
            ++skipped;
            return {};
        }
        RunResult got = get(s.script, s.index, n, *name);
        if (got.status == ExitStatus::RemoteError) {
            m_transcript.note("skipped the remote name \"" + n + "\": " + got.message);
            ++refused;
            return {};
        }
        return got;
    });
    if (r.status == ExitStatus::Success && skipped + refused > 0) {
        const auto count = [](int k) {
            return std::to_string(k) + (k == 1 ? " remote name was" : " remote names were");
        };
        std::string why;
        if (skipped > 0)
            why = count(skipped) + " skipped, not usable as local file names";
        if (refused > 0)
            why += (why.empty() ? "" : "; ") + count(refused) + " skipped, refused by the server (a folder?)";
        r = {ExitStatus::RemoteError, "mget: " + why};
    }
    return r;
}

RunResult Runner::onMput(Step& s)
{
    if (auto e = requireSession())
        return *e;
    for (const auto& pattern : s.command().args) {
        glob_t g{};
        const int rc = ::glob(localPath(pattern).c_str(), 0, nullptr, &g);
        std::vector<std::string> files;
        for (std::size_t k = 0; rc == 0 && k < g.gl_pathc; ++k)
            if (platform::findNormalFile(g.gl_pathv[k]))
                files.emplace_back(g.gl_pathv[k]);
        ::globfree(&g);
        if (files.empty())
            return {ExitStatus::LocalFileError, "no local file matches " + pattern};
        for (const auto& f : files)
            if (auto r = put(f, baseName(f), false); r.status != ExitStatus::Success)
                return r;
    }
    return {};
}

RunResult Runner::onDelete(Step& s)
{
    const auto& a = s.command().args;
    return onSession([&] { return m_session->remove(a[0]); });
}

RunResult Runner::onMdelete(Step& s)
{
    if (auto e = requireSession())
        return *e;
    return forEachRemote(s.command().args,
                         [&](const std::string& n) { return onSession([&] { return m_session->remove(n); }); });
}

RunResult Runner::onMkdir(Step& s)
{
    const auto& a = s.command().args;
    return onSession([&] { return m_session->makeFolder(a[0]); });
}

RunResult Runner::onRmdir(Step& s)
{
    const auto& a = s.command().args;
    return onSession([&] { return m_session->removeFolder(a[0]); });
}

RunResult Runner::onRename(Step& s)
{
    const auto& a = s.command().args;
    return onSession([&] { return m_session->rename(a[0], a[1]); });
}

RunResult Runner::onAscii(Step&)
{
    m_session->setAscii(true);
    return {};
}

RunResult Runner::onBinary(Step&)
{
    m_session->setAscii(false);
    return {};
}

RunResult Runner::onType(Step& s)
{
    const auto& a = s.command().args;
    if (!a.empty()) {
        const std::string t = platform::upper(a[0]);
        m_session->setAscii(t == "ASCII" || t == "A");
    }
    m_transcript.note(std::string("transfer type is ") + (m_session->ascii() ? "ASCII" : "binary"));
    return {};
}

RunResult Runner::onQuote(Step& s)
{
    const auto& a = s.command().args;
    const auto words = splitWords(a[0]);
    if (carriesPassword(a[0]) && words.size() > 1) {
        // A server may echo it in a reply.
        for (std::size_t w = 1; w < words.size(); ++w)
            m_transcript.addSecret(words[w]);
        m_transcript.addSecret(platform::trim(a[0].substr(a[0].find_first_of(" \t"))));
    }
    return onSession([&] { return m_session->quote(a[0]); });
}

RunResult Runner::onSite(Step& s)
{
    const auto& a = s.command().args;
    return onSession([&] { return m_session->site(a[0]); });
}

RunResult Runner::onPassive(Step&)
{
    return fromOutcome(m_session->passive());
}

RunResult Runner::onClose(Step&)
{
    m_session->close();
    return {};
}

RunResult Runner::onQuit(Step& s)
{
    m_session->close();
    s.stop = true;
    return {};
}

RunResult Runner::onNoOp(Step&)
{
    m_transcript.note("accepted; changes nothing");
    return {};
}

RunResult Runner::onDisabledPut(Step&)
{
    m_transcript.note("skipped: this PUT was disabled before the run (its local file was empty)");
    return {};
}

RunResult Runner::onMarker(Step& s)
{
    return deliverMarker(s.script, s.index);
}

RunResult Runner::get(const std::vector<Command>& script, std::size_t i, const std::string& remote,
                      const std::string& localName)
{
    const std::string local = localPath(localName);
    m_lastGet.reset();
    LastGet last;
    last.index = i;
    last.local = local;
    const auto key = script[i].verb == Verb::Get ? markerKeyFor(script, i, local) : std::nullopt;
    if (key) {
        last.options = findReceipt(registerPath(m_appFolder), *key);
        // Its checks unknown, the file is not fetched to be delivered unchecked.
        if (!last.options.error.empty())
            return {ExitStatus::LocalFileError, "get " + remote + ": cannot read Rcvdchkr.txt: " + last.options.error};
        if (!last.options.found)
            m_transcript.note("no receipt record for " + *key + " in Rcvdchkr.txt; delivering without checks");
        if (last.options.checkSize || last.options.keepTime) {
            Outcome o = retrying([&] { return m_session->facts(remote, last.facts); });
            if (!o.ok())
                return deliverKept(script, i, local, last.options, fromOutcome(o));
        }
    }
    TransferStats stats;
    // Kept between attempts: after a broken transfer the retry may continue it.
    PartFile part;
    std::optional<ServerFacts> brokenAt;
    std::int64_t sentAgain = 0;
    Outcome o = retrying([&]() -> Outcome {
        if (!brokenAt || !mayContinue(remote, part, *brokenAt)) {
            sentAgain += part.size();
            if (auto e = part.create(local, m_settings.syncReceived); !e.empty())
                return {Failure::Local, "get " + remote + ": " + e};
        }
        brokenAt.reset();
        Outcome r = m_session->download(remote, part, !last.options.checkSize, stats);
        if (!r.ok()) {
            // Kept only after a dropped connection and while RESUME allows; else the earlier target stays alone.
            if (stats.broken && m_settings.resume && !m_session->ascii() && part.size() > 0)
                brokenAt = stats.seen;
            else
                part.discard();
            return r;
        }
        if (auto e = part.commit(std::nullopt, m_settings.syncReceived); !e.empty())
            return {Failure::Local, "get " + remote + ": " + e};
        return r;
    });
    if (o.ok() && sentAgain > 0)
        m_transcript.note("get " + remote + ": " + platform::counted(sentAgain, "byte was", "bytes were") +
                          " received again after an interrupted transfer");
    if (!o.ok())
        return key ? deliverKept(script, i, local, last.options, fromOutcome(o)) : fromOutcome(o);
    ++m_totals.filesDown;
    m_totals.bytesDown += stats.bytes;
    m_transcript.note("received " + remote + " into " + local + ": " + platform::counted(stats.bytes, "byte", "bytes") + " in " +
                      std::to_string(stats.seconds).substr(0, 6) + " s, " + formatRate(stats.bytes, stats.seconds));
    m_lastGet = last;
    return {};
}

RunResult Runner::put(const std::string& localName, const std::string& remote, bool append)
{
    const std::string local = localPath(localName);
    SourceFile source;
    if (auto e = source.open(local); !e.empty())
        return {ExitStatus::LocalFileError, (append ? "append: " : "put: ") + e};
    const std::string target = uploadName(remote, append);
    const bool ascii = m_session->ascii();
    TransferStats stats;
    bool broken = false; // the last attempt stopped on the way: the temporary file may be continued
    std::int64_t from = 0;
    Outcome o = retrying([&]() -> Outcome {
        from = broken ? continueAt(target, source) : 0;
        broken = false;
        Outcome r = m_session->upload(target, source, append, stats, from);
        if (!r.ok()) {
            broken = target != remote && m_settings.resume && !ascii &&
                     (r.failure == Failure::Transient || r.failure == Failure::TimedOut);
            return r;
        }
        if (!ascii && !append)
            if (r = verifyUpload(target, source, stats.seen.size); !r.ok())
                return r;
        if (target != remote)
            r = moveIntoPlace(target, remote);
        return r;
    });
    if (!o.ok()) {
        if (target != remote)
            removeTemporary(target);
        return fromOutcome(o);
    }
    if (m_settings.keepTime) {
        Outcome t = retrying([&] { return m_session->setTime(remote, source.mtime()); });
        if (t.failure == Failure::Unsupported)
            noteOnce(t.message);
        else if (!t.ok())
            return fromOutcome(t);
    }
    ++m_totals.filesUp;
    m_totals.bytesUp += stats.bytes;
    m_transcript.note("sent " + local + " as " + remote + ": " + platform::counted(stats.bytes, "byte", "bytes") +
                      (from > 0 ? " from byte " + std::to_string(from) + " on" : std::string()) + " in " +
                      std::to_string(stats.seconds).substr(0, 6) + " s, " + formatRate(stats.bytes, stats.seconds));
    return {};
}

std::string Runner::uploadName(const std::string& remote, bool append)
{
    if (m_settings.uploadTemp == Settings::UploadTemp::Off || append)
        return remote;
    if (ftpscript::isDataSetName(remote)) {
        noteOnce("UPLOAD_TEMP does not apply to a quoted data set name: " + remote + " is written under its own name");
        return remote;
    }
    const auto slash = remote.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : remote.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? remote : remote.substr(slash + 1);
    return m_settings.uploadTemp == Settings::UploadTemp::Suffix ? remote + ".zulpart" : folder + ".zulpart." + base;
}

// Where a broken upload to a temporary name continues: at the partner's size of
// it, when the local file has not changed since and the partner has no more than it.
std::int64_t Runner::continueAt(const std::string& target, const SourceFile& source)
{
    ServerFacts there;
    const Outcome o = m_session->facts(target, there);
    std::string why;
    if (!o.ok())
        why = "its size is not known (" + o.message + ")";
    else if (!there.size)
        why = "the partner gives no size of it";
    else if (!source.unchanged())
        why = "the local file changed since";
    else if (*there.size > source.size())
        why = "the partner has more of it than the local file holds";
    if (!why.empty()) {
        m_transcript.note("put " + target + ": starting again from byte 0: " + why);
        return 0;
    }
    m_transcript.note("put " + target + ": continuing at byte " + std::to_string(*there.size) + " of " +
                      std::to_string(source.size()));
    return *there.size;
}

// A download that broke off continues from the part file when the file on the
// partner has the size and time it had when the transfer began.
bool Runner::mayContinue(const std::string& remote, const PartFile& part, const ServerFacts& before)
{
    std::string why;
    ServerFacts now;
    if (!before.size || !before.mtime)
        why = "the partner gave no size and time of it";
    else if (const Outcome o = m_session->facts(remote, now); !o.ok())
        why = "its size and time are not known (" + o.message + ")";
    else if (now.size != before.size || now.mtime != before.mtime)
        why = "it changed on the partner since (size or time)";
    else if (part.size() > *now.size)
        why = "more was received than the file holds";
    if (!why.empty()) {
        m_transcript.note("get " + remote + ": starting again from byte 0: " + why);
        return false;
    }
    m_transcript.note("get " + remote + ": continuing at byte " + std::to_string(part.size()) + " of " +
                      std::to_string(*now.size));
    return true;
}

Outcome Runner::verifyUpload(const std::string& remote, SourceFile& source, std::optional<std::int64_t> sizeSeen)
{
    if (m_settings.verify == Settings::Verify::Off)
        return {};
    ServerFacts there;
    there.size = sizeSeen;
    if (!there.size)
        if (Outcome o = m_session->facts(remote, there, Session::Facts::SizeOnly); !o.ok())
            return o;
    if (!there.size) {
        noteOnce("the partner gives no size of an uploaded file: uploads are not checked");
    } else if (*there.size != source.size()) {
        const std::string what = "put " + remote + ": the partner has " + std::to_string(*there.size) + " bytes, " +
                                 std::to_string(source.size()) + " were sent";
        m_transcript.error(what);
        return {Failure::Transient, what};
    }
    if (m_settings.verify != Settings::Verify::Hash)
        return {};
    RemoteHash theirs;
    Outcome o = m_session->remoteHash(remote, theirs);
    if (o.failure == Failure::Unsupported) {
        noteOnce(o.message + ": uploads are checked by their size alone");
        return {};
    }
    if (!o.ok())
        return o;
    const std::string ours = fileHash(source.fd(), theirs.algorithm);
    if (ours.empty())
        return {Failure::Local, "put " + remote + ": cannot read " + theirs.algorithm + " of the local file"};
    if (!sameHash(ours, theirs.hex)) {
        const std::string what = "put " + remote + ": " + theirs.algorithm + " differs: the partner has " +
                                 platform::escapeControls(theirs.hex) + ", the local file " + ours;
        m_transcript.error(what);
        return {Failure::Transient, what};
    }
    m_transcript.note("put " + remote + ": " + theirs.algorithm + " matches");
    return {};
}

// The rename that makes an upload visible. A partner that will not rename over
// an existing name (SFTP servers without the overwrite extension) gets the old
// file removed first.
Outcome Runner::moveIntoPlace(const std::string& temp, const std::string& remote)
{
    Outcome o = m_session->rename(temp, remote);
    if (o.failure != Failure::Remote)
        return o;
    ServerFacts there;
    if (!m_session->facts(remote, there).ok() || (!there.size && !there.mtime))
        return o;
    m_transcript.note("the partner will not rename over " + remote + ": removing it, then renaming " + temp);
    if (Outcome d = m_session->remove(remote); !d.ok())
        return d;
    return m_session->rename(temp, remote);
}

void Runner::removeTemporary(const std::string& temp)
{
    if (stopRequested()) {
        m_transcript.note("the temporary file " + temp + " stays on the partner: the run is stopping");
        return;
    }
    const Outcome o = retrying([&] { return m_session->remove(temp); });
    m_transcript.note(o.ok() ? "removed the temporary file " + temp
                             : "the temporary file " + temp + " stays on the partner: " + o.message);
}

void Runner::noteOnce(const std::string& text)
{
    if (m_notedOnce.insert(text).second)
        m_transcript.note(text);
}

RunResult Runner::deliverMarker(const std::vector<Command>& script, std::size_t i)
{
    const Command& c = script[i];
    const bool belongs = i > 0 && script[i - 1].verb == Verb::Get && m_lastGet && m_lastGet->index == i - 1 &&
                         markerKeyFor(script, i - 1, m_lastGet->local).has_value();
    if (!belongs || c.target.empty()) {
        m_transcript.note("this receipt marker does not belong to the GET before it; ignored");
        return {};
    }
    const std::string target = toLocalPath(c.target);
    const std::string err = deliverReceived(m_lastGet->local, target, m_lastGet->options, m_lastGet->facts);
    if (!err.empty())
        return {ExitStatus::DeliveryFailure, "delivery of " + c.key + " to " + target + " refused: " + err};
    m_transcript.note("delivered " + m_lastGet->local + " to " + target);
    m_lastGet.reset();
    return {};
}

// A file that is not delivered stays in Junction/ with its record, for a later run.
std::string Runner::deliverReceived(const std::string& junctionFile, const std::string& target,
                                    const ReceiptOptions& options, const ServerFacts& facts)
{
    std::string err = deliver(junctionFile, target, options, facts);
    if (err.empty()) {
        if (!options.line.empty())
            m_delivered.push_back(options.line);
        return err;
    }
    struct stat st {};
    if (::lstat(junctionFile.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        m_kept = "Junction/" + baseName(junctionFile);
        m_transcript.note("received, not delivered: kept as " + m_kept + " for a later run of the event");
    }
    return err;
}

// The GET before a receipt marker failed: a file of that key that an earlier
// run received but could not deliver is delivered now. The GET's failure
// still ends the run. The server's facts of the earlier transfer are gone, so
// a record with RC or RT keeps the file where it is.
RunResult Runner::deliverKept(const std::vector<Command>& script, std::size_t i, const std::string& local,
                              const ReceiptOptions& options, RunResult failed)
{
    struct stat st {};
    const Command& marker = script[i + 1];
    if (stopRequested() || marker.target.empty() || ::lstat(local.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return failed;
    const std::string kept = "Junction/" + baseName(local);
    const std::string target = toLocalPath(marker.target);
    m_transcript.note("the GET of " + marker.key + " failed; " + kept +
                      " was received by an earlier run and not delivered: delivering it now");
    if (const std::string err = deliverReceived(local, target, options, {}); !err.empty()) {
        failed.message += "; " + kept + ", kept by an earlier run, was not delivered either: " + err;
    } else {
        m_transcript.note("delivered " + local + " to " + target);
        failed.message += "; " + kept + ", kept by an earlier run, was delivered to " + target;
    }
    return failed;
}

// A listing of remote, retried as a whole on a transient failure.
Outcome Runner::listText(const std::string& remote, bool namesOnly, std::string& text)
{
    return retrying([&] {
        text.clear();
        return m_session->list(remote, namesOnly, text);
    });
}

RunResult Runner::listing(const Command& c, bool namesOnly)
{
    if (auto e = requireSession())
        return *e;
    const std::string remote = c.args.empty() ? std::string() : c.args[0];
    std::string text;
    Outcome o = listText(remote, namesOnly, text);
    if (!o.ok())
        return fromOutcome(o);
    if (c.args.size() > 1) {
        const std::string local = localPath(c.args[1]);
        if (auto st = platform::replaceAtomically(local, text); !st)
            return {ExitStatus::LocalFileError, "cannot write " + local + ": " + st.error().description};
        m_transcript.note("listing written to " + local);
    } else {
        for (const auto& l : splitListing(text)) {
            m_transcript.note(l);
            std::printf("%s\n", platform::escapeControls(l).c_str());
        }
    }
    return {};
}

// Runs action for every remote name the patterns match; the first failure ends it.
RunResult Runner::forEachRemote(const std::vector<std::string>& patterns,
                                const std::function<RunResult(const std::string&)>& action)
{
    for (const auto& pattern : patterns) {
        std::vector<std::string> names;
        if (auto r = remoteNames(pattern, names); r.status != ExitStatus::Success)
            return r;
        for (const auto& n : names)
            if (auto r = action(n); r.status != ExitStatus::Success)
                return r;
    }
    return {};
}

RunResult Runner::remoteNames(const std::string& pattern, std::vector<std::string>& out)
{
    const auto slash = pattern.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::string text;
    Outcome o = listText(dir, true, text);
    if (!o.ok())
        return fromOutcome(o);
    for (const auto& entry : splitListing(text)) {
        const std::string base = baseName(entry);
        if (::fnmatch(namePattern.c_str(), base.c_str(), 0) == 0)
            out.push_back(dir + base);
    }
    if (out.empty())
        return {ExitStatus::RemoteError, "no remote file matches " + pattern};
    return {};
}

} // namespace zul::runner
