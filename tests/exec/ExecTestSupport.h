#pragma once

#include "FakePing.h"
#include "platform/Clock.h"
#include "platform/Library.h"

#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace zul::test {

// Test texts are written with "\n"; the system's files use CR LF.
inline std::string crlf(std::string_view text)
{
    return QByteArray(text.data(), qsizetype(text.size())).replace("\n", "\r\n").toStdString();
}

inline platform::LocalDateTime fixedTime()
{
    return platform::LocalDateTime{2024, 3, 7, 14, 5, 9};
}

// Copies a built file into the temporary application folder.
inline bool installFile(const QString& from, const std::string& to, bool executable = false)
{
    const QString target = QString::fromStdString(to);
    QFile::remove(target);
    if (!QFile::copy(from, target))
        return false;
    if (executable)
        QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return true;
}

// Installs a stand-in ping library (FakePing.c) as the folder's libping32.so; its state, or null.
inline FakePingState* installFakePing(const std::string& appFolder, const char* built = FAKE_PING_LIB)
{
    const std::string lib = appFolder + "/libping32.so";
    if (!installFile(QString::fromUtf8(built), lib))
        return nullptr;
    auto stateOf = reinterpret_cast<FakePingStateFunction>(platform::loadSymbol(lib, "fake_ping_state"));
    return stateOf ? stateOf() : nullptr;
}

// The build's libping32.so, from the test environment or, started by hand, from the build itself.
inline QString builtPing32()
{
    const QString folder = qEnvironmentVariable("ZUL_APP_BUILD_DIR");
    return folder.isEmpty() ? QStringLiteral(PING32_LIB) : folder + QStringLiteral("/libping32.so");
}

} // namespace zul::test
