#include "runner/Script.h"
#include "support/Rows.h"

#include <QTest>

using namespace zul::runner;
using zul::test::columns;
using zul::test::fetch;

namespace {
QStringList toList(const std::vector<std::string>& v)
{
    QStringList l;
    for (const auto& s : v)
        l << QString::fromStdString(s);
    return l;
}
} // namespace

class ScriptParserTest : public QObject {
    Q_OBJECT

private slots:
    void words_data()
    {
        const auto row = columns<QString, QStringList>("line", "words");
        row("blanks and tabs", "get  a.txt\tb.txt", {"get", "a.txt", "b.txt"});
        row("double quotes group and go", "put \"my file.txt\" x", {"put", "my file.txt", "x"});
        row("data set name keeps its quotes", "get 'HLQ.DATA(MEM)' m.txt", {"get", "'HLQ.DATA(MEM)'", "m.txt"});
        row("quoted blank inside a data set name", "get 'A B' c", {"get", "'A B'", "c"});
        row("unclosed quote runs to the end", "put \"a b", {"put", "a b"});
    }
    void words()
    {
        const auto [line, words] = fetch<QString, QStringList>("line", "words");
        QCOMPARE(toList(splitWords(line.toStdString())), words);
    }

    // Logins written in other ways and the masking of what they hold are run end to end by tst_runner and tst_hostile.
    void commands_data()
    {
        const auto row = columns<QByteArray, QStringList, QStringList>("script", "shown", "args"); // args: the last's
        row("any letter case, aliases", "OPEN host 2121\r\nUser bob pw1234\r\nRecv a b\r\n",
            {"OPEN host 2121", "User bob ****", "Recv a b"}, {"a", "b"});
        row("password on the next line", "open h\r\nuser bob\r\n\r\npw1234\r\nbye\r\n",
            {"open h", "user bob ****", "bye"}, {});
        row("marker and disabled put",
            "  get x /a/Junction/E000101.txt  \r\n**E000101=&/in/x.txt&\r\n****put /e.txt e\r\n",
            {"get x /a/Junction/E000101.txt", "**E000101=&/in/x.txt&", "****put /e.txt e"}, {"put /e.txt e"});
        row("quote keeps the rest of the line", "quote SITE  LRECL=80  RECFM=FB\r\n",
            {"quote SITE  LRECL=80  RECFM=FB"}, {"SITE  LRECL=80  RECFM=FB"});
        row("lf line ends and blank lines", "\n\nhash\nprompt off\n", {"hash", "prompt off"}, {"off"});
    }
    void commands()
    {
        const auto [script, shown, args] = fetch<QByteArray, QStringList, QStringList>("script", "shown", "args");
        const auto r = parseScript(script.toStdString());
        QVERIFY(std::holds_alternative<std::vector<Command>>(r));
        const auto& cmds = std::get<std::vector<Command>>(r);
        QStringList got;
        for (const auto& c : cmds)
            got << QString::fromStdString(c.shown);
        QCOMPARE(got, shown);
        QCOMPARE(toList(cmds.back().args), args);
    }

    void marker()
    {
        const auto r = parseScript("get a /j/E000102.txt\r\n**E000102=&/in/a b.txt&\r\n");
        const auto& cmds = std::get<std::vector<Command>>(r);
        QCOMPARE(cmds[1].verb, Verb::Marker);
        QCOMPARE(cmds[1].key, std::string("E000102"));
        QCOMPARE(cmds[1].target, std::string("/in/a b.txt"));
        QCOMPARE(cmds[1].line, 2);
    }
};

QTEST_GUILESS_MAIN(ScriptParserTest)
#include "tst_scriptparser.moc"
