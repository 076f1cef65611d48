#include "exec/Handover.h"

#include "com/Diagnostics.h"
#include "com/HostComponents.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ModExecut {

namespace {

// A run re-entered through a yield on the thread that holds the lock cannot
// wait for it: the holder lies below it on the stack.
thread_local int t_depth = 0;

constexpr long DefaultWaitSeconds = 600;

} // namespace

std::string HandoverLockPath()
{
    return zul::platform::appPath("\\Lock\\handover.lock");
}

std::chrono::milliseconds HandoverWait()
{
    long seconds = DefaultWaitSeconds;
    if (const char* value = std::getenv(WaitVariable); value && *value) {
        char* end = nullptr;
        const double given = std::strtod(value, &end);
        if (*end == '\0' && given >= 0 && given <= 86400)
            return std::chrono::milliseconds(static_cast<long long>(given * 1000));
        HandoverNote(std::string(WaitVariable) + "='" + value + "' is not a number of seconds from 0 to 86400; waiting " +
                     std::to_string(seconds) + " s");
    }
    return std::chrono::seconds(seconds);
}

HandoverLock::HandoverLock()
{
    if (t_depth > 0) {
        ++t_depth;
        m_held = m_nested = true;
        HandoverNote("a run started while another run of this thread was handing over its script; it goes on "
                     "under that run's lock");
        return;
    }
    const std::string path = HandoverLockPath();
    zul::platform::makeSharedFolder(zul::platform::folderOf(path));
    const auto wait = HandoverWait();
    if (auto taken = m_lock.acquire(path, wait); !taken) {
        // The caller says what it gave up because of this.
        m_failure = "no turn to hand over the script within " + std::to_string(wait.count() / 1000) +
                    " s (another run holds " + path + "): " + taken.error().description;
        return;
    }
    m_held = true;
    ++t_depth;
}

HandoverLock::~HandoverLock()
{
    release();
}

void HandoverLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    --t_depth;
    if (!m_nested)
        m_lock.release();
}

void HandoverLock::require() const
{
    if (!m_held)
        throw zul::com::ComError(70, "Permission denied: " + m_failure);
}

PinnedScript::~PinnedScript()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

zul::platform::Status PinnedScript::pin(const std::string& path, const std::string* expected)
{
    // Only a plain file, never through a link.
    auto opened = zul::platform::openNoFollow(path, O_RDONLY | O_NOCTTY);
    if (!opened)
        return opened.error();
    if (expected) {
        // Written by this run a moment ago: the same bytes or someone else's
        // file. Read without moving the offset the runner starts from.
        const auto replaced = [&] {
            struct stat st {};
            if (::fstat(opened->get(), &st) != 0 || static_cast<std::size_t>(st.st_size) != expected->size())
                return true;
            const auto got = zul::platform::readFrom(opened->get(), path);
            return !got || *got != *expected;
        };
        if (replaced())
            return zul::platform::Error{zul::platform::ErrorCode::Other,
                                        "the runner copy was replaced before it was read"};
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = opened->release();
    return zul::platform::success();
}

void PinnedScript::releaseNameInStickyFolder(const std::string& path) const
{
    const auto slash = path.find_last_of('/');
    if (m_fd < 0 || slash == std::string::npos)
        return;
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    auto opened = zul::platform::openFolder(folder);
    if (!opened)
        return;
    const int dir = opened->get();
    struct stat folderStat {}, named {}, pinned {};
    const std::string name = path.substr(slash + 1);
    if (::fstat(dir, &folderStat) == 0 && (folderStat.st_mode & S_ISVTX) != 0 && ::fstat(m_fd, &pinned) == 0 &&
        ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == pinned.st_dev &&
        named.st_ino == pinned.st_ino)
        ::unlinkat(dir, name.c_str(), 0);
}

void HandoverNote(const std::string& text)
{
    zul::com::diagnostic(text);
}

} // namespace ModExecut
