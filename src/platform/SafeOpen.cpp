#include "platform/SafeOpen.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::platform {

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

Result<UniqueFd> openFolder(const std::string& path)
{
    const char* p = path.empty() ? "." : path.c_str();
    UniqueFd dir(::open(p, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A folder one may write in but not list (a drop box) is still a place to open files in.
    if (dir.get() < 0 && errno == EACCES)
        dir.reset(::open(p, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return errorFromErrno(errno, path);
    return dir;
}

namespace {
// What an open file is, in st; an error unless it is a normal file (not a
// fifo, device or folder planted under the name).
Status normalFile(int fd, const std::string& shownPath, struct stat& st)
{
    if (::fstat(fd, &st) != 0)
        return errorFromErrno(errno, shownPath);
    if (!S_ISREG(st.st_mode))
        return Error{ErrorCode::BadFileName, "not a normal file: '" + shownPath + "'"};
    return success();
}
} // namespace

Result<UniqueFd> openInFolder(int folderFd, const std::string& name, int flags, mode_t mode,
                              const std::string& shownPath)
{
    // O_NONBLOCK: a fifo planted under the name must not hang the open.
    // O_TRUNC waits until the file is known to be what it should be.
    const int base = (flags & ~(O_CREAT | O_EXCL | O_TRUNC)) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    const bool create = (flags & O_CREAT) != 0;
    const bool mustBeNew = create && (flags & O_EXCL) != 0;
    UniqueFd fd;
    bool created = false;
    for (int attempt = 0; attempt < 3 && fd.get() < 0; ++attempt) {
        if (create) {
            fd.reset(::openat(folderFd, name.c_str(), base | O_CREAT | O_EXCL, mode));
            if (fd.get() >= 0) {
                created = true;
                break;
            }
            if (errno != EEXIST || mustBeNew)
                return errorFromErrno(errno, shownPath);
            // EEXIST for a link too: the open below refuses it.
        }
        fd.reset(::openat(folderFd, name.c_str(), base));
        if (fd.get() < 0 && errno == ELOOP)
            return Error{ErrorCode::PermissionDenied, "a symbolic link, not followed: '" + shownPath + "'"};
        if (fd.get() < 0 && !(create && errno == ENOENT)) // removed in between: create it again
            return errorFromErrno(errno, shownPath);
    }
    if (fd.get() < 0)
        return errorFromErrno(errno, shownPath);
    struct stat st {};
    if (auto normal = normalFile(fd.get(), shownPath, st); !normal)
        return normal.error();
    if ((flags & O_ACCMODE) != O_RDONLY && st.st_nlink > 1)
        return Error{ErrorCode::PermissionDenied, "the file has other hard links: '" + shownPath + "'"};
    if (created && ::fchmod(fd.get(), mode) != 0)
        return errorFromErrno(errno, shownPath);
    if ((flags & O_TRUNC) != 0 && ::ftruncate(fd.get(), 0) != 0)
        return errorFromErrno(errno, shownPath);
    const int fl = ::fcntl(fd.get(), F_GETFL);
    if (fl >= 0)
        ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

Result<UniqueFd> openNoFollow(const std::string& path, int flags, mode_t mode)
{
    auto dir = openFolder(folderOf(path));
    if (!dir)
        return dir.error();
    const auto slash = path.find_last_of('/');
    return openInFolder(dir->get(), slash == std::string::npos ? path : path.substr(slash + 1), flags, mode, path);
}

Status checkTrusted(int fd, const std::string& path)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return errorFromErrno(errno, path);
    const uid_t me = ::geteuid();
    if (st.st_uid != me && st.st_uid != 0)
        return Error{ErrorCode::PermissionDenied,
                     "refused '" + path + "': it belongs to another user (uid " + std::to_string(st.st_uid) +
                         "), who could have written anything in it; check it, then as root: chown " +
                         std::to_string(me) + " '" + path + "'"};
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Error{ErrorCode::PermissionDenied, "refused '" + path +
                                                      "': others than its owner may write it; check it, then: "
                                                      "chmod go-w '" +
                                                      path + "'"};
    return success();
}

Result<std::string> readFrom(int fd, const std::string& path)
{
    // Straight into the string while the size holds (one read for a normal
    // file, one more to see its end); a pipe or a file that grows reads on.
    std::string out;
    struct stat st {};
    std::size_t chunk = 65536;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        chunk = static_cast<std::size_t>(st.st_size) + 1;
    std::size_t have = 0;
    off_t at = 0;
    bool seekable = true;
    for (;;) {
        if (have == out.size())
            out.resize(have + chunk);
        const std::size_t room = out.size() - have;
        const ssize_t n = seekable ? ::pread(fd, out.data() + have, room, at) : ::read(fd, out.data() + have, room);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ESPIPE && seekable) { // a pipe: read on from where it is
                seekable = false;
                continue;
            }
            return errorFromErrno(errno, path);
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
        at += n;
        chunk = std::max<std::size_t>(chunk, 65536);
    }
    out.resize(have);
    return out;
}

Result<std::string> readTrusted(const std::string& path)
{
    auto fd = openNoFollow(path, O_RDONLY);
    if (!fd)
        return fd.error();
    if (auto trusted = checkTrusted(fd->get(), path); !trusted)
        return trusted.error();
    return readFrom(fd->get(), path);
}

Result<UniqueFd> openNormalThroughLink(const std::string& path, struct stat* st)
{
    // Not blocking: a fifo under the name would otherwise hold the caller.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        return errorFromErrno(errno, path);
    struct stat own {};
    if (auto normal = normalFile(fd.get(), path, st ? *st : own); !normal)
        return normal.error();
    return fd;
}

Result<std::string> readTrustedThroughLink(const std::string& path)
{
    auto fd = openNormalThroughLink(path);
    if (!fd)
        return fd.error();
    if (auto trusted = checkTrusted(fd->get(), path); !trusted)
        return trusted.error();
    return readFrom(fd->get(), path);
}

Result<std::vector<std::string>> readTrustedLines(const std::string& path)
{
    auto text = readTrusted(path);
    if (!text)
        return text.error();
    const auto views = splitLines(*text);
    return std::vector<std::string>(views.begin(), views.end());
}

std::string randomHex(std::size_t n)
{
    std::string bytes((n + 1) / 2, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t r = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (r > 0)
            got += std::size_t(r);
        else if (errno != EINTR)
            break;
    }
    static const char* const digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    out.resize(n);
    return out;
}

Result<std::vector<std::string>> namesIn(int folderFd, const std::string& shownPath)
{
    // Opened again, not copied: a copy would share the folder's position, and
    // this open asks for the right to list, which a place-only descriptor lacks.
    UniqueFd fd(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0)
        return errorFromErrno(errno, shownPath);
    DIR* d = ::fdopendir(fd.get());
    if (!d)
        return errorFromErrno(errno, shownPath);
    fd.release();
    std::vector<std::string> names;
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (!e) {
            err = errno; // 0 at the end, else a listing cut short
            break;
        }
        const std::string_view name = e->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(d);
    if (err != 0)
        return errorFromErrno(err, shownPath);
    return names;
}

} // namespace zul::platform
