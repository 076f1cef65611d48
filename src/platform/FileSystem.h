#pragma once

#include "platform/Result.h"
#include "platform/SafeOpen.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zul::platform {

// Who may read a file that is written. OwnerOnly (0600 whatever the umask,
// also for a file that was there before) is for files that can hold a password.
enum class FileAccess { Shared, OwnerOnly };

// Whether the last part of a path may be a symbolic link. The application's
// folders are shared by a group, so by default it may not: the file is opened
// relative to its folder and must be a normal file (see SafeOpen.h). Follow is
// for files a person names (a script to check, a sample shown through a link).
enum class Links { NoFollow, Follow };

// Lines of a text file. CR LF ends a line; a lone LF is accepted too. A last
// line without an end is still a line; the bytes are kept as they are.
Result<std::vector<std::string>> readLines(const std::string& path, Links links = Links::NoFollow);

// The lines of text, split as readLines splits a file; views into text.
std::vector<std::string_view> splitLines(std::string_view text);

// The whole file, bytes as they are.
Result<std::string> readAll(const std::string& path, Links links = Links::NoFollow);

// All of content to an open descriptor, through short writes and signals;
// path names it in the error.
Status writeAllTo(int fd, std::string_view content, const std::string& path);

// Writing never follows a link in the last part. A new file gets 0644, or
// 0600 for OwnerOnly, whatever the umask.

// Creates or empties the file and writes content. Not atomic: a failure can
// leave the bytes written so far, which some callers want.
Status writeFile(const std::string& path, std::string_view content, FileAccess access = FileAccess::Shared);

// Appends content, creating the file when it is missing.
Status appendFile(const std::string& path, std::string_view content, FileAccess access = FileAccess::Shared);

// Writes content to a temporary file in the same folder and renames it over
// path, so readers see either the old or the new file, never a partial one.
// Shared keeps the replaced file's mode (0644 for a new one). Flushed to disk
// before the rename unless the file is a scratch copy that nothing needs after
// a power loss.
enum class Durability { Flushed, Scratch };
Status replaceAtomically(const std::string& path, std::string_view content,
                         FileAccess access = FileAccess::Shared, Durability durability = Durability::Flushed);

// The same in two steps: the new content is written beside the file (a
// flushed one starts its way to the disk at once, so that the caller's other
// work runs while the disk writes), and commit renames it over the file. A
// replacement dropped without a commit leaves the file as it was.
class StagedReplacement {
public:
    static Result<StagedReplacement> write(const std::string& path, std::string_view content,
                                           FileAccess access = FileAccess::Shared,
                                           Durability durability = Durability::Flushed);
    Status commit();

    StagedReplacement(StagedReplacement&&) noexcept = default;
    StagedReplacement& operator=(StagedReplacement&&) = delete;
    ~StagedReplacement();

private:
    StagedReplacement() = default;
    void drop();

    std::string m_path; // for messages
    std::string m_name; // in m_dir
    std::string m_temporary; // ours to remove while m_dir is open
    UniqueFd m_dir;
    UniqueFd m_fd;
    bool m_flushed = true;
};

// Removes the temporary files that replaceAtomically leaves behind when its
// process is killed: those in folder owned by this user and last written at
// least minAge ago. Only safe where no replacement of ours can be under way
// that is younger than minAge. Returns how many went.
int removeReplaceLeftovers(const std::string& folder, std::int64_t minAgeSeconds);

// Joins lines, each followed by CR LF.
std::string joinCrLf(const std::vector<std::string>& lines);

// True when path names a normal file: not a folder, not hidden (a name that
// begins with a dot), so that hidden files are not found by a search.
bool findNormalFile(const std::string& path);

bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);

// The length in bytes of an existing file; nothing where fileExists is false.
std::optional<std::int64_t> existingFileLength(const std::string& path);

// Deletes a file even when it is read-only. A missing file is not an error.
Status forceDelete(const std::string& path);

Status makeDirectories(const std::string& path);

// A folder of the application folder that the group's users share (ZUL/,
// Junction/, Log/, Lock/), made when it is missing as the package makes it:
// sticky, so that no user can rename or remove another's files, and setgid,
// so that files stay in the group (3770, whatever the umask).
Status makeSharedFolder(const std::string& path);

// The folder part of a path, without a trailing separator.
std::string folderOf(const std::string& path);

} // namespace zul::platform
