#pragma once

#include <string>

namespace zul::host {

// The host's text for a message number; empty for a number it does not know.
std::string messageText(int number);

} // namespace zul::host
