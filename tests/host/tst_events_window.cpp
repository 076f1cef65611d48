#include "host/EventPanel.h"
#include "host/EventsWindow.h"
#include "host/GuiPresenter.h"
#include "host/HistoryModel.h"
#include "host/Host.h"
#include "host/TranscriptViewer.h"

#include "com/HostComponents.h"
#include "com/Registry.h"
#include "records/RunStatus.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Gui.h"
#include "support/Records.h"
#include "support/Rows.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace zul::host;
using zul::history::Run;
using zul::test::child;
using zul::test::columns;
using zul::test::fetch;
using zul::test::readBytes;

namespace {

void screenshot(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("ZUL_SCREENSHOT_DIR");
    const QPixmap shot = w->grab();
    QVERIFY(!shot.isNull());
    if (!dir.isEmpty())
        QVERIFY(shot.save(QDir(dir).filePath(name)));
}

void append(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::Append));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray record(const char* start, const char* end, int exit, const char* outcome, const QString& transcript,
                  int bytesDown = 48213)
{
    zul::runner::RunRecord r;
    r.event = "E0001", r.start = start, r.end = end, r.exitStatus = exit, r.outcome = outcome;
    r.filesUp = 1, r.bytesUp = 5120, r.filesDown = 2, r.bytesDown = bytesDown;
    r.transcript = transcript.toStdString();
    return zul::test::runRecordLine(r);
}

// A record with a start and nothing else: its runner died unseen.
QByteArray unfinished(const char* start)
{
    zul::runner::RunRecord r;
    r.event = "E0001", r.start = start;
    namespace field = zul::records::runfield;
    return zul::test::runRecordLineWithout(r, {field::kExit, field::kOutcome, field::kFilesUp, field::kBytesUp,
                                               field::kFilesDown, field::kBytesDown, field::kTranscript});
}

QWidget* openViewer()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("frmTranscript") && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

// The host's events window with the real plug-in loaded from its file.
class EventsWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Host> m_host;

    static QString cell(QTableView* v, int row, int column) { return v->model()->index(row, column).data().toString(); }
    static QColor background(QTableView* view, int row, int column)
    {
        return view->model()->index(row, column).data(Qt::BackgroundRole).value<QColor>();
    }

private slots:
    void initTestCase()
    {
        QDir d(m_dir.path());
        QVERIFY(d.mkpath("app/ZUL") && d.mkpath("app/Junction") && d.mkpath("app/Log"));
        QVERIFY(zul::test::installBuilt("libzul.so", d.filePath("app")) &&
                zul::test::installBuilt("libzul_forms.so", d.filePath("app")));
        m_host = std::make_unique<Host>(d.filePath("data").toStdString(), std::make_shared<HeadlessPresenter>(false));
        m_host->setPanelMaker([](EventStore& store) { return std::make_shared<EventPanel>(store); });
        m_host->setHooks(zul::host::guiHooks());
        std::string error;
        QVERIFY2(m_host->openStore(&error), error.c_str());
        QVERIFY2(m_host->loadPlugin(d.filePath("app/libzul.so").toStdString(), &error), error.c_str());

        EventRecord r;
        r.id = "E0001", r.entity = "PAYROLL", r.runDay = 1, r.flag2 = "1";
        QVERIFY(m_host->store().put(r));
        QVERIFY(zul::test::writeBytes(
            d.filePath("app/Log/runs.jsonl"),
            zul::test::runRecordLine("E0001", "2026-12-04T02:00:00", "2026-12-04T02:00:03", 0, "success") +
                zul::test::runRecordLine("E0009", "2026-12-04T02:00:00", "2026-12-04T02:00:03", 3,
                                         "login refused: 530 Login incorrect.")));
    }

    void cleanup() { QVERIFY(zul::test::noWindowLeftOpen()); }

    // Once the runner is started, the pointer is back to its default, whatever was set before.
    void runSetsThePointerBack()
    {
        const QString app = m_dir.filePath("app");
        QVERIFY(zul::test::installBuilt("libping32.so", app) && zul::test::installRecordingRunner(app));
        QVERIFY(zul::test::writeBytes(app + "/ZUL/E0001ZUL.zul", "open 127.0.0.1\r\nuser a b\r\nquit\r\n"));
        EventsWindow window(*m_host);
        window.show();
        window.grid()->selectRow(0);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QTest::mouseClick(window.findChild<QPushButton*>("cmdRun"), Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(app + "/runner-args.txt"));
        QVERIFY(!QApplication::overrideCursor());
    }

    void addThroughEditorAndHostPanel()
    {
        EventsWindow window(*m_host);
        window.show();
        bool editorCleared = false;
        const auto editor = zul::test::modal("frmZULINF", [&](QWidget* editor) {
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
        QVERIFY(saved && saved->entity == "INVOICES" && saved->flag4 == "1" && saved->type == "ZUL");
        QVERIFY(QFile::exists(m_dir.filePath("app/ZUL/E0002ZUL.zul")));
        QVERIFY(!QFile::exists(m_dir.filePath("app/ZUL/ZULTMP.zul")));
        QCOMPARE(window.grid()->model()->rowCount(), 2); // refreshed on the plug-in's word
    }

    void filterBox_data()
    {
        const auto row = columns<QString, QStringList>();
        row("nothing", "", {"E0001", "E0002"});
        row("an entity, any case", "invoices", {"E0002"});
        row("an option", "RC", {"E0002"});
        row("the last run", " ok", {"E0001"});
        row("no match", "payroll2", {});
    }
    void filterBox()
    {
        const auto [typed, shown] = fetch<QString, QStringList>();
        EventsWindow window(*m_host);
        window.show();
        QTest::keyClicks(child<QLineEdit>(window, "txtFilter"), typed);
        QStringList ids;
        for (int row = 0; row < window.grid()->model()->rowCount(); ++row)
            ids << cell(window.grid(), row, 0);
        QCOMPARE(ids, shown);
    }

    // The selected event's runs, newest first and coloured, following runs.jsonl across a rotation.
    void historyPaneFollowsTheRuns()
    {
        const QString log = m_dir.filePath("app/Log");
        append(log + "/runs.jsonl",
               record("2026-12-04T03:00:00.120+0000", "2026-12-04T03:00:02.870+0000", 3,
                      "login refused: 530 Login incorrect.", log + "/E0001_20261204-030000_2211.log") +
                   unfinished("2026-12-04T04:00:00.000+0000") +
                   record("2026-12-04T05:00:00.250+0000", "2026-12-04T05:01:12.900+0000", 0, "success",
                          log + "/E0001_20261204-050000_2301.log", 1843200) +
                   record("2026-12-04T05:30:00.000+0000", "2026-12-04T05:30:04.000+0000", 0, "success",
                          log + "/E0002_20261204-053000_2302.log")
                       .replace("E0001", "E0002"));
        QVERIFY(zul::test::writeBytes(log + "/E0001_20261204-050000_2301.log",
                                      "05:00:00.311 > PASS ****\n05:00:00.330 < 230 Logged in.\n"));
        // The host's own log line for a partner that did not answer, as its message service writes it.
        QVERIFY(zul::test::appendHostMessage(QString::fromStdString(m_host->messageLogPath()),
                                             zul::test::partnerSilentMessage("E0001"),
                                             QDateTime(QDate(2026, 12, 4), QTime(6, 0), Qt::UTC)));

        EventsWindow window(*m_host);
        window.resize(1000, 620);
        window.show();
        window.grid()->selectRow(0);
        HistoryModel* model = window.historyModel();
        QAbstractItemModelTester historyTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester gridTester(window.grid()->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model->rowCount(), 5);
        QTableView* history = window.history();
        QCOMPARE(cell(history, 0, HistoryModel::Outcome), QString("partner did not answer: 192.0.2.7"));
        QCOMPARE(cell(history, 1, HistoryModel::Duration), QString("1 min 12 s"));
        QCOMPARE(cell(history, 1, HistoryModel::Received), QString("2 files, 1.8 MB"));
        QCOMPARE(cell(history, 2, HistoryModel::Outcome), QString("unfinished"));
        QCOMPARE(cell(history, 3, HistoryModel::Exit), QString("3"));
        const QList<Run::Result> colours = {Run::Result::NotStarted, Run::Result::Success, Run::Result::Unfinished,
                                            Run::Result::Failed, Run::Result::Success};
        for (int row = 0; row < colours.size(); ++row)
            QCOMPARE(background(history, row, HistoryModel::Start), resultColour(colours[row]));
        QVERIFY(cell(window.grid(), 0, 5).contains("not started"));
        history->selectRow(1);

        // A runner finishes: its record shows at the top, the selection stays on its run.
        append(log + "/runs.jsonl", record("2026-12-05T02:00:00.000+0000", "2026-12-05T02:00:09.000+0000", 4,
                                           "remote file or permission error: 550 payroll.dat: No such file",
                                           log + "/E0001_20261205-020000_2399.log"));
        QTRY_COMPARE(model->rowCount(), 6);
        QCOMPARE(cell(history, 0, HistoryModel::Exit), QString("4"));
        QCOMPARE(history->selectionModel()->selectedRows().value(0).row(), 2);
        QTRY_VERIFY(cell(window.grid(), 0, 5).contains("failed: remote file"));
        QCOMPARE(background(window.grid(), 0, 5), resultColour(Run::Result::Failed));
        screenshot(&window, "events-window.png");

        // Rotated away and started anew: both files are read, the new one watched.
        QVERIFY(QFile::rename(log + "/runs.jsonl", log + "/runs.jsonl.1"));
        append(log + "/runs.jsonl", record("2026-12-05T03:00:00.000+0000", "2026-12-05T03:00:01.000+0000", 0, "success",
                                           log + "/E0001_20261205-030000_2400.log"));
        QTRY_COMPARE(model->rowCount(), 7);
        QTRY_VERIFY(cell(window.grid(), 0, 5).endsWith(" ok"));
        QCOMPARE(background(window.grid(), 0, 5), resultColour(Run::Result::Success));
        QVERIFY(cell(window.grid(), 0, 4) == "RZ" && !background(window.grid(), 0, 4).isValid());
        append(log + "/runs.jsonl", record("2026-12-05T04:00:00.000+0000", "2026-12-05T04:00:01.000+0000", 0, "success",
                                           log + "/E0001_20261205-040000_2401.log"));
        QTRY_COMPARE(model->rowCount(), 8);

        // Another host process finds the partner silent: its log line shows too.
        QByteArray silent;
        for (const QByteArray& line : readBytes(QString::fromStdString(m_host->messageLogPath())).split('\n'))
            if (line.contains("\"numbers\":[4107"))
                silent = line + '\n';
        silent.replace("2026-12-04T06:00:00Z", "2026-12-05T05:00:00Z");
        append(QString::fromStdString(m_host->messageLogPath()), silent);
        QTRY_COMPARE(model->rowCount(), 9);
        QCOMPARE(cell(history, 0, HistoryModel::Start), QString("2026-12-05 05:00:00"));
        QTRY_VERIFY(cell(window.grid(), 0, 5).contains("not started: partner did not answer"));
    }

    // A status beside a held lock (held here, by no runner): progress, and a Cancel that asks and signals no stranger.
    void runningRowShowsProgressAndCancel()
    {
        const QString lockDir = m_dir.filePath("app/Lock");
        QVERIFY(QDir().mkpath(lockDir));
        const QString stem = lockDir + QStringLiteral("/run-%1").arg(::getpid());
        const int lock = ::open(QFile::encodeName(stem + ".lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0);
        auto unlock = qScopeGuard([&] {
            ::close(lock);
            QFile::remove(stem + ".lock");
            QFile::remove(stem + ".status");
            m_host->registerComponents();
        });
        zul::records::RunStatus s;
        s.pid = ::getpid(), s.event = "E0001", s.start = "2026-12-05T01:00:00.000+0000", s.startMs = 1796432400000;
        s.line = 4, s.command = "get", s.file = "payroll.dat";
        s.done = 1'200'000'000, s.total = 4'000'000'000, s.rate = 38'000'000;
        QVERIFY(zul::test::writeBytes(stem + ".status", QByteArray::fromStdString(zul::records::statusText(s))));
        QVERIFY(QFile::setPermissions(stem + ".status", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

        EventsWindow window(*m_host);
        window.show();
        window.grid()->selectRow(0);
        QTableView* history = window.history();
        QCOMPARE(cell(window.grid(), 0, EventsModel::LastRun), QString("running"));
        QCOMPARE(cell(history, 0, HistoryModel::Outcome),
                 QString("running: line 4, get payroll.dat, 1.2 of 4.0 GB, 38 MB/s, about 1 min left"));
        QCOMPARE(history->model()->index(0, HistoryModel::Outcome).data(HistoryModel::ProgressRole).toInt(), 30);
        QVERIFY(!history->model()->index(1, HistoryModel::Outcome).data(HistoryModel::ProgressRole).isValid());
        auto* cancel = qobject_cast<QPushButton*>(history->indexWidget(history->model()->index(0, HistoryModel::Exit)));
        QVERIFY(cancel);
        screenshot(&window, "history-running.png");

        auto messages = std::make_shared<zul::test::RecordingMessages>();
        zul::com::registerClass(zul::com::kErrorMessagesProgId, [messages] { return messages; });
        cancel->click();
        QCOMPARE(messages->calls.size(), std::size_t(1));
        QVERIFY(messages->calls[0][1].asText().find("Cancel the running run of event E0001") != std::string::npos);
        QVERIFY(window.statusBar()->currentMessage().isEmpty());
        messages->answer = true;
        cancel->click();
        QVERIFY2(window.statusBar()->currentMessage().contains("is not a runner of this user"),
                 qPrintable(window.statusBar()->currentMessage()));
        QCOMPARE(cell(history, 0, HistoryModel::Outcome).left(8), QString("running:"));

        ::flock(lock, LOCK_UN);
        window.refresh();
        QVERIFY(!cell(history, 0, HistoryModel::Outcome).startsWith("running"));
        QVERIFY(cell(window.grid(), 0, EventsModel::LastRun) != QString("running"));
    }

    void transcriptViewerOpensFromARun_data()
    {
        const auto row = columns<bool>();
        row("Enter", true);
        row("double-click", false);
    }
    void transcriptViewerOpensFromARun()
    {
        const auto [byKey] = fetch<bool>();
        EventsWindow window(*m_host);
        window.resize(1000, 620);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.grid()->selectRow(0);
        QTableView* history = window.history();
        const auto found =
            history->model()->match(history->model()->index(0, HistoryModel::Transcript), Qt::DisplayRole,
                                    "E0001_20261204-050000_2301.log", 1, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        const QModelIndex index = found[0].siblingAtColumn(HistoryModel::Start);
        history->setCurrentIndex(index);
        if (byKey) {
            history->setFocus();
            QTest::keyClick(history, Qt::Key_Return);
        } else {
            history->scrollTo(index);
            const QPoint at = history->visualRect(index).center();
            QVERIFY(history->viewport()->rect().contains(at));
            // The second press of a double-click comes as a double-click event.
            QTest::mousePress(history->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(history->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(history->viewport(), Qt::LeftButton, {}, at);
        }
        TranscriptViewer* viewer = nullptr;
        QTRY_VERIFY((viewer = qobject_cast<TranscriptViewer*>(openViewer())));
        QVERIFY(viewer->text()->isReadOnly() && viewer->text()->toPlainText().contains("230 Logged in."));
        QVERIFY(child<QLabel>(viewer, "lblRun")->text().startsWith("success (exit status 0)\n"));
        if (byKey)
            screenshot(viewer, "transcript-viewer.png");
        QTest::mouseClick(child<QPushButton>(viewer, "cmdClose"), Qt::LeftButton);
        QTRY_VERIFY(!openViewer());
    }

    void viewerSaysWhenThereIsNoTranscript_data()
    {
        const auto row = columns<Run::Source, QString>();
        row("never reached a runner", Run::Source::Host, "never reached the FTP runner");
        row("past the retention period", Run::Source::Runner, "retention period");
    }
    void viewerSaysWhenThereIsNoTranscript()
    {
        const auto [source, says] = fetch<Run::Source, QString>();
        Run run;
        run.event = "E0001", run.start = "2026-12-01T02:00:00", run.source = source;
        run.transcript = "/gone/E0001_20261201-020000_1.log";
        TranscriptViewer viewer(run, QString());
        QVERIFY(viewer.text()->toPlainText().contains(says));
    }
};

QTEST_MAIN(EventsWindowTest)
#include "tst_events_window.moc"
