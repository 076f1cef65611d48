#pragma once

#include "runner/Settings.h"

#include <cstdio>
#include <string>
#include <vector>

namespace zul::runner {

// VelundZUL --check FILE...: every problem of each script as FILE:LINE: severity: message,
// without connecting or touching any file but the scripts and the settings file. 0 clean (warnings allowed),
// 1 any error, 2 a script that cannot be read. config gives the partners' upload settings.
int checkScripts(const std::vector<std::string>& files, std::FILE* out, std::FILE* err,
                 const ConfigFile& config = {});

} // namespace zul::runner
