#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zul::runner {

// A name the server gave (a listing entry, say) reduced to a plain file name
// that can be joined to a local folder without leaving it: the part after the
// last '/' or '\', never "." or "..", no control character, not empty, not
// longer than a file name may be. nullopt when nothing safe is left; why then
// says what was wrong, for the transcript.
std::optional<std::string> safeLocalName(std::string_view serverName, std::string* why = nullptr);

} // namespace zul::runner
