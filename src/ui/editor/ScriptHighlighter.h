#pragma once

#include "ftpscript/Lint.h"

#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <map>

namespace zul::ui {

// Colours a script as the runner reads it: command words, the partner's
// address, remote and local names, marker and switched-off lines; and
// underlines the lines that the lint found fault with.
class ScriptHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    explicit ScriptHighlighter(QTextDocument* document);

    // Worst severity by 1-based line; only the lines whose mark changed are redrawn.
    void setMarks(std::map<int, ftpscript::Severity> marks);

protected:
    void highlightBlock(const QString& text) override;

private:
    void underline(int from, int length, ftpscript::Severity severity);

    std::map<int, ftpscript::Severity> m_marks;
    QTextCharFormat m_command, m_address, m_remote, m_local, m_marker, m_secret;
};

} // namespace zul::ui
