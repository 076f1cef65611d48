#include "platform/DropLines.h"

#include "platform/FileSystem.h"

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
    for (std::size_t from = 0; from < all.size();) {
        const std::size_t lf = all.find('\n', from);
        const std::size_t next = lf == std::string_view::npos ? all.size() : lf + 1;
        std::string_view line = all.substr(from, (lf == std::string_view::npos ? all.size() : lf) - from);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (drop(line))
            ++dropped;
        else
            kept.append(all.substr(from, next - from));
        from = next;
    }
    if (dropped == 0)
        return dropped;
    if (auto written = replaceAtomically(path, kept); !written)
        return written.error();
    return dropped;
}

} // namespace zul::platform
