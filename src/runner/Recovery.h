#pragma once

#include "records/RunStatus.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zul::runner {

class Transcript;

// What a run's lock file in the Lock folder says about the run that holds
// it, written when the run registers. Only a run's own user believes it (see
// RunRegistration), and it never names a file to remove or write.
struct LockHolder {
    long pid = 0;
    std::int64_t since = 0; // seconds since the epoch
    std::string event;
    std::string start; // as in the run record
    std::string transcript;
    bool empty() const { return pid == 0; }
};
LockHolder parseHolder(std::string_view text);
std::string holderHeader(const LockHolder& holder);

// This run's lock file in the Lock folder (run-<pid>.lock, owner-written,
// group-readable), from before it waits for its event's turn until its
// record is written.
//
// A lock file that nobody holds but that still names a run belongs to a run
// that died before its record. The Lock folder is shared by the group, so a
// lock file is believed only when this run's user wrote it and no one else
// could have: then begin() gives that run a record in Log/runs.jsonl. Part
// files are found by their names in Junction/, never by what a lock file
// says: this user's part files older than every run still alive go.
class RunRegistration {
public:
    RunRegistration(std::string appFolder, std::string event, std::string start, std::string transcriptPath);
    ~RunRegistration();
    RunRegistration(const RunRegistration&) = delete;
    RunRegistration& operator=(const RunRegistration&) = delete;

    // Names this run before it waits for its event's turn, so that a runner
    // killed while waiting still gets a record.
    void announce(Transcript& transcript);
    // Once the run has its turn.
    void begin(Transcript& transcript);
    // Once the run's record is written: the lock file no longer names a run.
    void end();
    // A sign of life while the transcript is quiet (a long transfer): the
    // lock file's time, which tells a later run when this one died.
    void alive();
    // The status record beside the lock (run-<pid>.status, 0640), replaced
    // whole: a reader sees the old record or the new one, never half of one.
    // Removed by end().
    void status(records::RunStatus status);

private:
    bool claim(int fd, Transcript& transcript);
    void settle(const LockHolder& dead, const struct stat& lockFile, Transcript& transcript);
    bool ourTranscript(const std::string& path) const;
    void recoverOthers(Transcript& transcript);

    std::string m_appFolder;
    LockHolder m_self;
    std::int64_t m_startNs = 0;
    std::string m_ownPath; // this run's lock file, removed at the end
    int m_fd = -1;
    int m_folderFd = -1; // the Lock folder, for the status record
    std::string m_statusName;
    bool m_statusFailed = false;
};

// Whether a lock file's content can be believed: a normal file of this
// process's user that neither the group nor others may write.
bool trustedLockFile(const struct stat& st);

} // namespace zul::runner
