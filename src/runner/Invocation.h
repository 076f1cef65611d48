#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zul::runner {

// The command line "true|SCRIPT|EVENT", as one argument or spread over several.
struct Invocation {
    std::string flag;   // the first field, "true" from the run driver
    std::string script; // empty when the transfer check failed
    std::string event;  // trimmed; empty for a run without an event
};

std::optional<Invocation> parseInvocation(const std::vector<std::string>& args);

} // namespace zul::runner
