#include "ui/fastpath/TempScript.h"

#include "com/HostComponents.h"
#include "exec/Handover.h"
#include "exec/RunnerWatch.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"

#include <QFile>
#include <mutex>

namespace zul::ui {

namespace {

// Runners exit on watcher threads, hence the lock.
std::mutex g_mutex;
unsigned g_generation = 0;
int g_holders = 0;
bool g_runnerDone = false;

void deleteTempScript()
{
    platform::forceDelete(tempScriptPath());
}

void runnerExited(unsigned generation)
{
    // Another process's Run Now may be handing the same file to its runner.
    // The hand-over lock comes first, then the mutex, always in that order.
    ModExecut::HandoverLock handover;
    std::lock_guard lock(g_mutex);
    if (generation != g_generation)
        return;
    g_runnerDone = true;
    // Without the lock the file may be another run's: it stays.
    if (--g_holders == 0 && handover.held())
        deleteTempScript();
}

} // namespace

std::string tempScriptPath()
{
    return platform::appPath("\\tempZUL.zul");
}

void writeTempScript(const std::string& content)
{
    const std::string path = tempScriptPath();
    // A new file each time, so that it is created with the owner's permissions alone.
    if (auto removed = platform::forceDelete(path); !removed)
        throw com::ComError(static_cast<int>(removed.error().code), removed.error().description);
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw com::ComError(75, "Path/File access error: " + file.errorString().toStdString());
    const auto written = file.write(content.data(), static_cast<qint64>(content.size()));
    if (written != static_cast<qint64>(content.size()) || !file.flush())
        throw com::ComError(57, "Device I/O error: " + file.errorString().toStdString());
}

TempScriptUse::TempScriptUse()
{
    std::lock_guard lock(g_mutex);
    m_generation = ++g_generation;
    g_holders = 1;
    g_runnerDone = false;
}

TempScriptUse::~TempScriptUse()
{
    ModExecut::HandoverLock handover;
    std::lock_guard lock(g_mutex);
    if (m_generation != g_generation)
        return;
    if (--g_holders == 0 && g_runnerDone && handover.held())
        deleteTempScript();
}

void TempScriptUse::runnerStarting()
{
    {
        std::lock_guard lock(g_mutex);
        if (m_generation == g_generation)
            ++g_holders;
    }
    const unsigned generation = m_generation;
    ModExecut::AfterNextRunnerExit([generation] { runnerExited(generation); });
}

void TempScriptUse::runnerNotStarted()
{
    ModExecut::TakeAfterExitAction();
    std::lock_guard lock(g_mutex);
    if (m_generation == g_generation)
        --g_holders;
}

} // namespace zul::ui
