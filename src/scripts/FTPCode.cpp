#include "scripts/FTPCode.h"

#include "platform/FileSystem.h"

namespace FTPCode {

std::optional<std::string> LoadEventScript(std::string&)
{
    return std::nullopt;
}

void WriteWorkScript(const std::string&) {}

void DeleteScriptFile(std::string& sPath)
{
    if (zul::platform::findNormalFile(sPath))
        (void)zul::platform::forceDelete(sPath);
}

void BuildEventScript(std::string&) {}
void BuildRunScript(std::string&) {}

} // namespace FTPCode
