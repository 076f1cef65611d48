#pragma once

#include "platform/Result.h"

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace zul::platform {

// A descriptor that closes itself.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& o) noexcept : m_fd(o.release()) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept
    {
        if (this != &o)
            reset(o.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// The shared folders (ZUL/, Junction/, Lock/, Log/) are writable by every
// member of the group, so a name in them may be a link someone planted. Files
// there are opened relative to the opened folder, never through a symbolic
// link, and must be normal files. The folder's own path may pass through links:
// the package links the application folder's folders to /var/lib, and those
// links sit in folders only root can change.
Result<UniqueFd> openFolder(const std::string& path);
// The names in an opened folder but "." and "..", read from its start through
// a descriptor of its own (the folder's stays as it was). A folder that cannot
// be listed is an error, never an empty folder: that includes one openFolder
// could open only as a place to open files in.
Result<std::vector<std::string>> namesIn(int folderFd, const std::string& shownPath);

// flags as for open(2). With O_CREAT the file is created exclusively when it
// is missing and then gets mode exactly, whatever the umask; an existing file
// is opened as it is. A file opened for writing must not have other hard
// links, which could make it another file in disguise.
Result<UniqueFd> openInFolder(int folderFd, const std::string& name, int flags, mode_t mode,
                              const std::string& shownPath);
Result<UniqueFd> openNoFollow(const std::string& path, int flags, mode_t mode = 0);

// Refuses a file that someone other than this process's user or root could
// have written: another owner, or write bits for group or others. The message
// names the file and the command that fixes it.
Status checkTrusted(int fd, const std::string& path);

// The whole content of an open file from its start (of a pipe, what is left).
Result<std::string> readFrom(int fd, const std::string& path);

// A file opened without following a link in its last part and checked as
// above, read whole.
Result<std::string> readTrusted(const std::string& path);
// The same through a link the operator or the package set up: the file it
// reaches is checked, and must be a normal file.
Result<std::string> readTrustedThroughLink(const std::string& path);
// Opens for reading through a link without waiting on a fifo; an error
// (ErrorCode::BadFileName) unless what it reaches is a normal file, whose
// status goes to st when given.
Result<UniqueFd> openNormalThroughLink(const std::string& path, struct stat* st = nullptr);
Result<std::vector<std::string>> readTrustedLines(const std::string& path);

// n lower-case hex digits from the kernel's random source, for names no one
// can guess ahead.
std::string randomHex(std::size_t n);

} // namespace zul::platform
