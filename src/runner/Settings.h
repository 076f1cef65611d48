#pragma once

#include <chrono>

namespace zul::runner {

// Limits that keep every run finite. The environment may shorten them
// (ZUL_RUNNER_CONNECT_TIMEOUT etc., in seconds; the back-off in milliseconds;
// ZUL_RUNNER_SYNC=0 trades the flush of received files for speed).
struct Settings {
    std::chrono::seconds connectTimeout{30};
    std::chrono::seconds replyTimeout{120};
    std::chrono::seconds stallTimeout{120};  // no byte moved for this long ends a transfer
    std::chrono::seconds deadline{6 * 3600}; // the whole run, lock wait included
    int retries = 3;
    std::chrono::milliseconds backoff{2000}; // doubled after each retry
    bool syncReceived = true;                // received files reach the disk before they are renamed into place

    static Settings fromEnvironment();
};

} // namespace zul::runner
