#include "ui/editor/ScriptCheck.h"

#include "com/ModuleState.h"

namespace zul::ui {

ScriptBox::~ScriptBox() = default;

QString trimBlanks(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b] == QLatin1Char(' '))
        ++b;
    while (e > b && s[e - 1] == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

namespace {

// The counter is a 16-bit integer; passing its range is an overflow.
std::int16_t counterOf(qsizetype n)
{
    if (n > 32767 || n < -32768)
        throw com::ComError(6, "Overflow");
    return static_cast<std::int16_t>(n);
}

} // namespace

bool CheckScript(ScriptBox& box)
{
    bool result = true;
    try {
        if (trimBlanks(box.text()).isEmpty()) {
            com::use(com::moduleState().oMsgService).HandleMessages({false, com::msg(3033), "D"});
            box.focus();
            result = false;
            return result;
        }

        std::int16_t counter = counterOf(trimBlanks(box.text()).size());
        const QString pair = QStringLiteral("  ");
        for (QString t = trimBlanks(box.text()); t.contains(pair); t = trimBlanks(box.text())) {
            counter = counterOf(counter - 1);
            const qsizetype p = t.indexOf(pair) + 1; // 1-based
            const QString left = trimBlanks(t.left(p));
            const qsizetype len = counter - p;
            if (len < 0)
                throw com::ComError(5, "Invalid procedure call or argument");
            const QString right = trimBlanks(t.mid(p + 1, len));
            box.setText(left + QLatin1Char(' ') + right);
            counter = counterOf(trimBlanks(box.text()).size());
        }

        if (!box.text().contains(QLatin1String("open"), Qt::CaseInsensitive))
            box.setText(QStringLiteral("open ") + trimBlanks(box.text()));
        if (!box.text().contains(QLatin1String("quit"), Qt::CaseInsensitive))
            box.setText(trimBlanks(box.text()) + QStringLiteral("\r\nquit"));
    } catch (const std::exception& e) {
        if (auto svc = com::moduleState().oMsgService) {
            try {
                svc->HandleMessages({false, std::string(e.what()), "D"});
            } catch (...) {
            }
        }
    }
    return result;
}

} // namespace zul::ui
