#include "ftpscript/Lint.h"

#include "ftpscript/Grammar.h"
#include "ftpscript/OpenAddress.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#include <algorithm>
#include <optional>
#include <variant>

namespace zul::ftpscript {

namespace {

std::string quoted(std::string_view s)
{
    return "'" + std::string(s) + "'";
}

std::string expectedCount(const VerbInfo& v)
{
    if (v.maxArgs < 0)
        return "at least " + std::to_string(v.minArgs);
    if (v.minArgs == v.maxArgs)
        return std::to_string(v.minArgs);
    return std::to_string(v.minArgs) + (v.maxArgs == v.minArgs + 1 ? " or " : " to ") + std::to_string(v.maxArgs);
}

std::string localForm(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

class Linter {
public:
    Linter(const LintOptions& options, std::vector<Diagnostic>& out)
        : m_options(options), m_out(out), m_localFolder(options.localFolder)
    {
    }

    void line(int number, const ScannedLine& l)
    {
        m_line = number;
        if (l.kind == LineKind::BareUser || l.kind == LineKind::Password ||
            (l.kind == LineKind::Command && l.verb->verb == Verb::User))
            m_secretLines.push_back(number);
        switch (l.kind) {
        case LineKind::Blank:
            return; // changes nothing, not even what a marker line follows
        case LineKind::Command:
            command(l);
            return;
        case LineKind::UnknownCommand:
            error("unknown-command", "unknown command " + quoted(word(l, 0)));
            break;
        case LineKind::BareUser:
            m_loggedIn = m_connected;
            // A name never holds a blank: likely a name and password on one line,
            // or a mistyped command. The line itself is not shown, as it may hold a password.
            if (l.words.size() > 1)
                error("bare-user", "the line after 'open' would be sent as a user name, but it holds more than one "
                                   "word (a name and a password on one line?); write 'user NAME PASSWORD'");
            break;
        case LineKind::Marker:
            marker(l.text);
            break;
        case LineKind::Password:
        case LineKind::Disabled:
            break;
        }
        m_getLine = false;
    }

    // The first open line of the run, when its address is good.
    struct FirstOpen {
        int line = 0;
        std::optional<OpenAddress> address;
    };
    const FirstOpen& firstOpen() const { return m_firstOpen; }
    bool mayHoldSecret(int first, int last) const
    {
        return std::any_of(m_secretLines.begin(), m_secretLines.end(),
                           [&](int line) { return line >= first && line <= last; });
    }

private:
    static std::string_view word(const ScannedLine& l, std::size_t i)
    {
        return l.text.substr(l.words[i].begin, l.words[i].end - l.words[i].begin);
    }
    std::string arg(const ScannedLine& l, std::size_t i) const { return wordText(l.text, l.words[i + 1]); }

    void report(Severity s, std::string code, std::string message)
    {
        m_out.push_back({m_line, s, std::move(code), std::move(message)});
    }
    void error(std::string code, std::string message) { report(Severity::Error, std::move(code), std::move(message)); }
    void warning(std::string code, std::string message)
    {
        report(Severity::Warning, std::move(code), std::move(message));
    }

    void command(const ScannedLine& l)
    {
        const VerbInfo& v = *l.verb;
        const std::string_view name = word(l, 0);
        const int n = int(l.words.size()) - 1;
        const bool countOk = n >= v.minArgs && (v.maxArgs < 0 || n <= v.maxArgs);
        m_getLine = false;
        if (!countOk)
            error("arguments", "wrong number of arguments for " + quoted(name) + " (" + expectedCount(v) +
                                   " expected, " + std::to_string(n) + " given)");

        if (!m_ended && (v.verb == Verb::User || needsSession(v.verb))) {
            if (!m_connected)
                error("not-connected", quoted(name) + " needs a connection: no 'open' " +
                                           (m_closedAt ? "since the close on line " + std::to_string(m_closedAt)
                                                       : std::string("before this line")));
            else if (v.verb != Verb::User && !m_loggedIn)
                error("not-logged-in",
                      quoted(name) + " needs a login: no user after the 'open' on line " + std::to_string(m_openAt));
        }

        switch (v.verb) {
        case Verb::Open:
            m_connected = true;
            m_loggedIn = false;
            m_openAt = m_line;
            m_scheme = Scheme::Ftp;
            m_uploads = {};
            m_ascii = false;
            if (countOk) {
                const std::string port = n == 2 ? arg(l, 1) : std::string();
                const auto a =
                    parseOpenAddress(arg(l, 0), n == 2 ? std::optional<std::string_view>(port) : std::nullopt);
                if (const auto* e = std::get_if<AddressError>(&a)) {
                    error(e->code, e->message);
                } else {
                    m_scheme = std::get<OpenAddress>(a).scheme;
                    if (m_options.uploads)
                        m_uploads = m_options.uploads(std::get<OpenAddress>(a).host);
                }
                if (!m_firstOpen.line) {
                    m_firstOpen.line = m_line;
                    if (const auto* o = std::get_if<OpenAddress>(&a))
                        m_firstOpen.address = *o;
                }
            }
            break;
        case Verb::User:
            m_loggedIn = true;
            break;
        case Verb::Close:
            m_connected = m_loggedIn = false;
            m_closedAt = m_line;
            break;
        case Verb::Quit:
            m_ended = true; // the run stops here
            break;
        case Verb::Type:
            if (n == 1) {
                const std::string t = arg(l, 0);
                if (!isTransferType(t))
                    error("transfer-type", "unknown transfer type " + quoted(t) + " (ascii, a, binary, image or i)");
                else if (isAsciiType(t))
                    asciiOverSftp(name);
                if (isTransferType(t))
                    m_ascii = isAsciiType(t);
            }
            break;
        case Verb::Ascii:
            asciiOverSftp(name);
            m_ascii = true;
            break;
        case Verb::Binary:
            m_ascii = false;
            break;
        case Verb::Put:
        case Verb::Append:
            if (countOk) {
                localFileThere(arg(l, 0));
                uploadSettings(v.verb, n == 2 ? arg(l, 1) : std::string());
            }
            break;
        case Verb::Mput:
            uploadSettings(v.verb, {});
            break;
        case Verb::Lcd:
            if (countOk && n == 1)
                changeLocalFolder(localForm(arg(l, 0)));
            break;
        case Verb::Get:
            m_getLine = countOk;
            m_get = l;
            break;
        default:
            break;
        }
    }

    void asciiOverSftp(std::string_view name)
    {
        if (m_connected && m_scheme == Scheme::Sftp)
            warning("ascii-over-sftp", quoted(name) + " over SFTP: files go as they are, line ends are not converted");
    }

    // The partner's upload settings that cannot apply to this upload.
    void uploadSettings(Verb verb, const std::string& remote)
    {
        if (!m_connected)
            return;
        if (m_uploads.temporaryName && verb == Verb::Append)
            warning("upload-temp", "UPLOAD_TEMP does not apply to 'append': it adds to the remote file under its "
                                   "own name");
        else if (m_uploads.temporaryName && isDataSetName(remote))
            warning("upload-temp", "UPLOAD_TEMP cannot apply to the data set name " + remote +
                                       ": it is written under its own name (a data set cannot be renamed into place)");
        if (m_uploads.hash && verb != Verb::Append) {
            if (m_scheme == Scheme::Sftp)
                warning("verify-hash", "VERIFY hash cannot apply over SFTP, which offers no hash: uploads are "
                                       "checked by their size");
            else if (m_ascii)
                warning("verify-hash", "VERIFY hash cannot apply to an ASCII upload: its bytes change on the way");
        }
    }

    void localFileThere(const std::string& name)
    {
        if (!m_options.checkLocalFiles)
            return;
        std::string path = localForm(name);
        if (path.empty())
            return;
        if (path.front() != '/') {
            if (m_localFolder.empty())
                return; // relative to a folder only the run knows
            path = m_localFolder + "/" + path;
        }
        if (!platform::fileExists(path))
            warning("missing-local-file", "local file " + quoted(path) + " does not exist now");
    }

    void changeLocalFolder(const std::string& dir)
    {
        if (dir.empty())
            return;
        if (dir.front() == '/')
            m_localFolder = dir;
        else if (!m_localFolder.empty())
            m_localFolder += "/" + dir;
    }

    void marker(std::string_view text)
    {
        const MarkerLine m = splitMarker(text);
        if (!m.wellFormed) {
            error("marker", "malformed receipt marker line: expected **KEY=&TARGET&");
            return;
        }
        if (!m_getLine) {
            error("marker", "receipt marker line does not follow a GET line");
            return;
        }
        std::vector<std::string> args;
        for (std::size_t i = 1; i < m_get.words.size(); ++i)
            args.push_back(wordText(m_get.text, m_get.words[i]));
        const std::string key = markerKeyOf(args);
        if (key != m.key)
            error("marker", "receipt marker " + quoted(m.key) + " does not match the GET before it (local file " +
                                quoted(key) + ")");
        else if (blankTrimmed(m.target).empty())
            error("marker", "receipt marker " + quoted(m.key) + " names no local target");
    }

    const LintOptions& m_options;
    std::vector<Diagnostic>& m_out;
    std::string m_localFolder;
    int m_line = 0;
    bool m_connected = false;
    bool m_loggedIn = false;
    bool m_ended = false;
    int m_openAt = 0;
    int m_closedAt = 0;
    Scheme m_scheme = Scheme::Ftp;
    LintOptions::Uploads m_uploads;
    bool m_ascii = false;
    bool m_getLine = false; // the last line that was not blank is a GET
    ScannedLine m_get;
    FirstOpen m_firstOpen;
    std::vector<int> m_secretLines; // lines that may hold a password
};

// The partner check before a run does not read the open line but the text
// partnerTextSpan points at. A script whose open line is not what that reads
// passes here and fails every run with "partner did not answer".
void checkPartnerRule(std::string_view text, const Linter& linter, std::vector<Diagnostic>& out)
{
    const auto& open = linter.firstOpen();
    if (!open.address)
        return; // no usable open line: reported already
    // A script on disk ends its lines in CR LF; the editor's text in LF alone.
    const bool crlf = text.find(platform::CRLF) != std::string_view::npos;
    const auto span = platform::partnerTextSpan(text, crlf ? platform::CRLF : "\n");
    const std::size_t found = span.open;
    const std::size_t start = span.start;
    if (start > text.size())
        return;
    const std::size_t end = span.end == std::string_view::npos ? text.size() : span.end;
    const std::string_view read = text.substr(start, end - start);
    const auto asked = parsePartnerText(read);
    if (const auto* a = std::get_if<OpenAddress>(&asked); a && a->host == open.address->host)
        return;

    const int readLine = found == std::string_view::npos
                             ? 1
                             : 1 + int(std::count(text.begin(), text.begin() + std::ptrdiff_t(found), '\n'));
    const std::string where = found == std::string_view::npos
                                  ? "no line holds 'open' in small letters, so it reads line 1 from its fifth character"
                                  : "the first 'open' in small letters is on line " + std::to_string(readLine);
    const int lastLine =
        readLine + int(std::count(text.begin() + std::ptrdiff_t(found == std::string_view::npos ? 0 : found),
                                  text.begin() + std::ptrdiff_t(end), '\n'));
    const std::string what = linter.mayHoldSecret(readLine, lastLine) ? std::string("a login line, not shown")
                                                                      : "'" + platform::escapeControls(read) + "'";
    out.push_back({readLine, Severity::Warning, "partner-address",
                   "the partner check before a run will read " + what + " as the partner address, not the host '" +
                       open.address->host + "' of the open line on line " + std::to_string(open.line) + ": " + where +
                       "; runs will fail with \"partner did not answer\". Write 'open' in small letters and let no "
                       "line before the open line hold 'open'"});
}

} // namespace

std::vector<Diagnostic> lint(std::string_view text, const LintOptions& options)
{
    std::vector<Diagnostic> out;
    Linter linter(options, out);
    LineScanner scanner;
    ScannedLine l;
    int number = 0;
    forEachLine(text, [&](std::string_view line) {
        scanner.scan(line, l);
        linter.line(++number, l);
    });
    checkPartnerRule(text, linter, out);
    std::stable_sort(out.begin(), out.end(), [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    return out;
}

std::string_view severityName(Severity severity)
{
    return severity == Severity::Error ? "error" : "warning";
}

bool hasErrors(const std::vector<Diagnostic>& diagnostics)
{
    for (const auto& d : diagnostics)
        if (d.severity == Severity::Error)
            return true;
    return false;
}

std::string summary(const std::vector<Diagnostic>& diagnostics)
{
    std::size_t errors = 0;
    const Diagnostic* first = nullptr;
    for (const auto& d : diagnostics)
        if (d.severity == Severity::Error && ++errors == 1)
            first = &d;
    const std::size_t warnings = diagnostics.size() - errors;
    if (!first && !diagnostics.empty())
        first = &diagnostics.front();
    if (!first)
        return "No problems";
    auto count = [](std::size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
    std::string s = errors ? count(errors, "problem") : std::string();
    if (warnings)
        s += (errors ? ", " : "") + count(warnings, "warning");
    return s + ": line " + std::to_string(first->line) + ": " + first->message;
}

} // namespace zul::ftpscript
