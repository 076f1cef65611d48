#include "runner/LocalFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zul::runner {

namespace {
// Start write-back while a large file arrives, so the final flush stays short.
constexpr std::int64_t kWritebackChunk = 64 << 20;

// Received files are for the owner and the group, whatever the umask: a
// umask of 000 must not make them writable by everyone.
mode_t fileCreationMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0660 & ~mask;
}
} // namespace

std::string errnoText(int err)
{
    return std::strerror(err);
}

std::string toLocalPath(std::string_view path)
{
    std::string out(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

std::string baseName(std::string_view path)
{
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string folderPart(std::string_view path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string partFilePrefix(std::string_view finalName)
{
    // FNV-1a: short, stable, and not a matter of security (mkstemp's letters make the name unique).
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : finalName) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = ".zulpart-";
    for (int shift = 60; shift >= 0; shift -= 4)
        out += kHex[(h >> shift) & 0xf];
    return out + "-";
}

bool isPartFileName(std::string_view name)
{
    if (name.starts_with(".zulpart-"))
        return true;
    // The older ".NAME.part-XXXXXX".
    const auto at = name.rfind(".part-");
    return name.size() > 1 && name[0] == '.' && at != std::string_view::npos && at > 0 && name.size() - at == 12;
}

std::string PartFile::create(const std::string& target, bool startWriteback)
{
    discard();
    m_startWriteback = startWriteback;
    m_target = target;
    m_temp = folderPart(target) + "/" + partFilePrefix(baseName(target)) + "XXXXXX";
    m_fd = ::mkostemp(m_temp.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_errno = errno;
        m_temp.clear();
        return "cannot create a file in " + folderPart(target) + ": " + errnoText(m_errno);
    }
    ::fchmod(m_fd, fileCreationMode());
    m_size = m_flushedUpTo = 0;
    m_errno = 0;
    return {};
}

bool PartFile::write(const char* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(m_fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            m_errno = errno;
            return false;
        }
        data += w;
        n -= std::size_t(w);
        m_size += w;
    }
    if (m_startWriteback && m_size - m_flushedUpTo >= kWritebackChunk) {
        ::sync_file_range(m_fd, m_flushedUpTo, m_size - m_flushedUpTo, SYNC_FILE_RANGE_WRITE);
        m_flushedUpTo = m_size;
    }
    return true;
}

std::string PartFile::commit(std::optional<std::int64_t> mtime, bool sync)
{
    if (m_fd < 0)
        return "nothing to commit";
    std::string err;
    if (sync && ::fdatasync(m_fd) != 0)
        err = "cannot flush " + m_target + ": " + errnoText(errno);
    if (err.empty() && mtime) {
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(*mtime), 0}};
        if (::futimens(m_fd, times) != 0)
            err = "cannot set the time of " + m_target + ": " + errnoText(errno);
    }
    if (::close(m_fd) != 0 && err.empty())
        err = "cannot close " + m_target + ": " + errnoText(errno);
    m_fd = -1;
    if (err.empty() && ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        err = "cannot rename into " + m_target + ": " + errnoText(errno);
    if (!err.empty())
        ::unlink(m_temp.c_str());
    m_temp.clear();
    return err;
}

void PartFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

SourceFile::~SourceFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string SourceFile::open(const std::string& path)
{
    // Not blocking: a fifo under the name would hold the run; it is refused below like any other non-file.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0)
        return "cannot open " + path + ": " + errnoText(errno);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return path + " is not a normal file";
    m_size = st.st_size;
    m_mtime = st.st_mtim.tv_sec;
    m_mtimeNs = st.st_mtim.tv_nsec;
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return {};
}

bool SourceFile::unchanged() const
{
    struct stat st {};
    return ::fstat(m_fd, &st) == 0 && st.st_size == m_size && st.st_mtim.tv_sec == m_mtime &&
           st.st_mtim.tv_nsec == m_mtimeNs;
}

} // namespace zul::runner
