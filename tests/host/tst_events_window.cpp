#include "host/EventsWindow.h"
#include "host/Host.h"

#include "support/Files.h"
#include "support/Gui.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace zul::host;
using zul::test::child;

namespace {

// Saves a picture of the widget when ZUL_SCREENSHOT_DIR is set.
void screenshot(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("ZUL_SCREENSHOT_DIR");
    const QPixmap shot = w->grab();
    QVERIFY(!shot.isNull());
    if (!dir.isEmpty())
        QVERIFY(shot.save(QDir(dir).filePath(name)));
}

} // namespace

// The host's events window with the real plug-in loaded from its file: the
// grid, and an event added through the editor and the host's own panel.
class EventsWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Host> m_host;

private slots:
    void initTestCase()
    {
        QDir d(m_dir.path());
        QVERIFY(d.mkpath("app/ZUL") && d.mkpath("app/Junction") && d.mkpath("app/Log"));
        QVERIFY(zul::test::installBuilt("libzul.so", d.filePath("app")));
        m_host = std::make_unique<Host>(d.filePath("data"), std::make_shared<HeadlessPresenter>(false));
        QString error;
        QVERIFY2(m_host->openStore(&error), qPrintable(error));
        QVERIFY2(m_host->loadPlugin(d.filePath("app/libzul.so"), &error), qPrintable(error));

        EventRecord r;
        r.id = "E0001";
        r.entity = "PAYROLL";
        r.runDay = 1;
        r.flag2 = "1";
        QVERIFY(m_host->store().put(r));
        QFile runs(d.filePath("app/Log/runs.jsonl"));
        QVERIFY(runs.open(QIODevice::WriteOnly));
        runs.write(R"({"event":"E0001","start":"2026-12-04T02:00:00","end":"2026-12-04T02:00:03","exit":0})"
                   "\n"
                   R"({"event":"E0009","start":"2026-12-04T02:00:00","end":"2026-12-04T02:00:03","exit":3})"
                   "\n");
    }

    void cleanup() { QVERIFY(zul::test::noWindowLeftOpen()); }

    void gridShowsEventsAndLastRun()
    {
        EventsWindow window(*m_host);
        window.show();
        QTableWidget* grid = window.grid();
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->item(0, 0)->text(), QString("E0001"));
        QCOMPARE(grid->item(0, 4)->text(), QString("RZ"));
        QVERIFY2(grid->item(0, 5)->text().endsWith("ok"), qPrintable(grid->item(0, 5)->text()));
        screenshot(&window, "events-window.png");
        window.close();
    }

    // A run sets the mouse pointer back to its default once the runner is
    // started, whatever shapes were set before it.
    void runSetsThePointerBack()
    {
        QDir d(m_dir.path());
        QVERIFY(zul::test::installBuilt("libping32.so", d.filePath("app")));
        QVERIFY(zul::test::installRecordingRunner(d.filePath("app")));
        QFile script(d.filePath("app/ZUL/E0001ZUL.zul"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("open 127.0.0.1\r\nuser a b\r\nquit\r\n");
        script.close();
        EventsWindow window(*m_host);
        window.show();
        window.grid()->selectRow(0);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QTest::mouseClick(window.findChild<QPushButton*>("cmdRun"), Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(d.filePath("app/runner-args.txt")));
        QVERIFY(!QApplication::overrideCursor());
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        window.close();
    }

    void addThroughEditorAndHostPanel()
    {
        EventsWindow window(*m_host);
        window.show();
        bool editorCleared = false;
        const auto editor = zul::test::modal("frmZULINF", [&](QWidget* editor) {
            QVERIFY(editor->windowTitle().endsWith(" - Add Script "));
            child<QPlainTextEdit>(editor, "txtZUL")->setPlainText("open 127.0.0.1\nuser ops\nget in.txt /tmp/in.txt");
            screenshot(editor, "editor.png");
            QTest::mouseClick(child<QPushButton>(editor, "cmdAdd"), Qt::LeftButton);
            // Saved: the editor stays open and empty for the next script.
            editorCleared = child<QPlainTextEdit>(editor, "txtZUL")->toPlainText().isEmpty() && editor->isVisible();
            QTest::mouseClick(child<QPushButton>(editor, "cmdCancel"), Qt::LeftButton);
        });
        const auto panel = zul::test::modal("frmEventPanel", [](QWidget* panel) {
            child<QLineEdit>(panel, "txtEntity")->setText("INVOICES");
            child<QCheckBox>(panel, "chkFlag4")->setChecked(true);
            QTest::mouseClick(child<QPushButton>(panel, "cmdContinue"), Qt::LeftButton);
        });
        QVERIFY(zul::test::whenModal(
            {editor, panel}, [&] { QTest::mouseClick(window.findChild<QPushButton*>("cmdAdd"), Qt::LeftButton); }));

        QVERIFY(editorCleared);
        const auto saved = m_host->store().find("E0002");
        QVERIFY(saved);
        QCOMPARE(saved->entity, QString("INVOICES"));
        QCOMPARE(saved->flag4, QString("1"));
        QCOMPARE(saved->type, QString("ZUL"));
        QVERIFY(QFile::exists(m_dir.filePath("app/ZUL/E0002ZUL.zul")));
        QVERIFY(!QFile::exists(m_dir.filePath("app/ZUL/ZULTMP.zul")));
        QCOMPARE(window.grid()->rowCount(), 2); // refreshed on the plug-in's word
        window.close();
    }
};

QTEST_MAIN(EventsWindowTest)
#include "tst_events_window.moc"
