#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zul::runner {

struct NetrcLookup {
    std::string path;                    // the file looked in; empty when there is none to look in
    std::optional<std::string> password; // found for the machine and login
    std::string error;                   // the file exists but must not or cannot be used
};

// The password for login on host from $NETRC, else ~/.netrc of the user the
// runner runs as: the first "machine HOST" entry with that login (or none),
// else the "default" entry. A missing file is no error; a file that group or
// others can read or write is refused, as are files that cannot be read.
NetrcLookup netrcPassword(const std::string& host, const std::string& login);

// The same over a file's text, for tests and the lookup above.
std::optional<std::string> netrcFind(std::string_view text, const std::string& host, const std::string& login);

// The netrc file's path: $NETRC when set, else the home folder's .netrc.
std::string netrcPath();

} // namespace zul::runner
