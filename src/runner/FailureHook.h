#pragma once

#include "records/RunRecord.h"
#include "runner/Script.h"

#include <string>
#include <vector>

namespace zul::runner {

class Transcript;
using records::RunRecord;
struct Settings;

// The partner of the script's first open line ("" without one): its section
// of VelundZUL.conf chooses the failure hook.
std::string firstPartner(const std::vector<Command>& script);

// After a failed run, runs the ON_FAILURE command with ZUL_EVENT,
// ZUL_EXIT_STATUS, ZUL_OUTCOME, ZUL_TRANSCRIPT, ZUL_START and ZUL_END in its
// environment, for at most ON_FAILURE_TIMEOUT seconds (then it and its
// children are stopped). What went wrong with it goes to the transcript and
// the journal; the run's status stays as it is.
void runFailureHook(const Settings& settings, const RunRecord& record, Transcript& transcript);

} // namespace zul::runner
