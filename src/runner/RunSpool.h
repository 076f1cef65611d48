#pragma once

#include "records/RunRecord.h"

#include <string>
#include <string_view>

namespace zul::runner {

using records::RunRecord;

// Log/spool/: run records that could not be appended to runs.jsonl (a full
// disk, a runs.jsonl that cannot be written), one file a record, until a
// later run of the same user appends them.
std::string spoolFolder(const std::string& logFolder);

// Keeps line in a new file of the spool, created exclusively; returns its
// path, or an empty text and why.
std::string spoolRunLine(const std::string& logFolder, std::string_view line, std::string* why);

// Appends this user's spooled records to runs.jsonl, oldest first, removing
// each once it is in, under the run log's lock; stops at the first that
// cannot be appended. Records of other users wait for their own runs.
struct SpoolResult {
    int appended = 0;
    std::string error;
};
SpoolResult appendSpooled(const std::string& logFolder);

// Appends the record to runs.jsonl, or keeps it in the spool. Empty when it
// is in runs.jsonl, else the line for standard error: the cause, and where
// the record waits (or the record itself when it could not be kept either).
std::string recordRun(const std::string& logFolder, const RunRecord& record);

} // namespace zul::runner
