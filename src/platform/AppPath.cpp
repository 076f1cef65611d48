#include "platform/AppPath.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::platform {

namespace {
std::string& folder()
{
    static std::string f;
    return f;
}

// An installed application folder is read-only; the files the plug-in writes
// in it directly are links to a writable place. Following such a link here
// makes replacing, deleting and creating the file again act on the target
// instead of on the link. Folders need nothing: the kernel follows them.
// Only that one link, which root made: the place it points to is shared by
// the group, and a link found there is someone's plant.
} // namespace

std::string followAppLink(const std::string& path)
{
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return path;
    std::string next(target, static_cast<std::size_t>(n));
    if (next.front() != '/') {
        const auto slash = path.find_last_of('/');
        next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
    }
    return next;
}

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
    // Files in the shared folders (ZUL\, Junction\, ...) are never reached
    // through a link in their own name.
    if (relative.find('\\', 1) != std::string_view::npos)
        return out;
    return followAppLink(out);
}

} // namespace zul::platform
