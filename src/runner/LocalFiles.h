#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zul::runner {

// Local paths may be written with backslashes, as the plug-in writes its own paths.
std::string toLocalPath(std::string_view path);
std::string baseName(std::string_view path);
std::string folderPart(std::string_view path); // "." when there is none

// The hidden name a part file for finalName starts with: ".zulpart-", 16 hex
// digits of a hash of the name and "-"; mkstemp adds 6 characters. Whatever the
// final name's length, the part file's fits the file system.
std::string partFilePrefix(std::string_view finalName);
// A part file's name, this one or the older ".NAME.part-XXXXXX".
bool isPartFileName(std::string_view name);

// A file being received: written under a temporary name in the target's folder
// and renamed into place only when it is complete, so the target is either the
// earlier file or the whole new one. Dropped without commit, it leaves nothing.
class PartFile {
public:
    PartFile() = default;
    ~PartFile() { discard(); }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Empty on success, else why the file cannot be created.
    std::string create(const std::string& target, bool startWriteback = true);
    bool write(const char* data, std::size_t n);
    std::int64_t size() const { return m_size; }
    int error() const { return m_errno; }

    // Flushes to disk (unless told not to), optionally stamps the modification time, renames.
    std::string commit(std::optional<std::int64_t> mtime = std::nullopt, bool sync = true);
    void discard();

private:
    int m_fd = -1;
    std::string m_temp;
    std::string m_target;
    std::int64_t m_size = 0;
    std::int64_t m_flushedUpTo = 0;
    bool m_startWriteback = true;
    int m_errno = 0;
};

// A local file opened for sending.
class SourceFile {
public:
    ~SourceFile();
    std::string open(const std::string& path); // empty on success
    int fd() const { return m_fd; }
    std::int64_t size() const { return m_size; }
    std::int64_t mtime() const { return m_mtime; } // seconds since the epoch, when opened
    // The file has the size and time it had when it was opened.
    bool unchanged() const;

private:
    int m_fd = -1;
    std::int64_t m_size = 0;
    std::int64_t m_mtime = 0;
    std::int64_t m_mtimeNs = 0;
};

std::string errnoText(int err);

} // namespace zul::runner
