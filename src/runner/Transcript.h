#pragma once

#include "records/RunRecord.h"
#include "records/RunStatus.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zul::runner {

// One transcript per run: every script line, every command sent and reply
// received, byte counts and the outcome. Passwords never reach it: callers
// register them as secrets and every line is scrubbed before it is written.
class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Opens the file; without one the transcript goes only to the echo.
    bool open(const std::string& path);
    const std::string& path() const { return m_path; }
    void setEcho(bool echo) { m_echo = echo; }
    void addSecret(std::string secret);

    void note(std::string_view text); // the runner's own remarks
    void script(int line, std::string_view shown);
    void sent(std::string_view command); // a command to the server
    void reply(std::string_view reply);  // a reply from the server
    void error(std::string_view text);

    std::string scrub(std::string_view text) const;

    // Lines reach the file from a thread of the transcript's own, at most
    // writeDelay after they were made, so the run never stops for the file
    // between a server's answer and its next command. flush() writes what is
    // pending at once: before another process reads the file, and at the end.
    // On a terminal (echo) every line is written at once, in order with the
    // progress bar. A run killed outright loses at most writeDelay of lines.
    static constexpr std::chrono::milliseconds writeDelay{50};
    void flush();

    // Why the file could not be opened or written, once either happened;
    // empty while it is whole. Writes what is pending first.
    std::string failure();

private:
    void write(char tag, std::string_view text);
    void output(std::string_view lines);
    void writeLater(std::string&& line);
    void writeTaken(std::unique_lock<std::mutex>& pending);
    void writer();

    std::FILE* m_file = nullptr;
    int m_errno = 0;
    std::string m_failedPath;
    std::string m_openFailure;
    std::string m_path;
    bool m_echo = false;
    std::vector<std::string> m_secrets;
    std::mutex m_pendingMutex; // the three below it; taken before m_fileMutex
    std::mutex m_fileMutex;    // the file and its error, so that lines go out in order
    std::string m_pending;
    bool m_stopping = false;
    bool m_writeNow = false;
    std::condition_variable m_wake;
    std::thread m_writer;
};

// A one-line progress bar on standard error, drawn only on a terminal.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : m_enabled(enabled) {}
    // The script line at work, for the status record.
    void command(int line, std::string_view word);
    void begin(const std::string& name, std::int64_t total);
    void update(std::int64_t done, std::int64_t total);
    void end();
    // The size a server announced for the file now received.
    void expect(std::int64_t total);
    // Called at most once a second while a transfer moves, drawn or not.
    void onAlive(std::function<void()> alive) { m_alive = std::move(alive); }
    // The run's status, handed over at most every statusEvery (drawn or not):
    // a long transfer costs a few small writes a second, never one a buffer.
    void onStatus(std::function<void(const records::RunStatus&)> status) { m_statusSink = std::move(status); }
    static constexpr std::chrono::milliseconds statusEvery{250};

private:
    void report(std::chrono::steady_clock::time_point now, bool force);

    bool m_enabled;
    std::function<void()> m_alive;
    std::chrono::steady_clock::time_point m_lastAlive{};
    std::function<void(const records::RunStatus&)> m_statusSink;
    records::RunStatus m_status;
    std::chrono::steady_clock::time_point m_lastStatus{};
    std::chrono::steady_clock::time_point m_moveStart{};
    std::chrono::steady_clock::time_point m_rateAt{}; // when the rate was last measured
    bool m_statusDirty = false;
    bool m_active = false;
    std::string m_name;
    std::int64_t m_total = 0;
    std::chrono::steady_clock::time_point m_start{};
    std::chrono::steady_clock::time_point m_last{};
};

using records::RunRecord;

std::string isoNow();

// Appends the whole line in one write, so concurrent runners never
// interleave; a short write (a full disk) is cut back off, so the file never
// holds half a record. False when the record is not in the file; why then says why.
bool appendRunRecord(const std::string& path, const RunRecord& r, std::string* why = nullptr);
bool appendRunLine(const std::string& path, std::string_view line, std::string* why = nullptr);

// "12.3 MB/s" for a byte count and a duration.
std::string formatRate(std::int64_t bytes, double seconds);

} // namespace zul::runner
