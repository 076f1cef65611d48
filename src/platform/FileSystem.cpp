#include "platform/FileSystem.h"

#include "platform/SafeOpen.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::platform {

Error errorFromErrno(int err, const std::string& path)
{
    ErrorCode code = ErrorCode::IoError;
    switch (err) {
    case ENOENT:
        code = ErrorCode::FileNotFound;
        break;
    case ENOTDIR:
        code = ErrorCode::PathNotFound;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        code = ErrorCode::PermissionDenied;
        break;
    case EISDIR:
    case ENAMETOOLONG:
    case EINVAL:
        code = ErrorCode::BadFileName;
        break;
    default:
        break;
    }
    return Error{code, std::string(std::strerror(err)) + ": '" + path + "'"};
}

namespace {

Status openAndWrite(const std::string& path, std::string_view content, int flags, FileAccess access)
{
    const bool ownerOnly = access == FileAccess::OwnerOnly;
    auto opened = openNoFollow(path, flags | O_WRONLY | O_CREAT, ownerOnly ? 0600 : 0644);
    if (!opened)
        return opened.error();
    const int fd = opened->get();
    // A file that can hold a password is never written into another user's file.
    struct stat info{};
    if (ownerOnly && (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid()))
        return Error{ErrorCode::PermissionDenied, "belongs to another user: '" + path + "'"};
    // The file may have been there with a wider mode.
    if (ownerOnly && ::fchmod(fd, 0600) != 0)
        return errorFromErrno(errno, path);
    auto st = writeAllTo(fd, content, path);
    if (!st)
        return st;
    if (::close(opened->release()) != 0)
        return errorFromErrno(errno, path);
    return success();
}

} // namespace

Status writeAllTo(int fd, std::string_view content, const std::string& path)
{
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO; // errno tells callers what failed
        if (n <= 0)
            return errorFromErrno(errno, path);
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return success();
}

Result<std::string> readAll(const std::string& path, Links links)
{
    if (links == Links::NoFollow) {
        auto fd = openNoFollow(path, O_RDONLY);
        if (!fd)
            return fd.error();
        return readFrom(fd->get(), path);
    }
    const UniqueFd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (f.get() < 0)
        return errorFromErrno(errno, path);
    struct stat st{};
    if (::fstat(f.get(), &st) == 0 && S_ISDIR(st.st_mode))
        return errorFromErrno(EISDIR, path);
    return readFrom(f.get(), path);
}

std::vector<std::string_view> splitLines(std::string_view s)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < s.size()) {
        const std::size_t lf = s.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.push_back(s.substr(start));
            break;
        }
        std::size_t end = lf;
        if (end > start && s[end - 1] == '\r')
            --end;
        lines.push_back(s.substr(start, end - start));
        start = lf + 1;
    }
    return lines;
}

Result<std::vector<std::string>> readLines(const std::string& path, Links links)
{
    auto all = readAll(path, links);
    if (!all)
        return all.error();
    const auto views = splitLines(*all);
    return std::vector<std::string>(views.begin(), views.end());
}

Status writeFile(const std::string& path, std::string_view content, FileAccess access)
{
    return openAndWrite(path, content, O_TRUNC, access);
}

Status appendFile(const std::string& path, std::string_view content, FileAccess access)
{
    return openAndWrite(path, content, O_APPEND, access);
}

Result<StagedReplacement> StagedReplacement::write(const std::string& path, std::string_view content,
                                                   FileAccess access, Durability durability)
{
    // Everything relative to the one opened folder: the temporary file is
    // created exclusively under a name no one can guess, and the rename
    // replaces whatever the name is (a planted link included) without following it.
    auto dir = openFolder(folderOf(path));
    if (!dir)
        return dir.error();
    StagedReplacement staged;
    staged.m_path = path;
    staged.m_flushed = durability == Durability::Flushed;
    const auto slash = path.find_last_of('/');
    staged.m_name = slash == std::string::npos ? path : path.substr(slash + 1);
    staged.m_dir = std::move(*dir);
    const int folder = staged.m_dir.get();
    for (int attempt = 0; attempt < 16 && staged.m_fd.get() < 0; ++attempt) {
        // Named ours only once created: a name that was taken is someone else's to remove.
        const std::string name = ".zul-tmp-" + randomHex(6); // the length mkstemp gave
        staged.m_fd.reset(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (staged.m_fd.get() >= 0)
            staged.m_temporary = name;
        else if (errno != EEXIST)
            return errorFromErrno(errno, path);
    }
    const int fd = staged.m_fd.get();
    if (fd < 0)
        return errorFromErrno(EEXIST, path);
    // Keep the mode of the normal file being replaced; new files get the usual
    // 0644. Owner-only files are 0600 whatever was there.
    struct stat old{};
    if (access == FileAccess::OwnerOnly)
        ::fchmod(fd, 0600);
    else
        ::fchmod(fd, ::fstatat(folder, staged.m_name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)
                         ? (old.st_mode & 07777)
                         : 0644);
    if (auto st = writeAllTo(fd, content, path); !st)
        return st.error();
    // Only a start: commit's fsync waits for whatever is still under way.
    if (staged.m_flushed)
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return staged;
}

Status StagedReplacement::commit()
{
    if (m_fd.get() < 0)
        return errorFromErrno(EBADF, m_path);
    Status st = success();
    if (m_flushed && ::fsync(m_fd.get()) != 0)
        st = errorFromErrno(errno, m_path);
    if (::close(m_fd.release()) != 0 && st)
        st = errorFromErrno(errno, m_path);
    if (st && ::renameat(m_dir.get(), m_temporary.c_str(), m_dir.get(), m_name.c_str()) != 0)
        st = errorFromErrno(errno, m_path);
    if (st)
        m_temporary.clear();
    drop();
    return st;
}

StagedReplacement::~StagedReplacement()
{
    drop();
}

void StagedReplacement::drop()
{
    m_fd.reset();
    // A moved-from replacement has no folder left, and so nothing to remove.
    if (m_dir.get() >= 0 && !m_temporary.empty())
        ::unlinkat(m_dir.get(), m_temporary.c_str(), 0);
    m_temporary.clear();
    m_dir.reset();
}

Status replaceAtomically(const std::string& path, std::string_view content, FileAccess access,
                         Durability durability)
{
    auto staged = StagedReplacement::write(path, content, access, durability);
    if (!staged)
        return staged.error();
    return staged->commit();
}

namespace {
constexpr std::string_view ReplacePrefix = ".zul-tmp-";
}

int removeReplaceLeftovers(const std::string& folder, std::int64_t minAgeSeconds)
{
    // Opened as replaceAtomically opens it, so a folder the package links
    // elsewhere is cleaned as well as written.
    auto opened = openFolder(folder);
    if (!opened)
        return 0;
    const int dir = opened->get();
    // Unlisted, nothing is removed: the leftovers wait for the next time.
    const auto names = namesIn(dir, folder);
    if (!names)
        return 0;
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    for (const std::string& name : *names) {
        if (!name.starts_with(ReplacePrefix))
            continue;
        struct stat st{};
        if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || now - st.st_mtime < minAgeSeconds)
            continue;
        if (::unlinkat(dir, name.c_str(), 0) == 0)
            ++removed;
    }
    return removed;
}

std::string joinCrLf(const std::vector<std::string>& lines)
{
    std::size_t n = 0;
    for (const auto& l : lines)
        n += l.size() + 2;
    std::string out;
    out.reserve(n);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

bool findNormalFile(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const auto slash = path.find_last_of('/');
    const std::string_view name = slash == std::string::npos ? std::string_view(path)
                                                              : std::string_view(path).substr(slash + 1);
    return !name.empty() && name.front() != '.';
}

bool fileExists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool isDirectory(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> existingFileLength(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

Status forceDelete(const std::string& path)
{
    // Read-only files go too: on POSIX the folder's write bit decides.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return errorFromErrno(errno, path);
    return success();
}

Status makeDirectories(const std::string& path)
{
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec)
        return Error{ErrorCode::PathNotFound, ec.message() + ": '" + path + "'"};
    return success();
}

Status makeSharedFolder(const std::string& path)
{
    if (auto parent = makeDirectories(folderOf(path)); !parent)
        return parent;
    if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno == EEXIST && isDirectory(path))
            return success();
        return errorFromErrno(errno, path);
    }
    if (::chmod(path.c_str(), 03770) != 0)
        return errorFromErrno(errno, path);
    return success();
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace zul::platform
