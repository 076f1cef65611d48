#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zul::runner {

class Transcript;

// What a lock file in the Lock folder says about the run that holds it: a
// header written when the run takes its turn, then one line for each part
// file it creates ("part PATH") and removes or renames ("done PATH").
struct LockHolder {
    long pid = 0;
    std::int64_t since = 0; // seconds since the epoch
    std::string event;
    std::string start; // as in the run record
    std::string transcript;
    std::vector<std::string> parts; // created and not yet gone
    bool empty() const { return pid == 0; }
};
LockHolder parseHolder(std::string_view text);
std::string holderHeader(const LockHolder& holder);

// This run's entry in the Lock folder, from the moment it has its turn until
// its record is written. An event's run writes into the event lock it holds;
// a run without an event gets a lock file of its own (run-<pid>.lock).
//
// A lock file that nobody holds but that still names a run belongs to a run
// that died before its record: begin() gives that run a record in
// Log/runs.jsonl, removes its part files, and removes hidden part files in
// Junction/ older than every run still alive.
class RunRegistration {
public:
    RunRegistration(std::string appFolder, std::string event, std::string start, std::string transcriptPath);
    ~RunRegistration();
    RunRegistration(const RunRegistration&) = delete;
    RunRegistration& operator=(const RunRegistration&) = delete;

    // Names this run in run-<pid>.lock before it waits for its event's turn,
    // so that a runner killed while waiting still gets a record.
    void announce(Transcript& transcript);
    // eventLockFd: the descriptor of the event lock this run holds, or -1.
    // The run moves into the event lock and its run-<pid>.lock goes.
    void begin(int eventLockFd, Transcript& transcript);
    // Once the run's record is written: the lock file no longer names a run.
    void end();
    // A sign of life while the transcript is quiet (a long transfer): the
    // lock file's time, which tells a later run when this one died.
    void alive();

private:
    void claim(int fd, Transcript& transcript);
    void notePart(const std::string& path, bool exists);
    void settle(const LockHolder& dead, const struct stat& lockFile, Transcript& transcript);
    bool ourPartFile(const std::string& path, const struct stat& lockFile) const;
    bool ourTranscript(const std::string& path) const;
    void recoverOthers(const std::string& ownPath, Transcript& transcript);

    std::string m_appFolder;
    LockHolder m_self;
    std::string m_ownPath; // this run's run-<pid>.lock, removed at the end
    int m_ownFd = -1;
    int m_fd = -1; // where this run is named: m_ownFd or the event lock
    std::int64_t m_offset = 0;
};

} // namespace zul::runner
