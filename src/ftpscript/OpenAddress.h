#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zul::ftpscript {

enum class Scheme { Ftp, Ftpes, Ftps, Sftp };

// ftp and ftpes (TLS asked for after connecting) 21, ftps (TLS from the start) 990, sftp 22.
int defaultPort(Scheme scheme);
std::string_view schemeName(Scheme scheme);

// The partner of an "open" line: open [SCHEME://]HOST [PORT].
struct OpenAddress {
    Scheme scheme = Scheme::Ftp;
    std::string host;
    int port = 21;
};

struct AddressError {
    std::string code; // "unknown-scheme", "bad-port", "no-host"
    std::string message;
};

std::variant<OpenAddress, AddressError> parseOpenAddress(std::string_view address,
                                                         std::optional<std::string_view> port = std::nullopt);

// The partner as the reachability check reads it from the text after "open":
// a host word and an optional port word, blanks and line ends around them, no quotes.
std::variant<OpenAddress, AddressError> parsePartnerText(std::string_view text);

} // namespace zul::ftpscript
