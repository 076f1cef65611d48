#pragma once

#include "com/HostComponents.h"
#include "records/ReceiptLayout.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The run driver: partner address, reachability, transfer check and the start
// of the FTP runner.
namespace ModExecut {

// True once the runner has been started; False when the partner did not
// answer. Other failures leave as zul::com::ComError for the caller's trap.
bool RunEvent(std::int32_t& uRunMode, zul::com::EventStructPtr& oEvtStruct);

// The work of RunEvent; called only by it.
bool LaunchRunner(zul::com::EventStructPtr& oEvtStruct);

// Checks the PUT lines of the script, registers its receipt marker lines in
// Rcvdchkr.txt and writes the runner copy. Returns the runner copy's path, or
// "" on any failure (never throws).
std::string CheckTransfers(const std::string& sEventId, const std::string& sScriptPath, bool bSendEmpty, bool bRZ,
                           bool bRT, bool bRC, std::int16_t iRunDay);

// One line of the receipt register, filled field by field and joined into 82
// fixed-width columns.
struct ReceiptRecord {
    static constexpr std::size_t KeyWidth = zul::records::receipt::kKeyWidth;
    static constexpr std::size_t StampWidth = zul::records::receipt::kStampWidth;
    static constexpr std::size_t OptionWidth = zul::records::receipt::kOptionWidth;
    static constexpr std::size_t TargetWidth = zul::records::receipt::kTargetWidth;
    static constexpr std::size_t Width = zul::records::receipt::kWidth;

    std::string Key;    // event id and two-digit GET ordinal
    std::string Stamp;  // yyyymmddhhnnss
    std::string RZ;     // "RZ" or blanks
    std::string RT;     // "RT" or blanks
    std::string RC;     // "RC" or blanks
    std::string Target; // "&" target "&" as the marker line holds it

    // Each field padded or cut to its width, one blank between fields.
    std::string join() const;
};

// The records that were new in the latest check; entry 0 is never used and an
// empty entry stands for a record that replaced a register line.
struct ReceiptTable {
    static constexpr std::int16_t Capacity = 50;
    std::array<std::string, Capacity + 1> entries;
    std::int16_t count = 0;
};

const ReceiptTable& NewReceipts();
const ReceiptRecord& LastReceipt();

// The runner's command line. text is what is logged: the program, one blank
// and the argument. The argument is handed over as one, without a shell.
struct RunnerCommand {
    std::string text;
    std::string program;
    std::string argument;
    // The script field: the file the runner is handed as an open descriptor.
    std::string script;
    // The event field, trimmed: blank for a run without an event.
    std::string event;
    // Added to the runner's environment ("NAME=value"); never on the command line.
    std::vector<std::string> environment;
};

// Command line for the runner: "true|" script "|" event, from the program
// VelundZUL in the application folder. Also used by the Fast Path run.
RunnerCommand FormRunnerCommand(const std::string& sScriptField, const std::string& sEventField);

class HandoverLock;

// The next StartRunner on this thread hands over path only while it holds
// exactly text (what the caller has just written there under the lock).
void ExpectScript(const std::string& path, std::string text);

// Starts the runner with its script as an open descriptor (ZUL_SCRIPT_FD),
// lets the next run in (handover, when given, is released once the runner
// is started) and then waits until the runner has read its script (it closes
// the pipe named by ZUL_HANDOVER_FD or exits), within ScriptReadWait (or a shorter HandoverWait()), never
// for its transfers. A script that cannot be handed over gives the runner no
// descriptor and the cause, so that its run fails with it. A runner that
// cannot be started fails with zul::com::ComError. A pending
// AfterNextRunnerExit action is taken by a successful start and runs once
// that runner has exited.
void StartRunner(const RunnerCommand& command, HandoverLock* handover = nullptr);

// Why the latest CheckTransfers on this thread returned "", for the log and
// the runner; empty after a check that succeeded.
const std::string& LastCheckFailure();

// The text of the latest command line handed to StartRunner on this thread,
// for logs and tests.
const std::string& LastCommandLine();

} // namespace ModExecut
