#include "runner/SafeName.h"

#include "platform/Text.h"

namespace zul::runner {

namespace {
constexpr std::size_t kNameMax = 255; // NAME_MAX of the usual file systems

bool fail(std::string* why, const char* text)
{
    if (why)
        *why = text;
    return false;
}
} // namespace

std::optional<std::string> safeLocalName(std::string_view serverName, std::string* why)
{
    // Either separator ends a folder: a backslash is one on this side too.
    const auto sep = serverName.find_last_of("/\\");
    const std::string_view base = sep == std::string_view::npos ? serverName : serverName.substr(sep + 1);
    bool ok = true;
    if (base.empty())
        ok = fail(why, "it names a folder, not a file");
    else if (base == "." || base == "..")
        ok = fail(why, "it names a folder above or at the local one");
    else if (base.size() > kNameMax)
        ok = fail(why, "it is longer than a file name may be");
    if (ok && platform::holdsControls(base))
        ok = fail(why, "it holds a control character");
    if (!ok)
        return std::nullopt;
    return std::string(base);
}

} // namespace zul::runner
