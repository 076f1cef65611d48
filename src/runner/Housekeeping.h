#pragma once

#include <cstdint>
#include <string>

namespace zul::runner {

class ConfigFile;
class Transcript;

// What the runner keeps in Log/: runs.jsonl up to a size, a few rotated files
// (runs.jsonl.1 the newest), and transcripts for a number of days; and how
// long a receipt record whose Junction file is gone stays in Rcvdchkr.txt.
struct Housekeeping {
    std::int64_t logMaxBytes = 10 * 1024 * 1024; // LOG_MAX_BYTES; 0: never rotate
    int logKeep = 5;                             // LOG_KEEP: rotated files kept
    int transcriptDays = 30;                     // TRANSCRIPT_DAYS; 0: keep them all
    int receiptDays = 30;                        // RECEIPT_DAYS; 0: keep them all

    static Housekeeping fromConfig(const ConfigFile& config);
};

struct HousekeepingResult {
    bool rotated = false;
    int transcriptsRemoved = 0;
    int spooledAppended = 0; // records kept in Log/spool/ by earlier runs
    std::string error; // the first thing that failed, for the transcript
};

// "<name>_<8 digits>-<6 digits>_<digits>[-<hex digits>].log", as the runner names its transcripts.
bool isTranscriptName(const char* name);

// The run log's lock, Log/.runs.jsonl.lock, taken exclusively: held while
// runs.jsonl is rotated or spooled records are appended; readers of the
// history take it shared while they open the files. Returns the descriptor
// that holds it (closing it lets go), or -1 and why.
int lockRunLog(const std::string& logFolder, std::string* error);

// Rotates runs.jsonl when it has reached the limit, under the run log's lock
// (appenders need none: a record appended to the file just renamed lands in
// runs.jsonl.1, which the history reads).
bool rotateRunLog(const std::string& logFolder, std::int64_t maxBytes, int keep, std::string* error);

// Removes transcripts ("<name>_<yyyymmdd-hhmmss>_<pid>.log") last written more
// than `days` days before `now`; returns how many went.
int removeOldTranscripts(const std::string& logFolder, int days, std::int64_t now, std::string* error);

// Log/.transcripts-swept: its time is the last sweep for old transcripts,
// which runs again once it is an hour old (or missing, or not a plain file).
inline constexpr const char* kSweepStamp = ".transcripts-swept";
inline constexpr std::int64_t kSweepEverySeconds = 3600;
bool transcriptSweepDue(const std::string& logFolder, std::int64_t now);
void markTranscriptSweep(const std::string& logFolder);

// All three (with the spool's records appended), at the start of a run; the
// second form notes what it did in the transcript.
HousekeepingResult tidyLog(const std::string& logFolder, const Housekeeping& settings);
void tidyLog(const std::string& logFolder, const ConfigFile& config, Transcript& transcript);

// Prunes the receipt register of records older than RECEIPT_DAYS whose
// Junction file is gone, noting it in the transcript.
void tidyReceipts(const std::string& appFolder, const ConfigFile& config, Transcript& transcript);

} // namespace zul::runner
