#pragma once

#include <QString>
#include <string>

class QTextDocument;

namespace zul::ui {

// The forms show Unicode; the core speaks the system's 8-bit code page
// (Windows-1252). Characters it cannot hold become "?".
QString fromCodePage(const std::string& bytes);
std::string toCodePage(const QString& text);

// A text box's text as typed: QPlainTextEdit::toPlainText() would turn
// no-break spaces into blanks.
QString documentText(const QTextDocument& document);

// A text box holds lines separated by "\n"; scripts separate them by CR LF.
QString toCrLf(const QString& boxText);
QString fromCrLf(const QString& scriptText);

} // namespace zul::ui
