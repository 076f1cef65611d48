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

// Installs a stand-in ping library (FakePing.c) as the folder's libping32.so; its state, or null.
inline FakePingState* installFakePing(const std::string& appFolder, const char* built = FAKE_PING_LIB)
{
    const std::string lib = appFolder + "/libping32.so";
    QFile::remove(QString::fromStdString(lib));
    if (!QFile::copy(QString::fromUtf8(built), QString::fromStdString(lib)))
        return nullptr;
    auto stateOf = reinterpret_cast<FakePingStateFunction>(platform::loadSymbol(lib, "fake_ping_state"));
    return stateOf ? stateOf() : nullptr;
}

} // namespace zul::test
