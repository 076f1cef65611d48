#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A running runner's status record, Lock/run-<pid>.status beside its own lock
// Lock/run-<pid>.lock: written by the runner, read by the history and by cancel.
namespace zul::records {

struct RunStatus {
    long pid = 0;
    std::string event;
    std::string start;        // as in the run record
    std::int64_t startMs = 0; // since the epoch
    int line = 0;             // of the script; 0 before the first command
    std::string command;      // the command word, lower case
    std::string file;         // the file moving now, escaped; empty between transfers
    std::int64_t done = 0;    // bytes of that file
    std::int64_t total = -1;  // -1: not known
    std::int64_t rate = 0;    // bytes a second
    std::int64_t updatedMs = 0;

    // Seconds left at the current rate, when the size is known and bytes move.
    std::optional<std::int64_t> secondsLeft() const;
};

std::string statusText(const RunStatus& s);
// Nullopt for text that names no run.
std::optional<RunStatus> parseStatus(std::string_view text);

// "run-<pid>.status" for the run lock "run-<pid>.lock" (and its "-<hex>"
// variant); empty for any other name.
std::string statusNameFor(std::string_view lockName);
std::string lockNameFor(std::string_view statusName);

// A running run, its status believed: its file is a trusted file and the
// lock beside it is still held.
struct RunningRun {
    RunStatus status;
    std::string lockPath;
};

// The running runs in a Lock folder, for one event (all when empty), newest first.
std::vector<RunningRun> runningRuns(const std::string& lockFolder, std::string_view event = {});

// "line 4, get payroll.dat, 1.2 of 4.0 GB, 38 MB/s, about 1 min left";
// "starting" before the first command.
std::string progressText(const RunStatus& s);
// "1.2 GB", "38 MB"
std::string shownBytes(std::int64_t bytes);

} // namespace zul::records
