#include "runner/ExitStatus.h"

namespace zul::runner {

std::string_view describe(ExitStatus status)
{
    switch (status) {
    case ExitStatus::Success:
        return "success";
    case ExitStatus::ScriptError:
        return "script error";
    case ExitStatus::Unreachable:
        return "partner unreachable";
    case ExitStatus::LoginRefused:
        return "login refused";
    case ExitStatus::RemoteError:
        return "remote file or permission error";
    case ExitStatus::LocalFileError:
        return "local file error";
    case ExitStatus::TransientFailure:
        return "transient failure after retries";
    case ExitStatus::DeliveryFailure:
        return "delivery failure";
    case ExitStatus::Interrupted:
        return "interrupted";
    case ExitStatus::RunnerError:
        return "runner error";
    case ExitStatus::TimedOut:
        return "timed out";
    case ExitStatus::Untrusted:
        return "partner not trusted";
    case ExitStatus::TlsNotOffered:
        return "TLS not offered";
    case ExitStatus::Cancelled:
        return "cancelled";
    }
    return "unknown";
}

} // namespace zul::runner
