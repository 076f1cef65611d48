#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The run history without Qt: the command line reads it in a process that
// loads no more than the C++ library, and the events window converts at its edge.
namespace zul::history {

// One run of an event: a record of the runner, or a failure that the host
// logged before any runner was started. Text is UTF-8.
struct Run {
    enum class Result { Success, Failed, NotStarted, Unfinished };
    enum class Source { Runner, Host };

    std::string event;
    std::string start; // as recorded
    std::string end;
    std::int64_t startMs = 0; // since the epoch, for ordering
    std::int64_t endMs = -1;  // -1: no end
    std::optional<int> exitStatus;
    std::string outcome; // in words
    Result result = Result::Failed;
    Source source = Source::Runner;
    int filesUp = 0;
    int filesDown = 0;
    std::int64_t bytesUp = 0;
    std::int64_t bytesDown = 0;
    std::string transcript;

    std::int64_t durationMs() const { return endMs >= 0 && endMs >= startMs ? endMs - startMs : -1; }
};

std::string resultWord(Run::Result result);
// "2026-12-05 02:00:03" from a recorded stamp.
std::string shownTime(std::string_view stamp);
// "3.2 s", "4 min 05 s", "-" for none.
std::string shownDuration(std::int64_t ms);
// The same for a run; "unknown" for a runner that died at a time nobody saw.
std::string shownDuration(const Run& run);
// "2 files, 12.3 kB"
std::string shownTransfer(int files, std::int64_t bytes);

// Milliseconds since the epoch for "YYYY-MM-DDTHH:MM:SS[.fff][Z|+hhmm|+hh:mm]";
// without a zone the stamp is local time. Nullopt when it is not such a stamp.
std::optional<std::int64_t> parseStamp(std::string_view text);

// dir/name as the host spells paths: an absolute name stays as it is.
std::string joinPath(std::string_view dir, std::string_view name);
// The part after the last slash.
std::string_view fileName(std::string_view path);
bool exists(const std::string& path);
bool isFile(const std::string& path);

// Reads a text file line by line from its end, in chunks, so that the newest
// lines of a large log cost no more than their own bytes. A last line without
// its line end (a writer still at work) is skipped.
class ReverseLines {
public:
    explicit ReverseLines(const std::string& path);
    // Reads from an open descriptor, which it closes.
    explicit ReverseLines(int fd);
    ~ReverseLines();
    ReverseLines(const ReverseLines&) = delete;
    ReverseLines& operator=(const ReverseLines&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // The next line towards the start of the file, without its line end; false
    // at the start. The view is valid until the next call.
    bool next(std::string_view& line);

private:
    bool readMore();

    int m_fd = -1;
    std::int64_t m_pos = 0;        // file offset of m_buf's first byte
    std::unique_ptr<char[]> m_buf; // from m_pos: unread lines up to m_end, the first one perhaps cut at m_pos
    std::size_t m_end = 0;
};

// One entry of the host's messages.jsonl, as its readers need it.
struct HostMessage {
    std::string at;   // the local time stamp, "2026-12-04T02:00:00"
    std::string kind; // the call's kind letter, or "N" for a note of the host's own
    std::string message;
    std::vector<int> numbers; // the message numbers; 0 for one that is no whole int
    // The call's arguments after the kind letter as plain text ("L": id,
    // type, run day, date, time, "90"[, text]); empty for a missing one.
    std::string arg(std::size_t k) const { return k < rest.size() ? rest[k] : std::string(); }
    std::vector<std::string> rest;
};
// Nothing for a line that is no JSON object.
std::optional<HostMessage> parseHostMessage(std::string_view line);

// The history of runs: Log/runs.jsonl and its rotated files (runs.jsonl.1 is
// the newest of them) merged with the host's messages.jsonl, where the runs
// that never reached a runner are logged (partner silent, failure before the
// start). Newest first by start.
class RunLog {
public:
    RunLog(std::string logFolder, std::string messageLog);

    // The runs of one event (all events when empty), at most limit of them (0: all).
    std::vector<Run> read(std::string_view event = {}, int limit = 0) const;
    // The latest run of each of the events that has one.
    std::map<std::string, Run> latest(const std::vector<std::string>& events) const;

    // runs.jsonl first, then runs.jsonl.1, .2 ... while they exist.
    std::vector<std::string> runFiles() const;
    // The same files, opened in one moment: the runner rotates them under the
    // run log's lock (Log/.runs.jsonl.lock), which this takes shared while it
    // opens them, so a rotation cannot make a run appear twice or not at all.
    std::vector<std::unique_ptr<ReverseLines>> openRunFiles() const;
    const std::string& logFolder() const { return m_logFolder; }
    std::string runsPath() const;
    const std::string& messageLog() const { return m_messageLog; }
    // Where the run's transcript is now: the recorded path, or the file of
    // that name in the log folder (an application folder that moved); empty when gone.
    std::string transcriptFile(const Run& run) const;

    // One line of either log taken apart; nullopt for a line that is no run.
    static std::optional<Run> fromRunRecord(std::string_view line);
    static std::optional<Run> fromHostMessage(std::string_view line);

private:
    std::string m_logFolder;
    std::string m_messageLog;
};

} // namespace zul::history
