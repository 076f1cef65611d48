#include "com/ModuleState.h"
#include "com/Registry.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Gui.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"
#include "ui/editor/ScriptCheck.h"
#include "ui/editor/ScriptLintView.h"
#include "ui/editor/frmZULINF.h"

#include <QDir>
#include <QHelpEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>

using namespace zul;
using test::child;
using test::columns;
using test::fetch;

namespace {

// The underline colours of the characters of a line, as drawn.
QList<QTextLayout::FormatRange> wavy(const QPlainTextEdit* box, int line)
{
    QList<QTextLayout::FormatRange> out;
    const QTextBlock block = box->document()->findBlockByNumber(line - 1);
    for (const auto& r : block.layout()->formats())
        if (r.format.underlineStyle() == QTextCharFormat::WaveUnderline)
            out << r;
    return out;
}

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

// The editor's script check, and its lint as the user meets it: typing into the real panel, offscreen.
class ScriptLintViewTest : public QObject {
    Q_OBJECT
    test::CoreFixture m_core;

    frmZULINF& shownForm()
    {
        frmZULINF& f = frmZULINF::instance();
        f.show();
        return f;
    }

private slots:
    void init() { m_core.setUp(); }
    void cleanup()
    {
        frmZULINF::unloadInstance();
        QVERIFY(test::noWindowLeftOpen());
        m_core.tearDown();
    }

    void typedMistakeIsUnderlinedAfterAPause()
    {
        frmZULINF& f = shownForm();
        auto* box = child<QPlainTextEdit>(&f, "txtZUL");
        auto* status = child<QLabel>(&f, "lblLint");
        QCOMPARE(status->text(), QString("No problems"));
        box->setFocus();
        QTest::keyClicks(box, "open 127.0.0.1\ruser ops pw\rgett in.txt\rget\rquit"); // \r: the Return key
        // Typing is never changed, and the lint waits for the pause.
        QCOMPARE(box->toPlainText(), QString("open 127.0.0.1\nuser ops pw\ngett in.txt\nget\nquit"));
        QCOMPARE(status->text(), QString("No problems"));
        QTRY_COMPARE(status->text(), QString("2 problems: line 3: unknown command 'gett'"));

        for (int line : {3, 4}) {
            const auto marks = wavy(box, line);
            QCOMPARE(marks.size(), 1);
            QCOMPARE(marks[0].start, 0);
            QCOMPARE(marks[0].length, box->document()->findBlockByNumber(line - 1).length() - 1);
        }
        for (int line : {1, 2, 5})
            QVERIFY(wavy(box, line).isEmpty());

        // The tooltip over the line tells the problem.
        const QRect r = box->cursorRect(QTextCursor(box->document()->findBlockByNumber(2)));
        QHelpEvent help(QEvent::ToolTip, r.center(), box->viewport()->mapToGlobal(r.center()));
        QCoreApplication::sendEvent(box->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), QString("error: unknown command 'gett'"));
        QToolTip::hideText();

        // Mending the line takes the underline away once typing pauses again.
        QTextCursor c(box->document()->findBlockByNumber(2));
        c.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor, 4);
        c.insertText("get");
        QTRY_COMPARE(status->text(), QString("1 problem: line 4: wrong number of arguments for 'get' (1 or 2 "
                                             "expected, 0 given)"));
        QVERIFY(wavy(box, 3).isEmpty());
        QCOMPARE(wavy(box, 4).size(), 1);

        const QString shots = qEnvironmentVariable("ZUL_SCREENSHOT_DIR");
        if (!shots.isEmpty()) {
            box->setPlainText("open sftp://192.0.2.40\nuser ftpuser password\ncd /home/ftpuser/outgoing\nascii\n"
                              "gett report.txt /srv/zul/in/report.txt\nget backup.tar.gz /srv/zul/Junction/E000101.gz\n"
                              "**E000101=&/srv/zul/in/backup.tar.gz&\nquit");
            QTRY_COMPARE(status->text(), QString("1 problem, 1 warning: line 5: unknown command 'gett'"));
            QVERIFY(f.grab().save(QDir(shots).filePath("editor-lint.png")));
        }
    }

    // A login's password line is no command; an earlier line holding "open" is a finding of the partner check.
    void lineMeaningFollowsEarlierLines()
    {
        frmZULINF& f = shownForm();
        auto* box = child<QPlainTextEdit>(&f, "txtZUL");
        auto* status = child<QLabel>(&f, "lblLint");
        f.setScriptText("open h\r\nuser ops\r\ngett\r\nls\r\n");
        QTRY_COMPARE(status->text(), QString("No problems"));
        const QTextBlock password = box->document()->findBlockByNumber(2);
        QVERIFY(!password.layout()->formats().isEmpty());
        QVERIFY(password.layout()->formats()[0].format.fontWeight() != QFont::Bold);
        QCOMPARE(box->document()->findBlockByNumber(3).layout()->formats()[0].format.fontWeight(), int(QFont::Bold));

        f.setScriptText("lcd /data/reopen\r\nopen 10.1.1.5\r\nuser ops pw\r\nquit\r\n");
        QTRY_VERIFY2(status->text().startsWith("1 warning: line 1: the partner check before a run will read"),
                     qPrintable(status->text()));
        QVERIFY(!wavy(box, 1).isEmpty() && wavy(box, 2).isEmpty());
    }

    // In a long script the lint runs once a pause, never per key stroke nor for its own redrawing.
    void longScriptLintsOncePerPause()
    {
        frmZULINF& f = shownForm();
        auto* box = child<QPlainTextEdit>(&f, "txtZUL");
        auto* view = child<ui::ScriptLintView>(&f, "lintView");
        QString script = "open h\nuser a b\n";
        for (int i = 0; i < 30000; ++i)
            script += QStringLiteral("get f%1.txt /in/f%1.txt\n").arg(i);
        box->setPlainText(script + "quit");
        QTRY_VERIFY(view->lintRuns() > 0 && view->diagnostics().empty());
        const int runs = view->lintRuns();
        QTextCursor c(box->document()->findBlockByNumber(15000));
        c.movePosition(QTextCursor::EndOfBlock);
        box->setTextCursor(c);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClicks(box, "gett x");
        QCOMPARE(view->lintRuns(), runs);
        QTRY_COMPARE(child<QLabel>(&f, "lblLint")->text(), QString("1 problem: line 15002: unknown command 'gett'"));
        QCOMPARE(wavy(box, 15002).size(), 1);
        QTest::qWait(2 * ui::ScriptLintView::PauseMs);
        QCOMPARE(view->lintRuns(), runs + 1);
    }

    // The aids sit beside the controls of the panel without changing them.
    void controlsStayAsTheyWere()
    {
        frmZULINF& f = shownForm();
        auto* box = child<QPlainTextEdit>(&f, "txtZUL");
        QVERIFY(box->viewport()->x() >= child<QWidget>(&f, "lintGutter")->width());
        // A long finding does not widen the panel.
        const int width = f.width();
        f.setScriptText("open h\r\nuser a b\r\nput /no/such/" + std::string(400, 'x') + "\r\n");
        QTRY_VERIFY(child<QLabel>(&f, "lblLint")->text().startsWith("1 warning"));
        QCOMPARE(f.width(), width);
    }

    void mends_data()
    {
        const auto row = columns<QString, QString, int>();
        row("both words, nothing to do", "open h\r\nquit", "open h\r\nquit", 0);
        row("leading blanks kept when nothing else changes", "   open h\r\nquit", "   open h\r\nquit", 0);
        row("line breaks only", "\r\n\r\n", "open \r\n\r\n\r\nquit", 2);
        row("three lines, no words", "10.1.1.1\r\ncd /out\r\nput a.txt",
            "open 10.1.1.1\r\ncd /out\r\nput a.txt\r\nquit", 2);
        row("capitals count", "OPEN h\r\nQUIT", "OPEN h\r\nQUIT", 0);
        row("words inside other words", "reopen h\r\nget quits.txt", "reopen h\r\nget quits.txt", 0);
        row("only quit missing", "open h\r\nput a", "open h\r\nput a\r\nquit", 1);
        row("two then five blanks", "open h\r\nput  a     b\r\nquit", "open h\r\nput a b\r\nquit", 2);
        row("blank run of three", "open   h\r\nquit", "open h\r\nquit", 1);
        row("two blanks before a line break keep one", "open h  \r\nquit", "open h \r\nquit", 1);
        row("leading blanks go when a run is collapsed", "  open h\r\nput a  b\r\nquit", "open h\r\nput a b\r\nquit",
            1);
        row("blanks at both ends of a line", "open h\r\n  cd x\r\nquit", "open h\r\n cd x\r\nquit", 1);
        row("tabs are not blanks", "open\t\th\r\nquit", "open\t\th\r\nquit", 0);
        row("first line becomes the open argument", "  partner  \r\nquit", "open partner \r\nquit", 2);
    }
    void mends()
    {
        const auto [in, out, writes] = fetch<QString, QString, int>();
        MemoryBox box;
        box.value = in;
        QCOMPARE(ui::CheckScript(box), true);
        QCOMPARE(box.value, out);
        QCOMPARE(box.writes, writes);
        QVERIFY(m_core.fakes->messages->calls.empty());
    }

    // An empty script is refused; a box that cannot take the focus, or a text too long to count, is reported.
    void refusals_data()
    {
        const auto row = columns<QString, bool, bool, QStringList>();
        const QString empty = test::describe({false, com::msg(3033), "D"});
        row("empty", "", true, false, {empty});
        row("blanks only", "     ", true, false, {empty});
        row("empty in a disabled box", "", false, true,
            {empty, "bool:False, text:\"Invalid procedure call or argument\", text:\"D\""});
        row("counter overflow", QString(40000, QLatin1Char('x')) + "  y", true, true,
            {"bool:False, text:\"Overflow\", text:\"D\""});
    }
    void refusals()
    {
        const auto [in, canFocus, passes, said] = fetch<QString, bool, bool, QStringList>();
        MemoryBox box;
        box.value = in;
        box.canFocus = canFocus;
        QCOMPARE(ui::CheckScript(box), passes);
        QCOMPARE(test::describeAll(m_core.fakes->messages->calls), said);
        QCOMPARE(box.writes, 0);
        if (!passes)
            QCOMPARE(box.focused, 1);
    }
};

QTEST_MAIN(ScriptLintViewTest)
#include "tst_script_lint_view.moc"
