#include "com/Diagnostics.h"

#include <cstdio>
#include <mutex>

namespace zul::com {

namespace {
// Runners end on watcher threads, and their follow-ups may have something to say.
std::mutex g_mutex;
std::function<void(const std::string&)> g_sink;
RunsWithoutScript g_withoutScript;
} // namespace

void setDiagnosticSink(std::function<void(const std::string& text)> sink)
{
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
}

void diagnostic(const std::string& text)
{
    std::lock_guard lock(g_mutex);
    if (g_sink)
        g_sink(text);
    else
        std::fprintf(stderr, "zul: %s\n", text.c_str());
}

void runWithoutScript(const std::string& eventId, const std::string& why)
{
    const std::string text =
        "event " + eventId + ": the runner was started without a script and records the run as failed: " + why;
    {
        std::lock_guard lock(g_mutex);
        ++g_withoutScript.count;
        g_withoutScript.last = text;
    }
    diagnostic(text);
}

RunsWithoutScript runsWithoutScript()
{
    std::lock_guard lock(g_mutex);
    return g_withoutScript;
}

} // namespace zul::com
