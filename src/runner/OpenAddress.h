#pragma once

#include "runner/Session.h"

#include <string>
#include <variant>

namespace zul::runner {

// The partner of an open line: "[SCHEME://]HOST [PORT]".
struct OpenAddress {
    Scheme scheme = Scheme::Ftp;
    std::string host;
    int port = 21;
};

// The scheme's port when the line names none: ftp and ftpes 21, ftps 990, sftp 22.
int defaultPort(Scheme scheme);
const char* schemeName(Scheme scheme);

// hostWord as written after open (with or without a scheme), port the word
// after it or empty. An unknown scheme, an empty host or a bad port is an error text.
std::variant<OpenAddress, std::string> parseOpenAddress(const std::string& hostWord, const std::string& port);

} // namespace zul::runner
