#include "ui/common/CodePage.h"

#include "platform/CodePage.h"

#include <QTextDocument>

namespace zul::ui {

QString fromCodePage(const std::string& bytes)
{
    return QString::fromStdString(platform::utf8FromCodePage(bytes));
}

std::string toCodePage(const QString& text)
{
    return platform::codePageFromUtf8(text.toStdString());
}

QString documentText(const QTextDocument& document)
{
    // toPlainText() would turn no-break spaces into blanks; only the block
    // separators become line ends here.
    QString text = document.toRawText();
    for (QChar& c : text) {
        switch (c.unicode()) {
        case 0xFDD0: // frame start and end
        case 0xFDD1:
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
            c = QLatin1Char('\n');
            break;
        default:
            break;
        }
    }
    return text;
}

QString toCrLf(const QString& boxText)
{
    QString out = boxText;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return out;
}

QString fromCrLf(const QString& scriptText)
{
    QString out = scriptText;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return out;
}

} // namespace zul::ui
