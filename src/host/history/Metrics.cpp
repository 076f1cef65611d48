#include "host/history/Metrics.h"

#include "platform/FileSystem.h"

#include <cstdio>
#include <map>
#include <sys/stat.h>

namespace zul::history {

namespace {

struct EventTotals {
    const Run* last = nullptr; // newest by start
    std::int64_t lastSuccessMs = -1;
    std::int64_t runs = 0;
    std::int64_t failures = 0;
    std::int64_t bytesSent = 0;
    std::int64_t bytesReceived = 0;
};

std::string label(const std::string& event)
{
    std::string out = "{event=\"";
    for (const char c : event.empty() ? std::string("(Fast Path)") : event) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out + "\"}";
}

std::string seconds(std::int64_t ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
    return buf;
}

std::int64_t endOf(const Run& r)
{
    return r.endMs >= 0 ? r.endMs : r.startMs; // a run the host logged has one moment
}

} // namespace

std::string metricsText(const std::vector<Run>& runs)
{
    std::map<std::string, EventTotals> events;
    for (const Run& r : runs) {
        EventTotals& t = events[r.event];
        if (!t.last || r.startMs > t.last->startMs)
            t.last = &r;
        ++t.runs;
        if (r.result == Run::Result::Success)
            t.lastSuccessMs = std::max(t.lastSuccessMs, endOf(r));
        else
            ++t.failures;
        t.bytesSent += r.bytesUp;
        t.bytesReceived += r.bytesDown;
    }
    std::string out;
    auto family = [&](const char* name, const char* type, const char* help, auto value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        for (const auto& [event, t] : events)
            if (const std::string v = value(t); !v.empty())
                out += name + label(event) + " " + v + "\n";
    };
    family("zul_last_run_end_timestamp_seconds", "gauge", "When the event's last run ended.",
           [](const EventTotals& t) { return seconds(endOf(*t.last)); });
    family("zul_last_run_success", "gauge", "1 when the event's last run succeeded, else 0.",
           [](const EventTotals& t) { return std::string(t.last->result == Run::Result::Success ? "1" : "0"); });
    family(
        "zul_last_run_exit_status", "gauge",
        "The runner's exit status of the event's last run (absent when it never reached the runner).",
        [](const EventTotals& t) { return t.last->exitStatus ? std::to_string(*t.last->exitStatus) : std::string(); });
    family("zul_last_success_timestamp_seconds", "gauge", "When the event's last successful run ended.",
           [](const EventTotals& t) { return t.lastSuccessMs >= 0 ? seconds(t.lastSuccessMs) : std::string(); });
    family("zul_runs_total", "counter", "Runs of the event in the kept history.",
           [](const EventTotals& t) { return std::to_string(t.runs); });
    family("zul_run_failures_total", "counter", "Failed runs of the event in the kept history.",
           [](const EventTotals& t) { return std::to_string(t.failures); });
    family("zul_sent_bytes_total", "counter", "Bytes the event's runs sent.",
           [](const EventTotals& t) { return std::to_string(t.bytesSent); });
    family("zul_received_bytes_total", "counter", "Bytes the event's runs received.",
           [](const EventTotals& t) { return std::to_string(t.bytesReceived); });
    return out;
}

std::string writeTextfile(const std::string& dir, const std::string& text)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "'" + dir + "' is not a folder";
    // The collector reads only *.prom: the temporary file's name is not one.
    const std::string target = joinPath(dir, "zul.prom");
    if (const auto written = platform::replaceAtomically(target, text); !written)
        return "cannot write the metrics: " + written.error().description;
    return {};
}

} // namespace zul::history
