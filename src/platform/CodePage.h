#pragma once

#include <string>
#include <string_view>

// The system's 8-bit code page (Windows-1252) against UTF-8, for the edges
// where Unicode text meets the core's bytes: the forms and the host.
namespace zul::platform {

// A character the code page cannot hold becomes one "?", as does a byte that
// is not valid UTF-8.
std::string codePageFromUtf8(std::string_view utf8);

// Every byte has a character; the five bytes the code page leaves undefined
// come back as the control characters of the same number, so that any file
// survives a load and a save unchanged.
std::string utf8FromCodePage(std::string_view bytes);

} // namespace zul::platform
