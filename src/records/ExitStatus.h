#pragma once

#include <array>
#include <string>
#include <string_view>

// The runner's exit statuses and their words: the runner, its --help, the
// history and the documentation all spell them from this table.
namespace zul::records {

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

struct ExitStatusWords {
    ExitStatus status;
    std::string_view words;
};

// In the order of the numbers, one entry each.
inline constexpr std::array<ExitStatusWords, 14> kExitStatuses{{
    {ExitStatus::Success, "success"},
    {ExitStatus::ScriptError, "script error"},
    {ExitStatus::Unreachable, "partner unreachable"},
    {ExitStatus::LoginRefused, "login refused"},
    {ExitStatus::RemoteError, "remote file or permission error"},
    {ExitStatus::LocalFileError, "local file error"},
    {ExitStatus::TransientFailure, "transient failure after retries"},
    {ExitStatus::DeliveryFailure, "delivery failure"},
    {ExitStatus::Interrupted, "interrupted"},
    {ExitStatus::RunnerError, "runner error"},
    {ExitStatus::TimedOut, "timed out"},
    {ExitStatus::Untrusted, "partner not trusted"},
    {ExitStatus::TlsNotOffered, "TLS not offered"},
    {ExitStatus::Cancelled, "cancelled"},
}};

// A run that has no exit status: its runner died before it wrote one.
inline constexpr std::string_view kUnfinishedWords = "unfinished";
// What a later run writes into the record of a runner that died, and how a
// reader knows that record from one the runner wrote itself.
inline constexpr std::string_view kUnfinishedMark = "without finishing";

std::string_view describe(ExitStatus status);
// The words of a recorded status; "exit status N" for one no runner writes.
std::string exitStatusWords(int status);
// "0 success, 1 script error, ..., 13 cancelled"
std::string exitStatusList();

} // namespace zul::records
