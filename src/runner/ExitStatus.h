#pragma once

#include <string_view>

namespace zul::runner {

// The runner's exit statuses; README.md in this folder lists them for operators.
enum class ExitStatus : int {
    Success = 0,
    ScriptError = 1,      // no script, unreadable script, unknown command, bad arguments
    Unreachable = 2,      // partner could not be resolved or connected to
    LoginRefused = 3,     // user or password refused
    RemoteError = 4,      // permanent server refusal: missing remote file, no permission
    LocalFileError = 5,   // local file missing, unreadable or not writable
    TransientFailure = 6, // dropped connections, 4xx replies after every retry
    DeliveryFailure = 7,  // a received file could not be delivered from the Junction folder
    Interrupted = 8,      // stopped by a signal
    RunnerError = 9,      // the runner itself could not work (lock, libcurl set-up)
    TimedOut = 10,        // the partner stopped answering or moving bytes, or the run's deadline passed
    Untrusted = 11,       // the partner's certificate or SSH host key is not trusted
    TlsNotOffered = 12,   // the partner refused TLS; the login was never sent
    Cancelled = 13,       // cancelled by the operator (qorvhost cancel, the events window)
};

std::string_view describe(ExitStatus status);

} // namespace zul::runner
