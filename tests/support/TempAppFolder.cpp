#include "support/TempAppFolder.h"

#include "platform/AppPath.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <stdexcept>

namespace zul::test {

TempAppFolder::TempAppFolder() : m_previous(platform::appFolder())
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    for (const char* folder : {"ZUL", "Junction", "Log"})
        QDir(m_dir.path()).mkpath(folder);
    platform::setAppFolder(path());
}

TempAppFolder::~TempAppFolder()
{
    platform::setAppFolder(m_previous);
}

void TempAppFolder::write(const std::string& relative, const std::string& bytes) const
{
    if (!platform::writeFile(file(relative), bytes))
        throw std::runtime_error("cannot write " + relative);
}

std::string TempAppFolder::read(const std::string& relative) const
{
    auto r = platform::readAll(file(relative));
    return r ? *r : std::string("<missing>");
}

bool TempAppFolder::exists(const std::string& relative) const
{
    return platform::fileExists(file(relative));
}

} // namespace zul::test
