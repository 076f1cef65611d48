#include "com/Diagnostics.h"

#include <cstdio>
#include <mutex>

namespace zul::com {

namespace {
// Runners end on watcher threads, and their follow-ups may have something to say.
std::mutex g_mutex;
std::function<void(const std::string&)> g_sink;
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

} // namespace zul::com
