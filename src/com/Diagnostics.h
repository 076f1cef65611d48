#pragma once

#include "com/Export.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zul::com {

// Lines for the host's log that are not messages of the message service: what
// the plug-in has to say about its own machinery (a hand-over that waited too
// long, why a transfer check failed). They go to standard error until the
// host installs a sink.
ZUL_COM_EXPORT void setDiagnosticSink(std::function<void(const std::string& text)> sink);
ZUL_COM_EXPORT void diagnostic(const std::string& text);

// A runner started without a script, because the transfer check before it
// failed or the script could not be handed over (why says which): logged as a diagnostic, and counted so that whoever asked for the
// run (the host's run command) does not take it for a start that worked.
ZUL_COM_EXPORT void runWithoutScript(const std::string& eventId, const std::string& why);
struct RunsWithoutScript {
    std::uint64_t count = 0;
    std::string last; // the latest diagnostic
};
ZUL_COM_EXPORT RunsWithoutScript runsWithoutScript();

} // namespace zul::com
