#pragma once

#include "platform/CodePage.h"

#include <QString>
#include <string>

namespace zul::host {

// What the host hands to the plug-in's side (event fields, ids) is bytes in
// the 8-bit code page, as script text is; the host's windows keep Unicode.
inline std::string toCodePage(const QString& text)
{
    return platform::codePageFromUtf8(text.toStdString());
}

inline QString fromCodePage(const std::string& bytes)
{
    return QString::fromStdString(platform::utf8FromCodePage(bytes));
}

} // namespace zul::host
