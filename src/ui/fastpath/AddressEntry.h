#pragma once

#include <QString>

namespace zul::ui {

// The partner address box takes digits and points; backspace still edits.
bool addressKeyAllowed(int keyAscii);

// After any change: a text whose last character is not a digit or a point is
// wiped whole. Only the last character is looked at, so a pasted text that
// ends in a digit stays as it is.
bool addressTextRejected(const QString& text);

} // namespace zul::ui
