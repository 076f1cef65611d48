#pragma once

#include <string>
#include <string_view>

namespace zul::runner {

// The hash of a local file from its start, in lower-case hex: "SHA-256", "SHA-1",
// "MD5" or "CRC32". Empty when the algorithm is unknown or the file cannot be read.
std::string fileHash(int fd, std::string_view algorithm);

// Two hashes in hex are the same whatever the letter case, and with the leading
// zeros some servers leave out of a CRC.
bool sameHash(std::string_view a, std::string_view b);

} // namespace zul::runner
