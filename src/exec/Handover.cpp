#include "exec/Handover.h"

#include "com/Diagnostics.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"

namespace ModExecut {

namespace {

// A run re-entered through a yield on the thread that holds the lock cannot
// wait for it: the holder lies below it on the stack.
thread_local int t_depth = 0;

} // namespace

std::string HandoverLockPath()
{
    return zul::platform::appPath("\\Lock\\handover.lock");
}

HandoverLock::HandoverLock()
{
    if (t_depth > 0) {
        ++t_depth;
        HandoverNote("a run started while another run of this thread was handing over its script; it goes on "
                     "under that run's lock");
        return;
    }
    const std::string path = HandoverLockPath();
    zul::platform::makeSharedFolder(zul::platform::folderOf(path));
    if (auto taken = m_lock.acquire(path, HandoverLockWait); !taken)
        HandoverNote("going on without the hand-over lock: " + taken.error().description);
    ++t_depth;
}

HandoverLock::~HandoverLock()
{
    --t_depth;
}

void HandoverNote(const std::string& text)
{
    zul::com::diagnostic(text);
}

} // namespace ModExecut
