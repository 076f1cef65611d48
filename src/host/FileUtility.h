#pragma once

#include "com/HostComponents.h"

#include <string>
#include <vector>

namespace zul::host {

// QorvUtil.FileUtility. The local target of a GET line is its third word, or
// the last path element of the remote name when there is none; a relative
// target lies in the application folder. Words are split as the runner
// splits them.
class FileUtility : public com::IFileUtility {
public:
    explicit FileUtility(std::string appFolder) : m_appFolder(std::move(appFolder)) {}
    std::string GetExtension(std::string& line) override;
    std::string GetTargetFNP(std::string& line) override;

    static std::string targetName(const std::string& line);

private:
    std::string m_appFolder;
};

} // namespace zul::host
