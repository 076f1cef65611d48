#pragma once

#include "host/history/RunLog.h"

#include <string>
#include <vector>

namespace zul::history {

// The history as Prometheus text (node_exporter's textfile collector): per
// event the last run's end, exit status and success, the last success, and
// the runs, failures and bytes that the kept history holds.
std::string metricsText(const std::vector<Run>& runs);

// Writes text to dir/zul.prom whole or not at all: a temporary file in dir,
// renamed into place. Empty on success, else why not.
std::string writeTextfile(const std::string& dir, const std::string& text);

} // namespace zul::history
