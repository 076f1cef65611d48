#include "platform/DropLines.h"

#include "platform/FileSystem.h"

#include <vector>

namespace zul::platform {

Result<std::size_t> dropLines(const std::string& path, const std::function<bool(std::string_view line)>& drop)
{
    if (!fileExists(path))
        return std::size_t(0);
    auto text = readAll(path);
    if (!text)
        return text.error();
    const std::string_view all(*text);
    std::string kept;
    kept.reserve(all.size());
    std::size_t dropped = 0;
    const std::vector<std::string_view> lines = splitLines(all);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (drop(lines[k])) {
            ++dropped;
            continue;
        }
        // The line with its own line end: up to where the next one starts.
        const std::size_t from = std::size_t(lines[k].data() - all.data());
        const std::size_t next = k + 1 < lines.size() ? std::size_t(lines[k + 1].data() - all.data()) : all.size();
        kept.append(all.substr(from, next - from));
    }
    if (dropped == 0)
        return dropped;
    if (auto written = replaceAtomically(path, kept); !written)
        return written.error();
    return dropped;
}

} // namespace zul::platform
