#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zul::platform {

// Rewrites a text file without the lines that drop picks (each seen without
// its CR LF or LF). Every other line keeps its bytes, line end included, and
// its place. The new file is written whole and renamed into place, so the
// file is never cut short; nothing is written when no line goes. Returns how
// many lines went. A missing file has none to drop.
Result<std::size_t> dropLines(const std::string& path, const std::function<bool(std::string_view line)>& drop);

} // namespace zul::platform
