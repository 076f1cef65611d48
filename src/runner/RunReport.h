#pragma once

#include "records/RunRecord.h"

#include <string>

namespace zul::runner {

class Transcript;
using records::RunRecord;

// One line to syslog, which the journal keeps as SYSLOG_IDENTIFIER=VelundZUL:
// the socket in $ZUL_SYSLOG_SOCKET, else /dev/log. Error priority for
// failures. False when no log took the line.
enum class LogPriority { Error = 3, Warning = 4, Info = 6 };
bool sendToSyslog(LogPriority priority, const std::string& message, std::string* why = nullptr);

// The run's line for the journal: event, outcome, exit status, bytes, transcript.
std::string journalLine(const RunRecord& record);

// The end of a run told to those who watch it: its line to the journal, and
// its exit status to a "qorvhost run --wait" that handed us the pipe named by
// ZUL_STATUS_FD (closed here, so nothing started later inherits it).
void reportRunEnd(const RunRecord& record, Transcript& transcript);

} // namespace zul::runner
