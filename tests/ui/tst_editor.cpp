#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "plugin/Editor.h"
#include "plugin/iGamut12.h"
#include "support/Chooser.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Gui.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"
#include "ui/common/FileChooser.h"
#include "ui/editor/frmZULINF.h"
#include "ui/sample/frmZULsample.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace zul;
using test::child;
using test::columns;
using test::fetch;

namespace {

// The host's event panel, answering as the test says.
class ScriptedPanel : public com::IEventPanel {
public:
    std::int32_t result = 1;
    bool deletes = true;
    int shown = 0;
    std::vector<std::string> deleted;

    std::int32_t ShowPanel(std::int32_t&, com::EventStructPtr&, std::int32_t&, std::string&) override
    {
        ++shown;
        return result;
    }
    bool Delete_Event_From_Schedule(std::string id) override
    {
        deleted.push_back(id);
        return deletes;
    }
};

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
    QString text, title;
    bool aboutVisible = false;
    QString aboutCaption;
    QPoint pos;
};

Seen look(frmZULsample* v)
{
    return {v->text(), v->windowTitle(), v->cmdabout->isVisible(), v->cmdabout->text(), v->pos()};
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
    std::shared_ptr<ScriptedPanel> m_panel;
    test::CoreFixture m_core;
    std::function<void(frmZULINF*)> m_act;
    bool m_stillOpen = false;
    QString m_textAfter;
    std::shared_ptr<test::ScriptedChooser> m_chooser;

    // Shows the editor through the feature class, acts on it inside its modal loop and cancels what is left open.
    std::int32_t showPanel(std::int32_t option, com::EventStructPtr event, std::string newId = {})
    {
        m_stillOpen = false;
        std::int32_t result = -1;
        const auto act = [this](frmZULINF* f) {
            m_act(f);
            m_stillOpen = frmZULINF::isLoaded() && f->isVisible();
            if (m_stillOpen) {
                m_textAfter = child<QPlainTextEdit>(f, "txtZUL")->toPlainText();
                f->cmdCancel_Click();
            }
        };
        const auto show = [&] {
            std::int32_t last = 0;
            result = iGamut12().ShowPanel(option, event, &last, &newId);
        };
        return test::whenModal({test::modal<frmZULINF>(act)}, show) ? result : -1;
    }

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

    bool click(const char* button, const QList<test::Answer>& steps)
    {
        auto* b = test::child<QPushButton>(editor(), button);
        return test::whenModal(steps, [b] { QTest::mouseClick(b, Qt::LeftButton); });
    }

    const std::vector<com::Args>& calls() const { return m_core.fakes->messages->calls; }

private slots:
    void init()
    {
        m_core.setUp();
        m_panel = std::make_shared<ScriptedPanel>();
        com::registerClass(com::kEventPanelProgId, [p = m_panel] { return p; });
        m_textAfter.clear();
        m_chooser = std::make_shared<test::ScriptedChooser>();
        ui::setFileChooser(m_chooser);
    }
    void cleanup()
    {
        platform::waitForWatchedChildren();
        plugin::unloadEditor();
        frmZULINF::unloadInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(test::noWindowLeftOpen());
        frmZULsample::unloadInstance();
        ui::setFileChooser(nullptr);
        m_core.tearDown();
    }

    // Go Back keeps the editor and its work copy, Cancel closes both; after Go Back, Escape does not lose the script.
    void hostPanelGoBackAndCancel_data()
    {
        const auto row = columns<int, QString, bool>();
        row("go back keeps the work copy", 4, {}, true);
        row("cancel closes and removes it", 3, {}, false);
        row("go back, then the title bar", 4, "title bar", false);
        row("go back, then Escape", 4, "Escape", true);
    }
    void hostPanelGoBackAndCancel()
    {
        const auto [answer, then, open] = fetch<int, QString, bool>();
        m_core.app->write("ZUL/E0007ZUL.zul", "open h\r\nquit\r\n");
        m_panel->result = answer;
        bool workCopy = false;
        m_act = [&, &then = then](frmZULINF* f) {
            QTest::mouseClick(child<QPushButton>(f, "cmdAdd"), Qt::LeftButton);
            workCopy = m_core.app->exists("ZUL/ZULTMP.zul");
            if (then == "Escape")
                QTest::keyClick(child<QPlainTextEdit>(f, "txtZUL"), Qt::Key_Escape);
            else if (!then.isEmpty())
                f->close();
        };
        QCOMPARE(showPanel(2, test::makeEvent("E0007")), 1);
        QCOMPARE(m_stillOpen, open);
        QCOMPARE(workCopy, answer == 4);
        if (open)
            QCOMPARE(m_textAfter, QString("open h\nquit\n")); // as loaded: the display text ends with a line end
        QVERIFY(!m_core.app->exists("ZUL/ZULTMP.zul"));       // gone at the latest when the panel unloads
        QCOMPARE(m_core.app->read("ZUL/E0007ZUL.zul"), std::string("open h\r\nquit\r\n"));
        QVERIFY(!frmZULINF::isLoaded());
    }

    void deleteConfirmedOrRefused_data()
    {
        const auto row = columns<bool>();
        row("removed", true);
        row("refused", false);
    }
    void deleteConfirmedOrRefused()
    {
        const auto [hostDeletes] = fetch<bool>();
        m_core.app->write("ZUL/E0003ZUL.zul", "open h\r\nquit\r\n");
        // The event's records go with it; every other line stays as it was, line ends included.
        const std::string others = "E000399x not a record of the event\r\nE003301 20240101120000 RZ &/t/b&\n"
                                   "  blank-led line\r\nE0003ab 20240101120000\r\n";
        const std::string reg = "E000301 20240101120000 RZ       &/t/a&\r\n" + others + "E000302";
        m_core.app->write("Rcvdchkr.txt", reg);
        m_panel->deletes = hostDeletes;
        bool readOnly = false;
        QString caption;
        m_act = [&](frmZULINF* f) {
            readOnly = !child<QPlainTextEdit>(f, "txtZUL")->isEnabled() &&
                       !child<QPushButton>(f, "cmdRunNow")->isEnabled() && !f->TMclipCheck->isActive();
            caption = child<QPushButton>(f, "cmdAdd")->text();
            // Paste does nothing while the script is locked for deleting.
            QApplication::clipboard()->setText("pasted");
            f->Toolbar1_ButtonClick(4);
            f->TMclipCheck_Timer();
            readOnly = readOnly && !f->toolbarButton(4)->isEnabled() &&
                       child<QPlainTextEdit>(f, "txtZUL")->toPlainText() == "open h\nquit\n";
            QTest::mouseClick(child<QPushButton>(f, "cmdAdd"), Qt::LeftButton);
        };
        QCOMPARE(showPanel(3, test::makeEvent("E0003")), 1);
        QVERIFY(readOnly);
        QCOMPARE(caption, QString("&Delete"));
        QCOMPARE(m_panel->deleted, std::vector<std::string>{"E0003"});
        QCOMPARE(m_stillOpen, !hostDeletes);
        QCOMPARE(m_core.app->exists("ZUL/E0003ZUL.zul"), !hostDeletes);
        QCOMPARE(m_core.app->read("Rcvdchkr.txt"), hostDeletes ? others : reg);
        QVERIFY(com::moduleState().bNeedRefresh);
    }

    void runNow_data()
    {
        const auto row = columns<int, QString, bool, int>();
        row("add, declined", 1, "", false, 5002);
        row("add, confirmed", 1, "", true, 5002);
        row("update, declined", 2, "E0005", false, 5001);
        row("update, confirmed", 2, "E0005", true, 5001);
        row("duplicate, declined", 4, "E0005", false, 5001);
        row("duplicate, confirmed", 4, "E0005", true, 5001);
    }
    void runNow()
    {
        const auto [option, id, yes, question] = fetch<int, QString, bool, int>();
        const QString app = QString::fromStdString(m_core.app->path());
        QVERIFY(test::installRecordingRunner(app) && test::installBuilt("libping32.so", app));
        m_core.fakes->messages->answer = yes;
        const std::string saved = "open 127.0.0.1\r\nput old.txt\r\nquit\r\n";
        if (option != 1)
            m_core.app->write("ZUL/E0005ZUL.zul", saved);
        m_act = [](frmZULINF* f) {
            child<QPlainTextEdit>(f, "txtZUL")->setPlainText("open 127.0.0.1\nquit");
            QTest::mouseClick(child<QPushButton>(f, "cmdRunNow"), Qt::LeftButton);
        };
        auto event = test::makeEvent(id.toStdString(), "ENT");
        QCOMPARE(showPanel(option, event, option == 4 ? "E0099" : ""), 2);
        QVERIFY(m_stillOpen); // Run Now never closes the panel
        platform::waitForWatchedChildren();

        const auto& calls = m_core.fakes->messages->calls;
        QVERIFY(!calls.empty());
        QCOMPARE(calls[0][1], com::Variant(com::msg(question)));
        if (question == 5001)
            QVERIFY((calls[0] ==
                     com::Args{true, com::msg(5001), "C", std::int32_t{4}, "Please Confirm", id.toStdString(), "ENT"}));
        QCOMPARE(com::moduleState().bNeedRefresh, yes);
        QCOMPARE(m_core.app->exists("runner-args.txt"), yes);
        QVERIFY(!m_core.app->exists("ZUL/ZULTMP.zul"));
        if (option == 2)
            QCOMPARE(m_core.app->read("ZUL/E0005ZUL.zul") == saved, !yes);
        if (yes && option == 1) {
            // No id: the runner is handed the work copy itself, and reads it before it goes.
            QCOMPARE(m_core.app->read("runner-args.txt"), "true|" + m_core.app->file("ZUL/ZULTMP.zul") + "|     \n");
            QCOMPARE(m_core.app->read("runner-script.txt"), std::string("open 127.0.0.1\r\nquit\r\n"));
        }
        if (yes && option == 4) {
            // The copy runs under its new id, from the checked runner copy.
            QCOMPARE(m_core.app->read("runner-args.txt"), "true|" + m_core.app->file("ZUL/tZULexe.zul") + "|E0099\n");
            QCOMPARE(m_core.app->read("runner-script.txt"), std::string("open 127.0.0.1\r\nquit\r\n\r\n"));
        }
        QCOMPARE(event->text("BAEvent"), id.toStdString());
    }

    // Saved byte for byte: a no-break space is no blank, what the code page cannot hold is "?", blanks are refused.
    void savedScriptBytes_data()
    {
        const auto row = columns<QByteArray, QString, QByteArray>(); // typed null: saved as loaded
        const QByteArray loaded = "open h\r\nput report" + QByteArray("\xa0") + "2024.txt out.txt\r\nquit\r\n";
        row("loaded and saved unchanged", loaded, {}, loaded + "\r\n"); // the work copy's line end
        row("typed no-break spaces", "open x\r\nquit\r\n", QString::fromUtf8("open\u00a0\u00a0h\nquit"),
            "open\xa0\xa0h\r\nquit\r\n");
        row("outside the code page", "open x\r\nquit\r\n", QString::fromUtf8("open h\nput \u6587.txt \u20ac\nquit"),
            "open h\r\nput ?.txt \x80\r\nquit\r\n");
        row("blanks only", "open x\r\n", "   ", "open x\r\n");
    }
    void savedScriptBytes()
    {
        const auto [onDisk, typed, saved] = fetch<QByteArray, QString, QByteArray>();
        m_core.app->write("ZUL/E0007ZUL.zul", onDisk.toStdString());
        m_act = [&, &typed = typed](frmZULINF* f) {
            if (!typed.isNull())
                child<QPlainTextEdit>(f, "txtZUL")->setPlainText(typed);
            QTest::mouseClick(child<QPushButton>(f, "cmdAdd"), Qt::LeftButton);
        };
        QCOMPARE(showPanel(2, test::makeEvent("E0007")), 1);
        const bool refused = saved == onDisk;
        QCOMPARE(m_panel->shown, refused ? 0 : 1);
        QCOMPARE(QByteArray::fromStdString(m_core.app->read("ZUL/E0007ZUL.zul")), saved);
        if (refused)
            QVERIFY(m_stillOpen && test::describeAll(m_core.fakes->messages->calls) ==
                                       QStringList{test::describe({false, com::msg(3033), "D"})});
    }

    void toolbarFollowsSelectionAndClipboard()
    {
        QApplication::clipboard()->setText("put a b");
        frmZULINF& f = frmZULINF::instance();
        QVERIFY(f.toolbarButton(4)->isEnabled()); // right before the first tick
        f.show();
        auto* box = child<QPlainTextEdit>(&f, "txtZUL");
        box->setPlainText("open host");
        QApplication::clipboard()->clear();
        f.TMclipCheck_Timer();
        QVERIFY(!f.toolbarButton(2)->isEnabled() && !f.toolbarButton(3)->isEnabled() &&
                !f.toolbarButton(4)->isEnabled());

        QTextCursor c = box->textCursor();
        c.setPosition(5);
        c.setPosition(9, QTextCursor::KeepAnchor);
        box->setTextCursor(c);
        QTRY_VERIFY(f.toolbarButton(2)->isEnabled() && f.toolbarButton(3)->isEnabled());

        f.Toolbar1_ButtonClick(2); // cut: the text moves to the clipboard, paste comes on at once
        QCOMPARE(box->toPlainText(), QString("open "));
        QCOMPARE(QApplication::clipboard()->text(), QString("host"));
        QVERIFY(f.toolbarButton(4)->isEnabled());
        f.Toolbar1_ButtonClick(4);
        f.Toolbar1_ButtonClick(4);
        QCOMPARE(box->toPlainText(), QString("open hosthost"));
        QTRY_VERIFY(!f.toolbarButton(2)->isEnabled());

        QApplication::clipboard()->clear();
        QTRY_VERIFY(!f.toolbarButton(4)->isEnabled());
    }

    // A script with its GET pairs folded, or a report, and the hidden viewer keeping what it built before.
    void viewScript_data()
    {
        const auto row = columns<QByteArray, QString, QString, QString>(); // content, shown, report, kept
        row("a GET pair and two commands",
            "open 127.0.0.1\r\nget report.txt /zul/Junction/E000101.txt\r\n**E000101=&/data/in/report.txt&\r\n  quit  "
            "\r\n",
            "open 127.0.0.1\r\nget report.txt /data/in/report.txt\r\nquit\r\n", {}, {});
        row("no GET lines", "  open 1.2.3.4  \r\n\r\n   cd /out\r\nput a.txt b.txt\r\nquit",
            "open 1.2.3.4\r\n\r\ncd /out\r\nput a.txt b.txt\r\nquit\r\n", {}, {});
        row("two GET pairs, any case",
            "GET a.csv /j/E000201.csv\r\n**E000201=&/in/a.csv&\r\nget b.txt /j/E000202.txt\r\n  **E000202=& /in/b.txt "
            "&  \r\n",
            "GET a.csv /in/a.csv\r\nget b.txt /in/b.txt\r\n", {}, {});
        row("a marker of exactly twelve characters gives an empty target", "get abc.txt /j/x.txt\r\n**E000101=&&\r\n",
            "get abc.txt \r\n", {}, {});
        row("a GET line last in the file", "open h\r\nget a.txt /j/x.txt", {},
            "Line 2 is a GET command, and there is no line after it to take its target from.", "open h\r\n");
        row("a following line too short", "cd /x\r\nget a.txt /j/x.txt\r\n  **E01=&x&  \r\nquit\r\n", {},
            "Line 3, after a GET command, is too short to hold the command's target.", "cd /x\r\n");
        row("more than 32,767 lines", QByteArray("cd x\r\n").repeated(32768), {},
            "The script has more than 32,767 lines.", {});
        row("file gone", {}, {}, {}, {});
    }
    void viewScript()
    {
        auto [content, shown, report, kept] = fetch<QByteArray, QString, QString, QString>();
        // content null: the file is gone; shown null: not shown
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
        frmZULsample::instance().setText("left from before\r\n");
        QVERIFY(click("cmdViewSCP", {}) && frmZULsample::isLoaded() && frmZULsample::instance().isHidden());
        QCOMPARE(frmZULsample::instance().text(), QString());
        QVERIFY(calls().empty());
    }

    // Each menu item, with the viewer's placement, its about button and one way of closing it.
    void fetchShowsSample_data()
    {
        const auto add = columns<QString, QString, QByteArray, QString, QString, int, int, QString>();
        const auto row = [add](const char* tag, QString item, const char* file, QByteArray content, QString about,
                               int first, int last, QString close) {
            add(tag, item, file, content, "ZUL Sample Script - " + QString(tag).section(',', 0, 0), about, first, last,
                close);
        };
        const auto sample = [](const char* name) {
            return test::readBytes(ZUL_SOURCE_DIR "/samples/" + QString(name));
        };
        row("Windows", "mnuwinsmpl", "Winsmpl.smp", sample("Winsmpl.smp"), "&About Windows ZUL", 1076, 1086, "Escape");
        row("AS/400", "mnuassmpl", "ASsmpl.smp", sample("ASsmpl.smp"), "&About AS/400 ZUL", 1087, 1092, "&Close");
        row("Unix", "mnuunsmpl", "Unixsmpl.smp", sample("Unixsmpl.smp"), "", 0, 0, "title bar");
        row("Mainframe", "mnumainsmpl", "mainsmpl.smp", sample("mainsmpl.smp"), "", 0, 0, "Escape");
        // Lines as read: blanks and tabs kept, a line end after the last line too.
        row("Unix, lines as read", "mnuunsmpl", "Unixsmpl.smp", "  open  h  \r\n\r\n\tcd x\r\nquit", "", 0, 0,
            "&Close");
    }
    void fetchShowsSample()
    {
        const auto [item, file, content, title, about, firstAbout, lastAbout, close] =
            fetch<QString, QString, QByteArray, QString, QString, int, int, QString>(); // about "": hidden
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

        QVERIFY(closed.isNull() && !frmZULsample::isLoaded()); // unloaded, not just hidden
        QVERIFY(editor().isVisible());
    }

    void dismissedMenuOrMissingSampleShowsNothing()
    {
        m_core.app->write("ZUL/Winsmpl.smp", "open h\r\n");
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("mnuwinsmpl"),
                                      test::modal<frmZULsample>([](frmZULsample* v) { v->cmdCancel_Click(); })}));
        QVERIFY(click("cmdFETCHscp", {chooseFromMenu("")})); // the choice of the last fetch does not linger
        QVERIFY(!frmZULsample::isLoaded());
        QVERIFY(calls().empty() && click("cmdFETCHscp", {chooseFromMenu("mnumainsmpl")}));
        const std::string expected = platform::readLines(m_core.app->file("ZUL/mainsmpl.smp")).error().description;
        QVERIFY(expected.find("mainsmpl.smp") != std::string::npos);
        QCOMPARE(test::describeAll(calls()), QStringList{test::describe({false, expected, "D"})});
        QVERIFY(!frmZULsample::isLoaded());
    }

    void fetchAppendsToWhatAFailedViewLeft()
    {
        m_core.app->write("ZUL/Unixsmpl.smp", "quit\r\n");
        m_core.app->write("ZUL/E0001ZUL.zul", "cd /a\r\nget x /j/y");
        m_chooser->answer = QString::fromStdString(m_core.app->file("ZUL/E0001ZUL.zul"));
        QVERIFY(click("cmdViewSCP", {}));
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

QTEST_MAIN(EditorTest)
#include "tst_editor.moc"
