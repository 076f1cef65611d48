#include "runner/Delivery.h"

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "records/ReceiptLayout.h"
#include "runner/LocalFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zul::runner {

namespace {
namespace receipt = records::receipt;
constexpr std::size_t kKeyWidth = receipt::kKeyWidth;

bool holds(const std::string& line, std::size_t at, std::string_view text)
{
    return line.size() >= at + text.size() && line.compare(at, text.size(), text) == 0;
}

std::string copyAcross(const std::string& from, const std::string& to, std::optional<std::int64_t> mtime)
{
    SourceFile src;
    if (auto e = src.open(from); !e.empty())
        return e;
    PartFile part;
    if (auto e = part.create(to); !e.empty())
        return e;
    std::vector<char> buf(1 << 20);
    for (;;) {
        const ssize_t n = ::read(src.fd(), buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return "cannot read " + from + ": " + errnoText(errno);
        if (n == 0)
            break;
        if (!part.write(buf.data(), std::size_t(n)))
            return "cannot write " + to + ": " + errnoText(part.error());
    }
    if (auto e = part.commit(mtime); !e.empty())
        return e;
    ::unlink(from.c_str());
    return {};
}
} // namespace

ReceiptOptions findReceipt(const std::string& registerPath, const std::string& key)
{
    ReceiptOptions o;
    if (key.size() != kKeyWidth)
        return o;
    auto lines = platform::readLines(registerPath);
    if (!lines) {
        if (lines.error().code != platform::ErrorCode::FileNotFound)
            o.error = lines.error().description;
        return o;
    }
    for (const auto& l : *lines) {
        if (l.compare(0, kKeyWidth, key) != 0 || (l.size() > kKeyWidth && l[kKeyWidth] != ' '))
            continue;
        o.found = true;
        o.refuseEmpty = holds(l, receipt::kRefuseEmptyAt, receipt::kRefuseEmpty);
        o.keepTime = holds(l, receipt::kKeepTimeAt, receipt::kKeepTime);
        o.checkSize = holds(l, receipt::kCheckSizeAt, receipt::kCheckSize);
        o.line = l;
        break;
    }
    return o;
}

std::string deliver(const std::string& junctionFile, const std::string& target, const ReceiptOptions& options,
                    const ServerFacts& facts)
{
    // Junction/ is shared by the group: only a normal file of this user is
    // delivered, never a link or a file someone else put there.
    struct stat st {};
    if (::lstat(junctionFile.c_str(), &st) != 0)
        return "the received file " + junctionFile + " is missing";
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return "the received file " + junctionFile + " is not a normal file of this user; not delivered";
    if (options.refuseEmpty && st.st_size == 0)
        return "the received file is empty and the receipt refuses empty files (RZ)";
    if (options.checkSize) {
        if (!facts.size)
            return "the server reported no size to check against (RC)";
        if (*facts.size != st.st_size)
            return "received " + platform::counted(st.st_size, "byte", "bytes") + " but the server reported " +
                   std::to_string(*facts.size) + " (RC)";
    }
    std::optional<std::int64_t> mtime;
    if (options.keepTime) {
        if (!facts.mtime)
            return "the server reported no modification time to keep (RT)";
        mtime = facts.mtime;
    }
    struct stat folder {};
    if (::stat(folderPart(target).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return "the target folder " + folderPart(target) + " does not exist";
    if (mtime) {
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(*mtime), 0}};
        if (::utimensat(AT_FDCWD, junctionFile.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return "cannot set the time of " + junctionFile + ": " + errnoText(errno);
    }
    if (::rename(junctionFile.c_str(), target.c_str()) == 0)
        return {};
    if (errno != EXDEV)
        return "cannot move " + junctionFile + " to " + target + ": " + errnoText(errno);
    return copyAcross(junctionFile, target, mtime);
}

} // namespace zul::runner
