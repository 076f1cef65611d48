#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zul::runner {

// The runner's edits of the receipt register Rcvdchkr.txt. The run driver
// merges its records into it under the hand-over lock; every edit here takes
// the same lock and rewrites the register whole, so neither side loses the
// other's lines. Lines that are no records, and records not picked, keep
// their bytes and their place.

// <application folder>/Rcvdchkr.txt and <application folder>/Lock/handover.lock
std::string registerPath(const std::string& appFolder);
std::string handoverLockPath(const std::string& appFolder);

// The longest an edit waits for the run driver to finish a hand-over.
inline constexpr std::chrono::seconds RegisterLockWait{60};

// The key (columns 1 to 7) of a register line, empty for a line that is no record.
std::string_view recordKey(std::string_view line);

// Removes the records of files that were delivered: for each line as it was
// read before the delivery, the first record of its key, but only while it
// is still that line (a later run of the event may have renewed it, and then
// needs it). Returns an empty text, or why nothing was removed.
std::string removeDeliveredRecords(const std::string& appFolder, const std::vector<std::string>& lines);

// Records stamped more than days days before now whose Junction file
// (the key, then "." and an extension) is gone: the event has not run
// for that long, or has been deleted. Counted without the lock.
struct PruneResult {
    std::size_t removed = 0;
    std::string error;
};
PruneResult pruneOldRecords(const std::string& appFolder, int days, std::int64_t now);

} // namespace zul::runner
