#pragma once

#include "ftpscript/ScriptParser.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zul::ftpscript {

// One command word of the language and the number of words it takes.
struct VerbInfo {
    std::string_view word; // in capitals
    Verb verb;
    int minArgs;
    int maxArgs; // -1: any number
};

// The command of a word in any letter case; null for none.
const VerbInfo* findVerb(std::string_view word);

// Without blanks and tabs at both ends.
std::string_view blankTrimmed(std::string_view s);

// Calls f with each line of text, without its LF or CR LF; a text that ends
// in a line end has an empty last line, as the parser and the lint count lines.
template <typename F> void forEachLine(std::string_view text, F&& f)
{
    for (std::size_t start = 0; start <= text.size();) {
        const auto nl = text.find('\n', start);
        std::string_view line = text.substr(start, nl == std::string_view::npos ? text.size() - start : nl - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        f(line);
        if (nl == std::string_view::npos)
            break;
        start = nl + 1;
    }
}

bool isValidPort(std::string_view s);

// The argument of "type": ASCII, A, BINARY, IMAGE or I in any letter case.
bool isTransferType(std::string_view s);
bool isAsciiType(std::string_view s);

// Commands that talk to the partner: they need an open session and a login.
bool needsSession(Verb verb);

// What a command's argument names, for colouring and for the checks.
enum class ArgRole { Other, Address, Port, Remote, Local };
ArgRole argRole(Verb verb, std::size_t index);

// A word of a command line as [begin, end) in the line, grouped as splitWords
// groups it: blanks and tabs separate, quotes hold blanks together.
struct WordSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};
void wordSpans(std::string_view line, std::vector<WordSpan>& out);
// The word as splitWords gives it: double quotes removed, single quotes kept.
std::string wordText(std::string_view line, WordSpan span);

// A remote name in single quotes, as wordText keeps it: a fully qualified
// mainframe data set name, which the partner takes as written and cannot rename.
bool isDataSetName(std::string_view name);

// "****" in front of a PUT that the transfer check disabled.
inline constexpr std::string_view kDisabledPrefix = "****";
// "**" key "=&" target "&" after a redirected GET.
inline constexpr std::string_view kMarkerPrefix = "**";

struct MarkerLine {
    bool wellFormed = false; // has "=&" and the closing "&"
    std::string_view key;
    std::string_view target;
};
MarkerLine splitMarker(std::string_view trimmed);

// The key that a GET's marker line carries: its local file name without
// folder and extension (the remote name's when the GET names no local file).
std::string markerKeyOf(const std::vector<std::string>& getArgs);

// One line of a script as the runner reads it. The runner reads the password
// of a login from the line after it, whatever that line holds, so a line's
// meaning depends on the lines before it: the scanner carries that along.
enum class LineKind {
    Blank,
    Command,        // a known command word
    UnknownCommand, // a word that is no command
    BareUser,       // a user name alone on the line after "open"
    Password,       // the line after a login that names no password
    Marker,
    Disabled,
};

struct ScannedLine {
    LineKind kind = LineKind::Blank;
    std::string_view text;          // without blanks at both ends
    std::size_t offset = 0;         // of text in the line as given
    const VerbInfo* verb = nullptr; // for Command
    std::vector<WordSpan> words;    // in text; for Command, UnknownCommand and BareUser
};

class LineScanner {
public:
    void scan(std::string_view line, ScannedLine& out);

    // What the next line is expected to be, to resume a scan at a later line.
    int state() const { return int(m_pending); }
    void setState(int state) { m_pending = state >= 0 && state <= 2 ? Pending(state) : Pending::None; }

private:
    enum class Pending { None, AfterOpen, Password };
    Pending m_pending = Pending::None;
};

} // namespace zul::ftpscript
