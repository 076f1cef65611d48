#pragma once

#include <string>
#include <string_view>

namespace zul::runner {

// A command as it goes to the server, written down: PASS and ACCT (any letter
// case, with or without libcurl's leading '*') keep their word and lose the rest.
std::string maskCommand(std::string_view command);

// True when the command's word is PASS or ACCT in any letter case.
bool carriesPassword(std::string_view command);

// Any "PASS word" or "ACCT word" inside text (a server echoing a command, a
// message quoting one) with the word masked, whatever the letter case.
std::string maskEchoedCommands(std::string text);

// Control bytes (but tab) as \xNN, so a server cannot ring, clear or recolour
// the terminal of whoever reads a transcript, nor hide text in it.
std::string escapeControls(std::string_view text);

} // namespace zul::runner
