#include "com/ModuleState.h"
#include "support/Fakes.h"
#include "ui/editor/ScriptCheck.h"

#include <QTest>
#include <tuple>

using namespace zul;

namespace {
// A text box in memory that counts its writes.
class MemoryBox : public ui::ScriptBox {
public:
    QString value;
    int writes = 0;
    bool canFocus = true;
    int focused = 0;
    QString text() const override { return value; }
    void setText(const QString& t) override
    {
        value = t;
        ++writes;
    }
    void focus() override
    {
        if (!canFocus)
            throw com::ComError(5, "Invalid procedure call or argument");
        ++focused;
    }
};
} // namespace

using MendRow = std::tuple<QString, QString, int>;
using RefusalRow = std::tuple<QString, bool, bool, QStringList>;

class ScriptCheckTest : public QObject {
    Q_OBJECT
    std::shared_ptr<test::RecordingMessages> m_messages;

private slots:
    void init()
    {
        com::resetModuleState();
        m_messages = std::make_shared<test::RecordingMessages>();
        com::moduleState().oMsgService = m_messages;
    }
    void cleanup() { com::resetModuleState(); }

    void mends_data()
    {
        QTest::addColumn<MendRow>("row");
        QTest::newRow("both words, nothing to do") << MendRow{"open h\r\nquit", "open h\r\nquit", 0};
        QTest::newRow("leading blanks kept when nothing else changes")
            << MendRow{"   open h\r\nquit", "   open h\r\nquit", 0};
        QTest::newRow("line breaks only") << MendRow{"\r\n\r\n", "open \r\n\r\n\r\nquit", 2};
        QTest::newRow("three lines, no words")
            << MendRow{"10.1.1.1\r\ncd /out\r\nput a.txt", "open 10.1.1.1\r\ncd /out\r\nput a.txt\r\nquit", 2};
        QTest::newRow("capitals count") << MendRow{"OPEN h\r\nQUIT", "OPEN h\r\nQUIT", 0};
        QTest::newRow("words inside other words")
            << MendRow{"reopen h\r\nget quits.txt", "reopen h\r\nget quits.txt", 0};
        QTest::newRow("only quit missing") << MendRow{"open h\r\nput a", "open h\r\nput a\r\nquit", 1};
        QTest::newRow("two then five blanks")
            << MendRow{"open h\r\nput  a     b\r\nquit", "open h\r\nput a b\r\nquit", 2};
        QTest::newRow("blank run of three") << MendRow{"open   h\r\nquit", "open h\r\nquit", 1};
        QTest::newRow("two blanks before a line break keep one") << MendRow{"open h  \r\nquit", "open h \r\nquit", 1};
        QTest::newRow("leading blanks go when a run is collapsed")
            << MendRow{"  open h\r\nput a  b\r\nquit", "open h\r\nput a b\r\nquit", 1};
        QTest::newRow("blanks at both ends of a line")
            << MendRow{"open h\r\n  cd x\r\nquit", "open h\r\n cd x\r\nquit", 1};
        QTest::newRow("tabs are not blanks") << MendRow{"open\t\th\r\nquit", "open\t\th\r\nquit", 0};
        QTest::newRow("first line becomes the open argument")
            << MendRow{"  partner  \r\nquit", "open partner \r\nquit", 2};
    }
    void mends()
    {
        QFETCH(MendRow, row);
        auto [in, out, writes] = row;
        MemoryBox box;
        box.value = in;
        QCOMPARE(ui::CheckScript(box), true);
        QCOMPARE(box.value, out);
        QCOMPARE(box.writes, writes);
        QVERIFY(m_messages->calls.empty());
    }

    // An empty script is refused with the focus in the box; a box that cannot
    // take the focus, or a text too long to count, is reported and passes.
    void refusals_data()
    {
        QTest::addColumn<RefusalRow>("row");
        const QString empty = test::describe({false, com::msg(3033), "D"});
        QTest::newRow("empty") << RefusalRow{"", true, false, QStringList{empty}};
        QTest::newRow("blanks only") << RefusalRow{"     ", true, false, QStringList{empty}};
        QTest::newRow("empty in a disabled box") << RefusalRow{
            "", false, true, QStringList{empty, "bool:False, text:\"Invalid procedure call or argument\", text:\"D\""}};
        QTest::newRow("counter overflow") << RefusalRow{QString(40000, QLatin1Char('x')) + "  y", true, true,
                                                        QStringList{"bool:False, text:\"Overflow\", text:\"D\""}};
    }
    void refusals()
    {
        QFETCH(RefusalRow, row);
        auto [in, canFocus, passes, said] = row;
        MemoryBox box;
        box.value = in;
        box.canFocus = canFocus;
        QCOMPARE(ui::CheckScript(box), passes);
        QCOMPARE(test::describeAll(m_messages->calls), said);
        QCOMPARE(box.writes, 0);
        if (!passes)
            QCOMPARE(box.focused, 1);
    }
};

QTEST_GUILESS_MAIN(ScriptCheckTest)
#include "tst_script_check.moc"
