#pragma once

#include "runner/Settings.h"

#include <cstdio>
#include <string>
#include <vector>

namespace zul::runner {

// VelundZUL --check FILE...: every problem of each script as FILE:LINE: severity: message,
// without connecting or touching any file but the scripts and the settings. 0 clean (warnings
// allowed), 1 any error, 2 a script that cannot be read. The settings at settingsPath (when given)
// are read as a run reads them: bad values are warnings, a file a run would refuse an error; the
// partners' upload settings there tell the lint what uploads will do.
int checkScripts(const std::vector<std::string>& files, std::FILE* out, std::FILE* err,
                 const std::string& settingsPath = {});

} // namespace zul::runner
