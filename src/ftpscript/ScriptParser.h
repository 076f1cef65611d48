#pragma once

#include "platform/CommandWords.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zul::ftpscript {

enum class Verb {
    Open,
    User,
    Cd,
    Cdup,
    Lcd,
    Pwd,
    Ls,
    Dir,
    Get,
    Put,
    Mget,
    Mput,
    Append,
    Delete,
    Mdelete,
    Mkdir,
    Rmdir,
    Rename,
    Ascii,
    Binary,
    Type,
    Quote,
    Site,
    Passive,
    Close,
    Quit,
    NoOp,        // prompt, hash, verbose, bell, status, trace: accepted, change nothing
    DisabledPut, // "****" in front of a PUT that the transfer check disabled
    Marker,      // "**" key "=&" target "&" after a redirected GET
};

struct Command {
    int line = 0; // 1-based line of the script
    Verb verb = Verb::NoOp;
    std::string word;              // the command word as written
    std::vector<std::string> args; // words after it, quotes resolved; raw text for quote/site
    std::string shown;             // the line as transcripts show it: passwords masked
    std::string key;               // Marker: event id and GET ordinal
    std::string target;            // Marker: the local target
};

struct ParseError {
    int line = 0;
    std::string message;
};

using ParseResult = std::variant<std::vector<Command>, ParseError>;

// The whole script, checked before anything is sent: an unknown command or a
// wrong number of arguments anywhere is an error with its line number.
ParseResult parseScript(std::string_view text);

using zul::platform::splitWords;

// The line with any password replaced by "****".
std::string maskLine(std::string_view line);

} // namespace zul::ftpscript
