#include "runner/ScriptParser.h"

#include "platform/Text.h"

#include <array>
#include <cctype>
#include <optional>

namespace zul::runner {

namespace {

struct VerbInfo {
    std::string_view word;
    Verb verb;
    int minArgs;
    int maxArgs; // -1: any number
};

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

std::optional<VerbInfo> findVerb(std::string_view word)
{
    const std::string w = platform::upper(word);
    for (const auto& v : kVerbs)
        if (v.word == w)
            return v;
    return std::nullopt;
}

std::string trimBlanks(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return std::string(s.substr(b, e - b));
}

// Text after the command word, for commands that pass it to the server as is.
std::string restAfterWord(std::string_view line)
{
    const std::string t = trimBlanks(line);
    const auto sp = t.find_first_of(" \t");
    return sp == std::string::npos ? std::string() : trimBlanks(std::string_view(t).substr(sp));
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto nl = text.find('\n', start);
        std::string_view l = text.substr(start, nl == std::string_view::npos ? text.size() - start : nl - start);
        if (!l.empty() && l.back() == '\r')
            l.remove_suffix(1);
        lines.emplace_back(l);
        if (nl == std::string_view::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

bool isValidPort(const std::string& s)
{
    if (s.empty() || s.size() > 5)
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    const long n = std::stol(s);
    return n >= 1 && n <= 65535;
}

// The line after a user line without a password, when it is one: a line that
// reads as a command is left alone, so the password comes from netrc instead.
std::optional<std::string> passwordLine(const std::vector<std::string>& lines, std::size_t& i)
{
    std::size_t j = i + 1;
    while (j < lines.size() && trimBlanks(lines[j]).empty())
        ++j;
    if (j >= lines.size())
        return std::nullopt;
    const std::string t = trimBlanks(lines[j]);
    const auto words = splitWords(t);
    if (t.starts_with("**") || (!words.empty() && findVerb(words[0])))
        return std::nullopt;
    i = j;
    return t;
}

} // namespace

std::string maskLine(std::string_view line)
{
    const auto words = splitWords(line);
    if (words.empty())
        return std::string(line);
    const std::string verb = platform::upper(words[0]);
    std::size_t keep = std::string::npos; // words shown before the mask
    const auto secret = [](const std::string& w) {
        const std::string u = platform::upper(w);
        return u == "PASS" || u == "ACCT";
    };
    if (verb == "USER" && words.size() >= 3)
        keep = 2;
    else if (secret(words[0]) && words.size() >= 2)
        keep = 1;
    else if ((verb == "QUOTE" || verb == "LITERAL") && words.size() >= 3 && secret(words[1]))
        keep = 2;
    if (keep == std::string::npos)
        return std::string(line);
    std::string out;
    for (std::size_t i = 0; i < keep; ++i)
        out += (i ? " " : "") + words[i];
    return out + " ****";
}

ParseResult parseScript(std::string_view text)
{
    const auto lines = splitLines(text);
    std::vector<Command> out;
    bool afterOpen = false; // the classic client asks for user and password after open
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string t = trimBlanks(lines[i]);
        if (t.empty())
            continue;
        Command c;
        c.line = int(i + 1);
        c.shown = maskLine(t);
        if (t.starts_with("****")) {
            c.verb = Verb::DisabledPut;
            c.args = {t.substr(4)};
            out.push_back(std::move(c));
            afterOpen = false;
            continue;
        }
        if (t.starts_with("**")) {
            c.verb = Verb::Marker;
            const auto eq = t.find("=&");
            if (eq != std::string::npos) {
                c.key = t.substr(2, eq - 2);
                c.target = t.substr(eq + 2);
                if (!c.target.empty() && c.target.back() == '&')
                    c.target.pop_back();
            }
            out.push_back(std::move(c));
            afterOpen = false;
            continue;
        }
        auto words = splitWords(t);
        c.word = words[0];
        const auto info = findVerb(words[0]);
        if (!info && afterOpen) {
            // A bare user name after open; the next line is the password.
            c.verb = Verb::User;
            c.args = {t, ""};
            if (auto pw = passwordLine(lines, i)) {
                c.args[1] = *pw;
                c.shown = t + " ****";
            }
            out.push_back(std::move(c));
            afterOpen = false;
            continue;
        }
        afterOpen = false;
        if (!info)
            return ParseError{c.line, "unknown command \"" + words[0] + "\""};
        c.verb = info->verb;
        words.erase(words.begin());
        const int n = int(words.size());
        if (n < info->minArgs || (info->maxArgs >= 0 && n > info->maxArgs))
            return ParseError{c.line, "wrong number of arguments for \"" + c.word + "\""};
        if (c.verb == Verb::Quote || c.verb == Verb::Site)
            words = {restAfterWord(t)};
        if (c.verb == Verb::Open) {
            if (n == 2 && !isValidPort(words[1]))
                return ParseError{c.line, "bad port \"" + words[1] + "\""};
            afterOpen = true;
        }
        if (c.verb == Verb::Type && n == 1) {
            const std::string ty = platform::upper(words[0]);
            if (ty != "ASCII" && ty != "A" && ty != "BINARY" && ty != "IMAGE" && ty != "I")
                return ParseError{c.line, "unknown transfer type \"" + words[0] + "\""};
        }
        if (c.verb == Verb::User && n == 1) {
            // The password comes on the next line, as the classic client prompts for it.
            if (auto pw = passwordLine(lines, i)) {
                words.push_back(*pw);
                c.shown = trimBlanks(t) + " ****";
            }
        }
        c.args = std::move(words);
        out.push_back(std::move(c));
    }
    return out;
}

} // namespace zul::runner
