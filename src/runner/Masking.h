#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zul::runner {

// A command as it goes to the server, written down: PASS and ACCT (any letter
// case, with or without libcurl's leading '*') keep their word and lose the rest.
std::string maskCommand(std::string_view command);

// True when the command's word is PASS or ACCT in any letter case.
bool carriesPassword(std::string_view command);

// Any "PASS word" or "ACCT word" inside text (a server echoing a command, a
// message quoting one) with the word masked, whatever the letter case.
std::string maskEchoedCommands(std::string text);

// Every appearance of a secret in text as "****": in any letter case, and with
// control bytes a server slipped between its characters, so that an echo cannot
// get past by changing case or by splitting it. A secret shorter than four
// characters is masked where it stands as a word of its own. Runs before any
// escaping.
std::string maskSecrets(std::string text, const std::vector<std::string>& secrets);

} // namespace zul::runner
