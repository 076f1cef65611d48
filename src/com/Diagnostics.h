#pragma once

#include "com/Export.h"

#include <functional>
#include <string>

namespace zul::com {

// Lines for the host's log that are not messages of the message service: what
// the plug-in has to say about its own machinery (a hand-over that waited too
// long, why a transfer check failed). They go to standard error until the
// host installs a sink.
ZUL_COM_EXPORT void setDiagnosticSink(std::function<void(const std::string& text)> sink);
ZUL_COM_EXPORT void diagnostic(const std::string& text);

} // namespace zul::com
