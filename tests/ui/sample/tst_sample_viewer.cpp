#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/FileSystem.h"
#include "support/Chooser.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Gui.h"
#include "support/TempAppFolder.h"
#include "ui/common/FileChooser.h"
#include "ui/editor/frmZULINF.h"
#include "ui/sample/frmZULsample.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <tuple>

using namespace zul;

namespace {

test::Answer chooseFromMenu(const char* item, QPoint* shownAt = nullptr)
{
    return test::popupMenu([item, shownAt](QMenu* menu) {
        if (shownAt)
            *shownAt = menu->pos();
        if (!*item) {
            QTest::keyClick(menu, Qt::Key_Escape);
            return;
        }
        menu->setActiveAction(menu->findChild<QAction*>(QString::fromLatin1(item)));
        QTest::keyClick(menu, Qt::Key_Return);
    });
}

// What a shown viewer held, read before it is closed.
struct Seen {
    QString text;
    QString title;
    bool aboutVisible = false;
    QString aboutCaption;
    QPoint pos;
};

Seen look(frmZULsample* v)
{
    return {v->text(), v->windowTitle(), v->cmdabout->isVisible(), v->cmdabout->text(), v->pos()};
}

QByteArray sourceSample(const QString& name)
{
    QFile f(QStringLiteral(ZUL_SOURCE_DIR "/samples/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

using ViewRow = std::tuple<QByteArray, QString, QString, QString>;
using SampleRow = std::tuple<QString, QString, QByteArray, QString, QString, int, int, QString>;

class SampleViewerTest : public QObject {
    Q_OBJECT
    std::shared_ptr<test::ScriptedChooser> m_chooser;
    test::CoreFixture m_core;

    // The editor, shown and active, as when the user works in it.
    frmZULINF& editor()
    {
        frmZULINF& f = frmZULINF::instance();
        if (!f.isVisible()) {
            f.setGeometry(120, 40, 520, 360);
            f.show();
            f.activateWindow();
            if (!QTest::qWaitForWindowActive(&f))
                qWarning("the editor did not become active");
        }
        return f;
    }

    // Clicks a button of the editor and answers what it opens.
    bool click(const char* button, const QList<test::Answer>& steps)
    {
        auto* b = test::child<QPushButton>(editor(), button);
        return test::whenModal(steps, [b] { QTest::mouseClick(b, Qt::LeftButton); });
    }

    bool viewFile(const QByteArray& content, const QList<test::Answer>& steps)
    {
        m_core.app->write("ZUL/E0001ZUL.zul", content.toStdString());
        m_chooser->answer = QString::fromStdString(m_core.app->file("ZUL/E0001ZUL.zul"));
        return click("cmdViewSCP", steps);
    }

    const std::vector<com::Args>& calls() const { return m_core.fakes->messages->calls; }

private slots:
    void init()
    {
        m_core.setUp();
        m_chooser = std::make_shared<test::ScriptedChooser>();
        ui::setFileChooser(m_chooser);
    }
    void cleanup()
    {
        frmZULINF::unloadInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(test::noWindowLeftOpen());
        frmZULsample::unloadInstance();
        ui::setFileChooser(nullptr);
        m_core.tearDown();
    }

    // A script with its GET pairs folded, or a report, and the hidden viewer keeping what it built before.
    void viewScript_data()
    {
        QTest::addColumn<ViewRow>("row");
        QTest::newRow("a GET pair and two commands")
            << ViewRow{QByteArray("open 127.0.0.1\r\n"
                                  "get report.txt /zul/Junction/E000101.txt\r\n"
                                  "**E000101=&/data/in/report.txt&\r\n"
                                  "  quit  \r\n"),
                       "open 127.0.0.1\r\nget report.txt /data/in/report.txt\r\nquit\r\n", QString(), QString()};
        QTest::newRow("no GET lines") << ViewRow{"  open 1.2.3.4  \r\n\r\n   cd /out\r\nput a.txt b.txt\r\nquit",
                                                 "open 1.2.3.4\r\n\r\ncd /out\r\nput a.txt b.txt\r\nquit\r\n",
                                                 QString(), QString()};
        QTest::newRow("two GET pairs, any case")
            << ViewRow{"GET a.csv /j/E000201.csv\r\n**E000201=&/in/a.csv&\r\n"
                       "get b.txt /j/E000202.txt\r\n  **E000202=& /in/b.txt &  \r\n",
                       "GET a.csv /in/a.csv\r\nget b.txt /in/b.txt\r\n", QString(), QString()};
        QTest::newRow("a marker of exactly twelve characters gives an empty target")
            << ViewRow{"get abc.txt /j/x.txt\r\n**E000101=&&\r\n", "get abc.txt \r\n", QString(), QString()};
        QTest::newRow("a GET line last in the file")
            << ViewRow{"open h\r\nget a.txt /j/x.txt", QString(),
                       "Line 2 is a GET command, and there is no line after it to take its target from.", "open h\r\n"};
        QTest::newRow("a following line too short")
            << ViewRow{"cd /x\r\nget a.txt /j/x.txt\r\n  **E01=&x&  \r\nquit\r\n", QString(),
                       "Line 3, after a GET command, is too short to hold the command's target.", "cd /x\r\n"};
        QTest::newRow("more than 32,767 lines") << ViewRow{QByteArray("cd x\r\n").repeated(32768), QString(),
                                                           "The script has more than 32,767 lines.", QString()};
        QTest::newRow("file gone") << ViewRow{QByteArray(), QString(), QString(), QString()};
    }
    void viewScript()
    {
        QFETCH(ViewRow, row);
        auto [content, shown, report, kept] = row; // content null: the file is gone; shown null: not shown
        const std::string path = m_core.app->file("ZUL/E0001ZUL.zul");
        if (content.isNull())
            report = QString::fromStdString(platform::readLines(path).error().description);
        else
            m_core.app->write("ZUL/E0001ZUL.zul", content.toStdString());
        m_chooser->answer = QString::fromStdString(path);
        Seen seen;
        QList<test::Answer> steps;
        if (!shown.isNull())
            steps << test::modal<frmZULsample>([&](frmZULsample* v) {
                seen = look(v);
                v->cmdCancel_Click();
            });
        QVERIFY(click("cmdViewSCP", steps));
        QCOMPARE(seen.text, shown);
        QVERIFY(!seen.aboutVisible);
        QCOMPARE(m_chooser->requests.size(), std::size_t(1));
        QCOMPARE(m_chooser->requests[0].initDir, QString::fromStdString(m_core.app->file("ZUL/")));
        QCOMPARE(test::describeAll(calls()),
                 report.isNull() ? QStringList() : QStringList{test::describe({false, report.toStdString(), "D"})});
        QCOMPARE(frmZULsample::isLoaded(), shown.isNull()); // unloaded once shown, hidden after a failure
        if (shown.isNull())
            QVERIFY(frmZULsample::instance().isHidden() && frmZULsample::instance().text() == kept);
    }

    void cancelledChooserShowsNothing()
    {
        m_chooser->answer = QString();
        frmZULsample::instance().setText("left from before\r\n");
        QVERIFY(click("cmdViewSCP", {}));
        QVERIFY(frmZULsample::isLoaded());
        QVERIFY(frmZULsample::instance().isHidden());
        QCOMPARE(frmZULsample::instance().text(), QString());
        QVERIFY(calls().empty());
    }

    // Each menu item, with the viewer's placement, its about button and one way of closing it.
    void fetchShowsSample_data()
    {
        QTest::addColumn<SampleRow>("row");
        const auto row = [](const char* tag, QString item, const char* file, QByteArray content, QString about,
                            int first, int last, QString close) {
            QTest::newRow(tag) << SampleRow{
                item,  QString(file), content, "ZUL Sample Script - " + QString(tag).section(',', 0, 0),
                about, first,         last,    close};
        };
        row("Windows", "mnuwinsmpl", "Winsmpl.smp", sourceSample("Winsmpl.smp"), "&About Windows ZUL", 1076, 1086,
            "Escape");
        row("AS/400", "mnuassmpl", "ASsmpl.smp", sourceSample("ASsmpl.smp"), "&About AS/400 ZUL", 1087, 1092, "&Close");
        row("Unix", "mnuunsmpl", "Unixsmpl.smp", sourceSample("Unixsmpl.smp"), "", 0, 0, "title bar");
        row("Mainframe", "mnumainsmpl", "mainsmpl.smp", sourceSample("mainsmpl.smp"), "", 0, 0, "Escape");
        // Lines as read: blanks and tabs kept, a line end after the last line too.
        row("Unix, lines as read", "mnuunsmpl", "Unixsmpl.smp", "  open  h  \r\n\r\n\tcd x\r\nquit", "", 0, 0,
            "&Close");
    }
    void fetchShowsSample()
    {
        QFETCH(SampleRow, row);
        auto [item, file, content, title, about, firstAbout, lastAbout, close] = row; // about "": hidden
        QVERIFY2(!content.isEmpty(), "the sample is missing from the source tree");
        m_core.app->write("ZUL/" + file.toStdString(), content.toStdString());
        const QByteArray itemName = item.toLatin1();
        Seen seen;
        QPoint menuAt, editorAt;
        std::vector<size_t> callsAfterClick;
        QPointer<frmZULsample> closed;
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu(itemName.constData(), &menuAt),
                                      test::modal<frmZULsample>([&, &about = about, &close = close](frmZULsample* v) {
                                          seen = look(v);
                                          editorAt = editor().pos();
                                          closed = v;
                                          if (!about.isEmpty()) {
                                              // One call per click, chosen by the button's caption.
                                              for (int i = 0; i < 2; ++i) {
                                                  QTest::mouseClick(v->cmdabout, Qt::LeftButton);
                                                  callsAfterClick.push_back(calls().size());
                                              }
                                              v->cmdabout->setText("&About Something Else");
                                              v->cmdabout_Click();
                                              callsAfterClick.push_back(calls().size());
                                          }
                                          if (close == "Escape")
                                              QTest::keyClick(v->txtZULsample, Qt::Key_Escape);
                                          else if (close == "&Close")
                                              QTest::mouseClick(v->findChild<QPushButton*>("cmdCancel"),
                                                                Qt::LeftButton);
                                          else
                                              v->close();
                                      })}));

        QCOMPARE(seen.text, QString::fromLatin1(content.endsWith("\r\n") ? content : content + "\r\n"));
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.aboutVisible, !about.isEmpty());
        QCOMPARE(seen.aboutCaption, about);
        QPushButton* fetch = editor().findChild<QPushButton*>("cmdFETCHscp");
        QCOMPARE(menuAt, fetch->mapToGlobal(QPoint(fetch->width(), 0)));
        // Beside the editor: 315 and 200 twips, 1440 to the inch.
        const QScreen* screen = editor().screen();
        QCOMPARE(seen.pos - editorAt, QPoint(-qRound(200 * screen->logicalDotsPerInchX() / 1440),
                                             qRound(315 * screen->logicalDotsPerInchY() / 1440)));

        com::Args expectedAbout{false};
        for (int n = firstAbout; n <= lastAbout; ++n)
            expectedAbout.push_back(com::msg(n));
        expectedAbout.push_back(std::string("D"));
        QCOMPARE(callsAfterClick, (about.isEmpty() ? std::vector<size_t>{} : std::vector<size_t>{1, 2, 2}));
        for (const auto& call : calls())
            QCOMPARE(test::describe(call), test::describe(expectedAbout));

        QVERIFY(closed.isNull()); // unloaded, not just hidden
        QVERIFY(!frmZULsample::isLoaded());
        QVERIFY(editor().isVisible());
    }

    void dismissedMenuOrMissingSampleShowsNothing()
    {
        m_core.app->write("ZUL/Winsmpl.smp", "open h\r\n");
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("mnuwinsmpl"),
                                      test::modal<frmZULsample>([](frmZULsample* v) { v->cmdCancel_Click(); })}));
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("")})); // the choice of the last fetch does not linger
        QVERIFY(!frmZULsample::isLoaded());
        QVERIFY(calls().empty());
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("mnumainsmpl")}));
        const std::string expected = platform::readLines(m_core.app->file("ZUL/mainsmpl.smp")).error().description;
        QVERIFY(expected.find("mainsmpl.smp") != std::string::npos);
        QCOMPARE(test::describeAll(calls()), QStringList{test::describe({false, expected, "D"})});
        QVERIFY(!frmZULsample::isLoaded());
    }

    void fetchAppendsToWhatAFailedViewLeft()
    {
        m_core.app->write("ZUL/Unixsmpl.smp", "quit\r\n");
        QVERIFY(viewFile("cd /a\r\nget x /j/y", {}));
        Seen seen;
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("mnuunsmpl"), test::modal<frmZULsample>([&](frmZULsample* v) {
                                          seen = look(v);
                                          v->cmdCancel_Click();
                                      })}));
        QCOMPARE(seen.text, QString("cd /a\r\nquit\r\n"));
    }

    void centredOnAnotherWindow()
    {
        QWidget other;
        other.setObjectName("frmOther");
        other.setGeometry(40, 30, 600, 500);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        frmZULsample& v = frmZULsample::instance();
        const QRect outer = other.frameGeometry();
        const QSize own = v.frameGeometry().size();
        QCOMPARE(v.pos(), QPoint(outer.x() + (outer.width() - own.width()) / 2,
                                 outer.y() + (outer.height() - own.height()) / 2));
    }

    // Only Copy ever comes on in the viewer, and only while text is selected.
    void toolbarFollowsSelection()
    {
        m_core.app->write("ZUL/Winsmpl.smp", "open 192.0.2.10\r\nquit\r\n");
        QApplication::clipboard()->clear();
        QStringList seen; // Cut, Copy and Paste on (1) or off (0), what Copy gave, and whether the box kept the focus
        const auto buttons = [&seen](frmZULsample* v) {
            seen << QString();
            for (int b : {2, 3, 4})
                seen.last() += v->toolbarButton(b)->isEnabled() ? '1' : '0';
        };
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("mnuwinsmpl"), test::modal<frmZULsample>([&](frmZULsample* v) {
                                          buttons(v);
                                          v->txtZULsample->setFocus();
                                          QTest::keyClick(v->txtZULsample, Qt::Key_End, Qt::ShiftModifier);
                                          buttons(v);
                                          v->toolbarButton(3)->trigger();
                                          seen << QApplication::clipboard()->text()
                                               << QString::number(v->focusWidget() == v->txtZULsample);
                                          buttons(v);
                                          // A click inside the selection clears it as the button comes up.
                                          QTest::mouseClick(v->txtZULsample->viewport(), Qt::LeftButton, {},
                                                            QPoint(8, 8));
                                          QCoreApplication::processEvents();
                                          buttons(v);
                                          v->cmdCancel_Click();
                                      })}));
        QCOMPARE(seen, (QStringList{"000", "010", "open 192.0.2.10", "1", "010", "000"}));
    }
};

QTEST_MAIN(SampleViewerTest)
#include "tst_sample_viewer.moc"
