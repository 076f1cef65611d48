#pragma once

#include <string_view>

namespace zul::records {

// The small files in Lock/ hold one "KEY VALUE" a line; f(key, value) is
// called for each line, in order. A line without a blank is no pair.
template <class F>
void forEachKeyValue(std::string_view text, F&& f)
{
    while (!text.empty()) {
        const auto nl = text.find('\n');
        const std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (const auto blank = line.find(' '); blank != std::string_view::npos)
            f(line.substr(0, blank), line.substr(blank + 1));
    }
}

} // namespace zul::records
