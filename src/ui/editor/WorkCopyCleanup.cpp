#include "ui/editor/WorkCopyCleanup.h"

#include "platform/AppPath.h"
#include "scripts/FTPCode.h"

#include <mutex>
#include <string>

namespace zul::ui {

namespace {
std::mutex g_mutex;
int g_readers = 0;
bool g_pending = false;
std::string g_path;

void deleteNow(std::string path)
{
    FTPCode::DeleteScriptFile(path);
}
} // namespace

void workCopyRunnerStarted()
{
    std::lock_guard lock(g_mutex);
    ++g_readers;
}

void workCopyRunnerExited()
{
    std::string path;
    {
        std::lock_guard lock(g_mutex);
        if (g_readers > 0)
            --g_readers;
        if (g_readers > 0 || !g_pending)
            return;
        g_pending = false;
        path = g_path;
    }
    deleteNow(path);
}

void deleteWorkCopyWhenFree()
{
    const std::string path = platform::appPath("\\ZUL\\ZULTMP.zul");
    {
        std::lock_guard lock(g_mutex);
        if (g_readers > 0) {
            g_pending = true;
            g_path = path;
            return;
        }
    }
    deleteNow(path);
}

} // namespace zul::ui
