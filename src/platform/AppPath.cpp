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
std::string followLinks(std::string path)
{
    for (int hops = 0; hops < 8; ++hops) {
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0)
            break;
        std::string next(target, static_cast<std::size_t>(n));
        if (next.front() != '/') {
            const auto slash = path.find_last_of('/');
            next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
        }
        path = std::move(next);
    }
    return path;
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
    return followLinks(std::move(out));
}

} // namespace zul::platform
