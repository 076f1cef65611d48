#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zul::platform {

// The words of an FTP command line: separated by blanks or tabs; double quotes
// group a word that holds blanks and are removed; single quotes (a data set
// name) group too and are kept, as the server expects them.
std::vector<std::string> splitWords(std::string_view line);

} // namespace zul::platform
