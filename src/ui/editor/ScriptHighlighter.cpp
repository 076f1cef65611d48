#include "ui/editor/ScriptHighlighter.h"

#include "ftpscript/Grammar.h"
#include "ui/common/CodePage.h"

#include <QTextDocument>
#include <set>

namespace zul::ui {

namespace fs = zul::ftpscript;

ScriptHighlighter::ScriptHighlighter(QTextDocument* document) : QSyntaxHighlighter(document)
{
    m_command.setForeground(QColor(0x00, 0x30, 0xa0));
    m_command.setFontWeight(QFont::Bold);
    m_address.setForeground(QColor(0x80, 0x00, 0x80));
    m_remote.setForeground(QColor(0x00, 0x70, 0x30));
    m_local.setForeground(QColor(0x90, 0x50, 0x00));
    m_marker.setForeground(QColor(0x70, 0x70, 0x70));
    m_marker.setFontItalic(true);
    m_secret.setForeground(QColor(0x90, 0x90, 0x90));
}

void ScriptHighlighter::setMarks(std::map<int, fs::Severity> marks)
{
    std::set<int> changed;
    for (const auto& [line, severity] : m_marks) {
        const auto it = marks.find(line);
        if (it == marks.end() || it->second != severity)
            changed.insert(line);
    }
    for (const auto& [line, severity] : marks)
        if (!m_marks.count(line))
            changed.insert(line);
    m_marks = std::move(marks);
    for (int line : changed) {
        const QTextBlock block = document()->findBlockByNumber(line - 1);
        if (block.isValid())
            rehighlightBlock(block);
    }
}

void ScriptHighlighter::highlightBlock(const QString& text)
{
    fs::LineScanner scanner;
    scanner.setState(previousBlockState() < 0 ? 0 : previousBlockState());
    const std::string bytes = toCodePage(text);
    fs::ScannedLine l;
    scanner.scan(bytes, l);
    setCurrentBlockState(scanner.state());
    const int at = int(l.offset);
    const bool sameWidth = bytes.size() == std::size_t(text.size()); // positions agree
    if (sameWidth) {
        switch (l.kind) {
        case fs::LineKind::Command:
            setFormat(at + int(l.words[0].begin), int(l.words[0].end - l.words[0].begin), m_command);
            for (std::size_t i = 1; i < l.words.size(); ++i) {
                const QTextCharFormat* f = nullptr;
                switch (fs::argRole(l.verb->verb, i - 1)) {
                case fs::ArgRole::Address:
                case fs::ArgRole::Port:
                    f = &m_address;
                    break;
                case fs::ArgRole::Remote:
                    f = &m_remote;
                    break;
                case fs::ArgRole::Local:
                    f = &m_local;
                    break;
                case fs::ArgRole::Other:
                    break;
                }
                if (f)
                    setFormat(at + int(l.words[i].begin), int(l.words[i].end - l.words[i].begin), *f);
            }
            break;
        case fs::LineKind::Marker:
        case fs::LineKind::Disabled:
            setFormat(at, int(l.text.size()), m_marker);
            break;
        case fs::LineKind::Password:
            setFormat(at, int(l.text.size()), m_secret);
            break;
        default:
            break;
        }
    }
    const auto mark = m_marks.find(currentBlock().blockNumber() + 1);
    if (mark != m_marks.end())
        underline(sameWidth ? at : 0, sameWidth ? int(l.text.size()) : int(text.size()), mark->second);
}

// Keeps the colours and adds the wavy line under them.
void ScriptHighlighter::underline(int from, int length, fs::Severity severity)
{
    const QColor colour = severity == fs::Severity::Error ? QColor(0xd0, 0x00, 0x00) : QColor(0xc0, 0x80, 0x00);
    for (int i = from; i < from + length; ++i) {
        QTextCharFormat f = format(i);
        f.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        f.setUnderlineColor(colour);
        setFormat(i, 1, f);
    }
}

} // namespace zul::ui
