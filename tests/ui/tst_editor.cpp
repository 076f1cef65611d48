#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "plugin/Editor.h"
#include "plugin/iGamut12.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Gui.h"
#include "support/TempAppFolder.h"
#include "ui/editor/frmZULINF.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <tuple>

using namespace zul;
using test::child;

namespace {

// The host's event panel: answers as the test says, and leaves the id that a real panel would allocate.
class ScriptedPanel : public com::IEventPanel {
public:
    std::int32_t result = 1;
    std::string assignId;
    bool deletes = true;
    int shown = 0;
    std::vector<std::string> deleted;

    std::int32_t ShowPanel(std::int32_t&, com::EventStructPtr& e, std::int32_t&, std::string&) override
    {
        ++shown;
        if (result == 1 && !assignId.empty())
            e->SetField("BAEvent", assignId);
        return result;
    }
    bool Delete_Event_From_Schedule(std::string id) override
    {
        deleted.push_back(id);
        return deletes;
    }
};

} // namespace

using GoBackRow = std::tuple<int, QString, bool>;
using RunNowRow = std::tuple<int, QString, bool, int>;
using BytesRow = std::tuple<QByteArray, QString, QByteArray>;

class EditorTest : public QObject {
    Q_OBJECT
    std::shared_ptr<ScriptedPanel> m_panel;
    test::CoreFixture m_core;
    std::function<void(frmZULINF*)> m_act;
    bool m_stillOpen = false;
    QString m_textAfter;

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

private slots:
    void init()
    {
        m_core.setUp();
        m_panel = std::make_shared<ScriptedPanel>();
        com::registerClass(com::kEventPanelProgId, [p = m_panel] { return p; });
        m_textAfter.clear();
    }
    void cleanup()
    {
        platform::waitForWatchedChildren();
        plugin::unloadEditor();
        QVERIFY(test::noWindowLeftOpen());
        m_core.tearDown();
    }

    void addContinueSavesClearsAndStaysOpen()
    {
        m_panel->assignId = "E0042";
        auto event = test::makeEvent("");
        m_act = [](frmZULINF* f) {
            child<QPlainTextEdit>(f, "txtZUL")->setPlainText("open 127.0.0.1\nget a.txt /in/a.txt\nquit");
            QTest::mouseClick(child<QPushButton>(f, "cmdAdd"), Qt::LeftButton);
        };
        QCOMPARE(showPanel(1, event), 1);
        QVERIFY(m_stillOpen);
        QCOMPARE(m_textAfter, QString());
        QVERIFY(m_core.app->exists("ZUL/E0042ZUL.zul"));
        QVERIFY(!m_core.app->exists("ZUL/ZULTMP.zul"));
        QCOMPARE(event->text("BAEvTYPE"), std::string("ZUL"));
        QVERIFY(com::moduleState().bNeedRefresh);
        QCOMPARE(m_panel->shown, 1);
    }

    // The host panel's Go Back keeps the editor and its work copy, its Cancel closes both. After that, only the
    // title bar closes the editor like Cancel; Escape does nothing, so the script is not lost.
    void hostPanelGoBackAndCancel_data()
    {
        QTest::addColumn<GoBackRow>("row");
        QTest::newRow("go back keeps the work copy") << GoBackRow{4, QString(), true};
        QTest::newRow("cancel closes and removes it") << GoBackRow{3, QString(), false};
        QTest::newRow("go back, then the title bar") << GoBackRow{4, "title bar", false};
        QTest::newRow("go back, then Escape") << GoBackRow{4, "Escape", true};
    }
    void hostPanelGoBackAndCancel()
    {
        QFETCH(GoBackRow, row);
        auto [answer, then, open] = row;
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
        QTest::addColumn<bool>("hostDeletes");
        QTest::newRow("removed") << true;
        QTest::newRow("refused") << false;
    }
    void deleteConfirmedOrRefused()
    {
        QFETCH(bool, hostDeletes);
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
        QTest::addColumn<RunNowRow>("row");
        QTest::newRow("add, declined") << RunNowRow{1, "", false, 5002};
        QTest::newRow("add, confirmed") << RunNowRow{1, "", true, 5002};
        QTest::newRow("update, declined") << RunNowRow{2, "E0005", false, 5001};
        QTest::newRow("update, confirmed") << RunNowRow{2, "E0005", true, 5001};
        QTest::newRow("duplicate, declined") << RunNowRow{4, "E0005", false, 5001};
        QTest::newRow("duplicate, confirmed") << RunNowRow{4, "E0005", true, 5001};
    }
    void runNow()
    {
        QFETCH(RunNowRow, row);
        auto [option, id, yes, question] = row;
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

    // What the box holds reaches the saved script byte for byte: a no-break space is no blank, and what the code page
    // cannot hold becomes "?". A blank script is refused and the editor stays.
    void savedScriptBytes_data()
    {
        QTest::addColumn<BytesRow>("row");
        const QByteArray loaded = "open h\r\nput report" + QByteArray("\xa0") + "2024.txt out.txt\r\nquit\r\n";
        QTest::newRow("loaded and saved unchanged")
            << BytesRow{loaded, QString(), loaded + "\r\n"}; // the work copy's line end
        QTest::newRow("typed no-break spaces")
            << BytesRow{QByteArray("open x\r\nquit\r\n"), QString::fromUtf8("open\u00a0\u00a0h\nquit"),
                        QByteArray("open\xa0\xa0h\r\nquit\r\n")};
        QTest::newRow("outside the code page")
            << BytesRow{QByteArray("open x\r\nquit\r\n"), QString::fromUtf8("open h\nput \u6587.txt \u20ac\nquit"),
                        QByteArray("open h\r\nput ?.txt \x80\r\nquit\r\n")};
        QTest::newRow("blanks only") << BytesRow{"open x\r\n", "   ", "open x\r\n"};
    }
    void savedScriptBytes()
    {
        QFETCH(BytesRow, row);
        auto [onDisk, typed, saved] = row; // typed null: saved as loaded
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
        frmZULINF::unloadInstance();
    }
};

QTEST_MAIN(EditorTest)
#include "tst_editor.moc"
