#pragma once

#include <QString>

namespace zul::host {

// The host's text for a message number; empty for a number it does not know.
QString messageText(int number);

} // namespace zul::host
