#include "platform/AppPath.h"

namespace zul::platform {

namespace {
std::string& folder()
{
    static std::string f;
    return f;
}
} // namespace

const std::string& appFolder()
{
    return folder();
}

void setAppFolder(std::string f)
{
    while (f.size() > 1 && f.back() == '/')
        f.pop_back();
    folder() = std::move(f);
}

std::string appPath(std::string_view relative)
{
    std::string out = folder();
    out.reserve(out.size() + relative.size());
    for (char c : relative)
        out += c == '\\' ? '/' : c;
    return out;
}

} // namespace zul::platform
