#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The run record: one JSON object a line in Log/runs.jsonl, appended by the
// runner when a run ends (or by a later run for one that died), read by the
// history. Its fields, their names and their types are these.
namespace zul::records {

struct RunRecord {
    std::string event;
    std::string start; // ISO 8601 local time
    std::string end;   // empty: no end seen
    int exitStatus = 0;
    std::string outcome;
    int filesUp = 0;
    int filesDown = 0;
    std::int64_t bytesUp = 0;
    std::int64_t bytesDown = 0;
    std::string transcript;
    std::string kept; // "Junction/NAME": received, not delivered, waiting for a later run; written only when set
};

namespace runfield {
inline constexpr std::string_view kEvent = "event";
inline constexpr std::string_view kStart = "start";
inline constexpr std::string_view kEnd = "end";
inline constexpr std::string_view kExit = "exit";
inline constexpr std::string_view kOutcome = "outcome";
inline constexpr std::string_view kFilesUp = "files_up";
inline constexpr std::string_view kBytesUp = "bytes_up";
inline constexpr std::string_view kFilesDown = "files_down";
inline constexpr std::string_view kBytesDown = "bytes_down";
inline constexpr std::string_view kTranscript = "transcript";
inline constexpr std::string_view kKept = "kept";
} // namespace runfield

// "\"name\":", how a field begins in a written line: for quick looks at a
// line before it is parsed.
std::string fieldStart(std::string_view name);

// The line for runs.jsonl, line end included. The runner's texts are in the
// code page: each byte is written as the character it stands for, escaped,
// so the line is ASCII whatever a partner sent.
std::string runRecordLine(const RunRecord& record);

// A record as read back, its texts in UTF-8. A field that is missing or of
// another type reads as empty or zero; exit alone says whether it was there.
struct ReadRunRecord {
    RunRecord record;
    bool hasExit = false;
};

// Nullopt for a line that is no record: not one JSON object, or one without
// an event. A record cut short (a full disk) with the next one glued to it
// reads as that next one.
std::optional<ReadRunRecord> readRunRecord(std::string_view line);

} // namespace zul::records
