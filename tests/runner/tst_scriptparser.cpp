#include "runner/Script.h"

#include <QTest>

using namespace zul::runner;

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
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("blanks and tabs") << "get  a.txt\tb.txt" << QStringList{"get", "a.txt", "b.txt"};
        QTest::newRow("double quotes group and go")
            << "put \"my file.txt\" x" << QStringList{"put", "my file.txt", "x"};
        QTest::newRow("data set name keeps its quotes")
            << "get 'HLQ.DATA(MEM)' m.txt" << QStringList{"get", "'HLQ.DATA(MEM)'", "m.txt"};
        QTest::newRow("quoted blank inside a data set name") << "get 'A B' c" << QStringList{"get", "'A B'", "c"};
        QTest::newRow("unclosed quote runs to the end") << "put \"a b" << QStringList{"put", "a b"};
    }
    void words()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, words);
        QCOMPARE(toList(splitWords(line.toStdString())), words);
    }

    // Logins written in other ways and the masking of what they hold are run end to end by tst_runner and tst_hostile.
    void commands_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("args"); // of the last command
        QTest::newRow("any letter case, aliases")
            << QByteArray("OPEN host 2121\r\nUser bob pw1234\r\nRecv a b\r\n")
            << QStringList{"OPEN host 2121", "User bob ****", "Recv a b"} << QStringList{"a", "b"};
        QTest::newRow("password on the next line") << QByteArray("open h\r\nuser bob\r\n\r\npw1234\r\nbye\r\n")
                                                   << QStringList{"open h", "user bob ****", "bye"} << QStringList{};
        QTest::newRow("marker and disabled put")
            << QByteArray("  get x /a/Junction/E000101.txt  \r\n**E000101=&/in/x.txt&\r\n****put /e.txt e\r\n")
            << QStringList{"get x /a/Junction/E000101.txt", "**E000101=&/in/x.txt&", "****put /e.txt e"}
            << QStringList{"put /e.txt e"};
        QTest::newRow("quote keeps the rest of the line")
            << QByteArray("quote SITE  LRECL=80  RECFM=FB\r\n") << QStringList{"quote SITE  LRECL=80  RECFM=FB"}
            << QStringList{"SITE  LRECL=80  RECFM=FB"};
        QTest::newRow("lf line ends and blank lines")
            << QByteArray("\n\nhash\nprompt off\n") << QStringList{"hash", "prompt off"} << QStringList{"off"};
    }
    void commands()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, args);
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
