#pragma once

#include <cstdlib>

// The environment through which a run hands its runner over: the run driver
// and qorvhost set these, the runner reads them.
namespace zul::records {

// The descriptor the runner closes once its script is in memory.
inline constexpr const char* kHandshakeFdVariable = "ZUL_HANDOVER_FD";
// The descriptor the runner reads its script from; empty when the driver could not hand one over.
inline constexpr const char* kScriptFdVariable = "ZUL_SCRIPT_FD";
// Why the runner gets no script.
inline constexpr const char* kCheckFailureVariable = "ZUL_CHECK_FAILURE";
// A pipe to a waiting "qorvhost run --wait", to which the runner writes its exit status.
inline constexpr const char* kStatusFdVariable = "ZUL_STATUS_FD";
// Set to 1 for the runner alone: libcurl loads GnuTLS through librtmp, a
// protocol the runner never allows, and GnuTLS's set-up at load costs every
// run about half a millisecond. The runner drops it at once, so that the
// programs it starts (the failure hook) get GnuTLS as usual.
inline constexpr const char* kNoTlsSetUpVariable = "GNUTLS_NO_IMPLICIT_INIT";

// The descriptor a variable above names: a plain number past standard error
// and below 65536, or -1 (unset, empty or anything else).
inline int descriptorNamed(const char* value)
{
    if (!value || !*value)
        return -1;
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    return *end == '\0' && fd > 2 && fd < 65536 ? int(fd) : -1;
}

} // namespace zul::records
