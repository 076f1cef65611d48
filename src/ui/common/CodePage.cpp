#include "ui/common/CodePage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace zul::ui {

QString fromCodePage(const std::string& bytes)
{
    QStringDecoder decode("Windows-1252");
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return decode.isValid() ? QString(decode(view)) : QString::fromLatin1(view);
}

std::string toCodePage(const QString& text)
{
    QStringEncoder encode("Windows-1252", QStringConverter::Flag::Default);
    if (!encode.isValid())
        return text.toLatin1().toStdString();
    const QByteArray bytes = encode(text);
    return bytes.toStdString();
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
