#include "host/FileUtility.h"

#include "platform/CommandWords.h"

namespace zul::host {

std::string FileUtility::targetName(const std::string& line)
{
    const auto words = platform::splitWords(line);
    if (words.size() >= 3)
        return words[2];
    if (words.size() < 2)
        return {};
    std::string remote = words[1];
    // A data set name in single quotes names the file without its quotes.
    if (remote.size() >= 2 && remote.front() == '\'' && remote.back() == '\'')
        remote = remote.substr(1, remote.size() - 2);
    const auto slash = remote.find_last_of("/\\");
    return slash == std::string::npos ? remote : remote.substr(slash + 1);
}

std::string FileUtility::GetExtension(std::string& line)
{
    const std::string target = targetName(line);
    const auto slash = target.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    return name.substr(dot + 1);
}

std::string FileUtility::GetTargetFNP(std::string& line)
{
    std::string target = targetName(line);
    if (target.empty() || target.front() == '/')
        return target;
    return m_appFolder + "/" + target;
}

} // namespace zul::host
