#include "ftpscript/Grammar.h"

#include <array>

namespace zul::ftpscript {

namespace {

constexpr std::array kVerbs{
    VerbInfo{"OPEN", Verb::Open, 1, 2},
    VerbInfo{"USER", Verb::User, 1, 3},
    VerbInfo{"CD", Verb::Cd, 1, 1},
    VerbInfo{"CWD", Verb::Cd, 1, 1},
    VerbInfo{"CDUP", Verb::Cdup, 0, 0},
    VerbInfo{"LCD", Verb::Lcd, 0, 1},
    VerbInfo{"PWD", Verb::Pwd, 0, 0},
    VerbInfo{"LS", Verb::Ls, 0, 2},
    VerbInfo{"DIR", Verb::Dir, 0, 2},
    VerbInfo{"GET", Verb::Get, 1, 2},
    VerbInfo{"RECV", Verb::Get, 1, 2},
    VerbInfo{"PUT", Verb::Put, 1, 2},
    VerbInfo{"SEND", Verb::Put, 1, 2},
    VerbInfo{"MGET", Verb::Mget, 1, -1},
    VerbInfo{"MPUT", Verb::Mput, 1, -1},
    VerbInfo{"APPEND", Verb::Append, 1, 2},
    VerbInfo{"DELETE", Verb::Delete, 1, 1},
    VerbInfo{"MDELETE", Verb::Mdelete, 1, -1},
    VerbInfo{"MKDIR", Verb::Mkdir, 1, 1},
    VerbInfo{"RMDIR", Verb::Rmdir, 1, 1},
    VerbInfo{"RENAME", Verb::Rename, 2, 2},
    VerbInfo{"ASCII", Verb::Ascii, 0, 0},
    VerbInfo{"BINARY", Verb::Binary, 0, 0},
    VerbInfo{"BIN", Verb::Binary, 0, 0},
    VerbInfo{"TYPE", Verb::Type, 0, 1},
    VerbInfo{"QUOTE", Verb::Quote, 1, -1},
    VerbInfo{"LITERAL", Verb::Quote, 1, -1},
    VerbInfo{"SITE", Verb::Site, 1, -1},
    VerbInfo{"PASSIVE", Verb::Passive, 0, 1},
    VerbInfo{"CLOSE", Verb::Close, 0, 0},
    VerbInfo{"DISCONNECT", Verb::Close, 0, 0},
    VerbInfo{"QUIT", Verb::Quit, 0, 0},
    VerbInfo{"BYE", Verb::Quit, 0, 0},
    VerbInfo{"PROMPT", Verb::NoOp, 0, -1},
    VerbInfo{"HASH", Verb::NoOp, 0, -1},
    VerbInfo{"VERBOSE", Verb::NoOp, 0, -1},
    VerbInfo{"BELL", Verb::NoOp, 0, -1},
    VerbInfo{"STATUS", Verb::NoOp, 0, -1},
    VerbInfo{"TRACE", Verb::NoOp, 0, -1},
};

char upperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool equalsUpper(std::string_view word, std::string_view capitals)
{
    if (word.size() != capitals.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (upperAscii(word[i]) != capitals[i])
            return false;
    return true;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

const VerbInfo* findVerb(std::string_view word)
{
    for (const auto& v : kVerbs)
        if (equalsUpper(word, v.word))
            return &v;
    return nullptr;
}

std::string_view blankTrimmed(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool isValidPort(std::string_view s)
{
    if (s.empty() || s.size() > 5)
        return false;
    long n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= 65535;
}

bool isAsciiType(std::string_view s)
{
    return equalsUpper(s, "ASCII") || equalsUpper(s, "A");
}

bool isTransferType(std::string_view s)
{
    return isAsciiType(s) || equalsUpper(s, "BINARY") || equalsUpper(s, "IMAGE") || equalsUpper(s, "I");
}

bool needsSession(Verb verb)
{
    switch (verb) {
    case Verb::Cd:
    case Verb::Cdup:
    case Verb::Pwd:
    case Verb::Ls:
    case Verb::Dir:
    case Verb::Get:
    case Verb::Put:
    case Verb::Mget:
    case Verb::Mput:
    case Verb::Append:
    case Verb::Delete:
    case Verb::Mdelete:
    case Verb::Mkdir:
    case Verb::Rmdir:
    case Verb::Rename:
    case Verb::Quote:
    case Verb::Site:
        return true;
    default:
        return false;
    }
}

ArgRole argRole(Verb verb, std::size_t index)
{
    switch (verb) {
    case Verb::Open:
        return index == 0 ? ArgRole::Address : ArgRole::Port;
    case Verb::Get:
        return index == 0 ? ArgRole::Remote : ArgRole::Local;
    case Verb::Put:
    case Verb::Append:
        return index == 0 ? ArgRole::Local : ArgRole::Remote;
    case Verb::Ls:
    case Verb::Dir:
        return index == 0 ? ArgRole::Remote : ArgRole::Local;
    case Verb::Mget:
    case Verb::Cd:
    case Verb::Delete:
    case Verb::Mdelete:
    case Verb::Mkdir:
    case Verb::Rmdir:
    case Verb::Rename:
        return ArgRole::Remote;
    case Verb::Mput:
    case Verb::Lcd:
        return ArgRole::Local;
    default:
        return ArgRole::Other;
    }
}

void wordSpans(std::string_view line, std::vector<WordSpan>& out)
{
    out.clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && isBlank(line[i]))
            ++i;
        if (i >= n)
            break;
        const std::size_t begin = i;
        while (i < n && !isBlank(line[i])) {
            const char q = line[i];
            if (q == '"' || q == '\'') {
                const auto close = line.find(q, i + 1);
                i = close == std::string_view::npos ? n : close + 1;
            } else {
                ++i;
            }
        }
        out.push_back({begin, i});
    }
}

std::string wordText(std::string_view line, WordSpan span)
{
    const std::string_view w = line.substr(span.begin, span.end - span.begin);
    if (w.find_first_of("\"'") == std::string_view::npos)
        return std::string(w);
    std::string out;
    std::size_t i = 0;
    while (i < w.size()) {
        const char q = w[i];
        if (q == '"' || q == '\'') {
            const auto close = w.find(q, i + 1);
            const std::size_t end = close == std::string_view::npos ? w.size() : close;
            if (q == '\'')
                out += '\'';
            out.append(w.substr(i + 1, end - i - 1));
            if (q == '\'' && close != std::string_view::npos)
                out += '\'';
            i = close == std::string_view::npos ? w.size() : close + 1;
        } else {
            out += w[i++];
        }
    }
    return out;
}

bool isDataSetName(std::string_view name)
{
    return name.size() >= 2 && name.front() == '\'' && name.back() == '\'';
}

MarkerLine splitMarker(std::string_view trimmed)
{
    MarkerLine m;
    if (!trimmed.starts_with(kMarkerPrefix))
        return m;
    const auto eq = trimmed.find("=&");
    if (eq == std::string_view::npos)
        return m;
    m.key = trimmed.substr(2, eq - 2);
    m.target = trimmed.substr(eq + 2);
    if (!m.target.empty() && m.target.back() == '&') {
        m.target.remove_suffix(1);
        m.wellFormed = true;
    }
    return m;
}

std::string markerKeyOf(const std::vector<std::string>& getArgs)
{
    if (getArgs.empty())
        return {};
    std::string name = getArgs.size() > 1 ? getArgs[1] : getArgs[0];
    if (getArgs.size() == 1 && isDataSetName(name))
        name = name.substr(1, name.size() - 2);
    for (char& c : name)
        if (c == '\\')
            c = '/';
    const auto slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0)
        name.erase(dot);
    return name;
}

void LineScanner::scan(std::string_view line, ScannedLine& out)
{
    out.text = blankTrimmed(line);
    out.offset = out.text.empty() ? 0 : std::size_t(out.text.data() - line.data());
    out.verb = nullptr;
    out.words.clear();
    if (out.text.empty()) {
        out.kind = LineKind::Blank;
        return;
    }
    if (out.text.starts_with(kMarkerPrefix)) {
        out.kind = out.text.starts_with(kDisabledPrefix) ? LineKind::Disabled : LineKind::Marker;
        m_pending = Pending::None;
        return;
    }
    wordSpans(out.text, out.words);
    const WordSpan first = out.words.front();
    const std::string_view raw = out.text.substr(first.begin, first.end - first.begin);
    out.verb = raw.find_first_of("\"'") == std::string_view::npos ? findVerb(raw) : findVerb(wordText(out.text, first));
    // A command after a login without a password stays a command; the password then comes from netrc.
    if (m_pending == Pending::Password && !out.verb) {
        out.kind = LineKind::Password;
        out.words.clear();
        m_pending = Pending::None;
        return;
    }
    if (!out.verb && m_pending == Pending::AfterOpen) {
        out.kind = LineKind::BareUser;
        m_pending = Pending::Password;
        return;
    }
    m_pending = Pending::None;
    if (!out.verb) {
        out.kind = LineKind::UnknownCommand;
        return;
    }
    out.kind = LineKind::Command;
    if (out.verb->verb == Verb::Open)
        m_pending = Pending::AfterOpen;
    else if (out.verb->verb == Verb::User && out.words.size() == 2)
        m_pending = Pending::Password;
}

} // namespace zul::ftpscript
