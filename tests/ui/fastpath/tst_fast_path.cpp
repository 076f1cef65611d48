#include "com/ModuleState.h"
#include "com/Registry.h"
#include "exec/ModExecut.h"
#include "host/ZembDB.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/Chooser.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Gui.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"
#include "ui/common/FileChooser.h"
#include "ui/editor/frmZULINF.h"
#include "ui/fastpath/frmFast_Path.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace zul;
using test::child;
using test::columns;
using test::describe;
using test::fetch;

namespace {

const std::string kPassword = "Pw-s3cr3t!";

// Records each message with the pointer's state at the time; can fail a call as a disconnected service does.
class Messages : public test::RecordingMessages {
public:
    std::vector<bool> hourglass;
    int disconnectOnCall = -1;
    std::function<void()> beforeEachCall;

    com::Variant HandleMessages(const com::Args& args) override
    {
        if (beforeEachCall)
            beforeEachCall();
        const QCursor* cursor = QApplication::overrideCursor();
        hourglass.push_back(cursor && cursor->shape() == Qt::WaitCursor);
        if (static_cast<int>(hourglass.size()) - 1 == disconnectOnCall)
            throw com::ComError(static_cast<int>(0x80010108u), "The object invoked has disconnected.");
        return RecordingMessages::HandleMessages(args);
    }
};

QStringList items(QComboBox* b)
{
    QStringList out;
    for (int i = 0; i < b->count(); ++i)
        out << b->itemText(i);
    return out;
}

// Chooses list entry k the way the arrow keys do, from a box with no choice yet.
void choose(QComboBox* b, int k)
{
    b->setFocus();
    for (int i = 0; i <= k; ++i)
        QTest::keyClick(b, Qt::Key_Down);
}

// The remembered entries that the Delete key works on.
const QStringList kRemembered{"IP:10.0.0.1:0", "IP:10.0.0.2:0", "US:ann:a1", "US:bob:b1", "US:ann:a2",
                              "SS:s1:0",       "SR:r1:0",       "RS:rs1:0",  "RR:rr1:0",  "XX:10.0.0.1:0"};

} // namespace

class FastPathTest : public QObject {
    Q_OBJECT
    std::shared_ptr<Messages> m_messages;
    std::shared_ptr<test::ScriptedChooser> m_chooser;
    test::CoreFixture m_core;
    std::unique_ptr<QTemporaryDir> m_data;
    std::vector<std::weak_ptr<host::ZembDB>> m_dbs;
    frmZULINF* m_editor = nullptr;

    std::shared_ptr<host::ZembDB> db() { return host::ZembDB::open(m_data->path().toStdString()); }
    static QComboBox* box(QWidget& d, const char* name) { return child<QComboBox>(d, name); }

    // Rows as "CODE:FIRST:SECOND", as table() gives them.
    void remember(const QStringList& rows)
    {
        auto d = db();
        for (const QString& r : rows) {
            const QStringList f = r.split(':');
            d->setFACODE(f[0].toStdString());
            d->setFAFLDONE(f[1].toStdString());
            d->setFAFLDTWO(f[2].toStdString());
            d->AddRecord("FastZUL");
        }
    }

    QStringList table()
    {
        auto d = db();
        QStringList out;
        for (std::int16_t i = 0; i < d->RecordCount("FastZUL"); ++i) {
            d->GetRecord("FastZUL", i);
            out << QString::fromStdString(d->FACODE() + ":" + d->FAFLDONE() + ":" + d->FAFLDTWO());
        }
        return out;
    }

    // Opens the dialog from the editor's button, acts on it inside its modal loop and cancels it if still open.
    void withDialog(const std::function<void(frmFast_Path&)>& act)
    {
        QVERIFY(test::whenModal({test::modal<frmFast_Path>([&](frmFast_Path* d) {
                                    QTRY_VERIFY(d->isActiveWindow());
                                    act(*d);
                                    if (d->isVisible())
                                        d->cmdCancel_Click();
                                })},
                                [this] { m_editor->cmdFastpath_Click(); }));
    }

    void fill(frmFast_Path& d, const QString& address, const QString& user, const QString& password,
              const QString& first, const QString& second)
    {
        box(d, "cmbPtnIPAdr")->setEditText(address);
        box(d, "cmbUsrID")->setEditText(user);
        child<QLineEdit>(d, "txtPWD")->setText(password);
        box(d, "cmbSndPath")->setEditText(first);
        box(d, "cmbRcvPath")->setEditText(second);
    }

    void installRunners(bool recording)
    {
        const QString app = QString::fromStdString(m_core.app->path());
        QVERIFY(test::installBuilt("libping32.so", app));
        QVERIFY(recording ? test::installRecordingRunner(app) : test::installBuilt("VelundZUL", app));
    }

private slots:
    void init()
    {
        m_core.setUp();
        m_messages = std::make_shared<Messages>();
        com::registerClass(com::kErrorMessagesProgId, [m = m_messages] { return m; });
        com::moduleState().oMsgService = m_messages;
        com::moduleState().oCurEvent = test::makeEvent("");
        platform::setClock([] { return platform::LocalDateTime{2024, 3, 7, 14, 5, 9}; });
        m_data = std::make_unique<QTemporaryDir>();
        m_dbs.clear();
        com::registerClass(com::kDatabaseProgId, [this]() -> com::ObjectPtr {
            auto d = host::ZembDB::open(m_data->path().toStdString());
            m_dbs.push_back(d);
            return d;
        });
        m_chooser = std::make_shared<test::ScriptedChooser>();
        ui::setFileChooser(m_chooser);

        m_editor = &frmZULINF::instance();
        m_editor->setGeometry(120, 90, 900, 640);
        m_editor->show();
        m_editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_editor));
    }

    void cleanup()
    {
        platform::waitForWatchedChildren();
        frmZULINF::unloadInstance();
        QVERIFY(test::noWindowLeftOpen());
        ui::setFileChooser(nullptr);
        m_data.reset();
        platform::setClock({});
        m_core.tearDown();
        QApplication::restoreOverrideCursor();
    }

    void closingReleasesTheDatabase_data()
    {
        const auto row = columns<QString>();
        for (const char* how : {"cancel", "escape", "close"})
            row(how, how);
    }
    void closingReleasesTheDatabase()
    {
        const auto [how] = fetch<QString>();
        remember({"IP:10.1.1.5:0"});
        withDialog([&, &how = how](frmFast_Path& d) {
            // Centred over the editor, the entries empty, the focus in the address box with its remembered list.
            const QRect e = m_editor->frameGeometry();
            const QRect f = d.frameGeometry();
            QCOMPARE(f.topLeft(), e.topLeft() + QPoint((e.width() - f.width()) / 2, (e.height() - f.height()) / 2));
            QCOMPARE(items(box(d, "cmbPtnIPAdr")), QStringList{"10.1.1.5"});
            for (const char* name : {"cmbPtnIPAdr", "cmbUsrID", "cmbSndPath", "cmbRcvPath"})
                QCOMPARE(box(d, name)->currentText(), QString());
            QCOMPARE(QApplication::focusWidget(), box(d, "cmbPtnIPAdr"));
            QVERIFY(m_dbs.size() == 1 && !m_dbs[0].expired());
            box(d, "cmbUsrID")->setEditText("someone");
            if (how == "cancel")
                QTest::mouseClick(child<QPushButton>(d, "cmdCancel"), Qt::LeftButton);
            else if (how == "escape")
                QTest::keyClick(box(d, "cmbPtnIPAdr"), Qt::Key_Escape);
            else
                d.close();
            QVERIFY(!d.isVisible() && m_dbs[0].expired());
        });
        QCOMPARE(table(), QStringList{"IP:10.1.1.5:0"});
        QVERIFY(m_messages->calls.empty());
    }

    void generateScript_data()
    {
        // Entries (address, user, password, first, second); the message and focused box, or 0, the script and a record.
        const auto row = columns<bool, QStringList, int, QString, QString>();
        row("no address", false, {"", "u", "p", "a", "b"}, 3229, "cmbPtnIPAdr", {});
        row("blank user", false, {"1.2.3.4", "   ", "p", "a", "b"}, 3230, "cmbUsrID", {});
        row("both paths empty", false, {"1.2.3.4", "u", "p", "", ""}, 3231, "cmbSndPath", {});
        row("second path empty", false, {"1.2.3.4", "u", "p", "a", " "}, 3231, "cmbRcvPath", {});
        row("send", false, {"10.1.1.5", "u", "p", "a.txt", "b.txt"}, 0,
            "open 10.1.1.5\r\nuser u p\r\nput a.txt b.txt\r\nquit", "SS:a.txt:0");
        row("blank password", false, {"10.1.1.5", "usr", "  ", "a", "b"}, 0,
            "open 10.1.1.5\r\nuser usr \r\nput a b\r\nquit", "US:usr: ");
        row("blanks trimmed, inner blanks kept", false,
            {"10.1.1.5", "  usr ", " pw  ", "  /my files/a b.txt ", " c d.txt"}, 0,
            "open 10.1.1.5\r\nuser usr pw\r\nput /my files/a b.txt c d.txt\r\nquit", "SS:/my files/a b.txt:0");
        row("receive", true, {"1.2", "u", "p", "remote.dat", "/tmp/local.dat"}, 0,
            "open 1.2\r\nuser u p\r\nget remote.dat /tmp/local.dat\r\nquit", "RS:remote.dat:0");
        row("outside the code page", false, {"1.2", "u", "p", QString::fromUtf8("\u6587.txt"), "b"}, 0,
            "open 1.2\r\nuser u p\r\nput ?.txt b\r\nquit", "SS:?.txt:0");
    }
    void generateScript()
    {
        const auto [receive, entries, message, script, remembered] = fetch<bool, QStringList, int, QString, QString>();
        m_editor->setScriptText("open old\r\nquit");
        withDialog([&, &receive = receive, &entries = entries, &message = message, &script = script](frmFast_Path& d) {
            if (receive)
                QTest::mouseClick(child<QRadioButton>(d, "optRcv"), Qt::LeftButton);
            fill(d, entries[0], entries[1], entries[2], entries[3], entries[4]);
            QTest::mouseClick(child<QPushButton>(d, "cmdGenScpt"), Qt::LeftButton);
            QCOMPARE(d.isVisible(), message != 0);
            if (message == 0) {
                QVERIFY(m_dbs[0].expired());
                return;
            }
            QCOMPARE(test::describeAll(m_messages->calls), QStringList{describe({false, com::msg(message), "D"})});
            QCOMPARE(QApplication::focusWidget()->objectName(), script);
            QCOMPARE(box(d, "cmbUsrID")->currentText(), entries[1]); // nothing lost
        });
        if (message) {
            QCOMPARE(m_editor->scriptText(), std::string("open old\r\nquit"));
            return;
        }
        QCOMPARE(QString::fromStdString(m_editor->scriptText()), script);
        QVERIFY2(table().contains(remembered), qPrintable(table().join(',')));
        QVERIFY(m_messages->calls.empty() && !m_core.app->exists("tempZUL.zul"));
    }

    void rememberedEntries()
    {
        // Records of other kinds are neither shown nor touched.
        remember({"ZZ:odd:0", "US:old:oldpw"});
        withDialog([&](frmFast_Path& d) {
            fill(d, "10.1.1.5", "  newuser ", "pw1", "a.txt", "b.txt");
            QTest::mouseClick(child<QPushButton>(d, "cmdGenScpt"), Qt::LeftButton);
        });
        // Same entries again, with another password and the address box's Save unchecked.
        withDialog([&](frmFast_Path& d) {
            QCOMPARE(items(box(d, "cmbPtnIPAdr")), QStringList{"10.1.1.5"});
            QCOMPARE(items(box(d, "cmbUsrID")), (QStringList{"old", "newuser"}));
            QCOMPARE(items(box(d, "cmbSndPath")), QStringList{"a.txt"});
            QCOMPARE(items(box(d, "cmbRcvPath")), QStringList{"b.txt"});
            if (const QString shots = qEnvironmentVariable("ZUL_SCREENSHOT_DIR"); !shots.isEmpty())
                QVERIFY(d.grab().save(shots + "/fastpath.png"));
            child<QCheckBox>(d, "chkIPSav")->setChecked(false);
            fill(d, "10.9.9.9", "newuser", "pw2", "a.txt", "c.txt");
            QTest::mouseClick(child<QPushButton>(d, "cmdGenScpt"), Qt::LeftButton);
        });
        QCOMPARE(table(), (QStringList{"ZZ:odd:0", "US:old:oldpw", "IP:10.1.1.5:0", "US:newuser:pw1", "SS:a.txt:0",
                                       "SR:b.txt:0", "SR:c.txt:0"}));
        // The script has the password typed, the memory the first one.
        QCOMPARE(m_editor->scriptText(), std::string("open 10.9.9.9\r\nuser newuser pw2\r\nput a.txt c.txt\r\nquit"));
    }

    void receiveModeCodes()
    {
        remember({"SS:send1:0", "SR:sent1:0"});
        withDialog([&](frmFast_Path& d) {
            QTest::mouseClick(child<QRadioButton>(d, "optRcv"), Qt::LeftButton);
            QVERIFY(items(box(d, "cmbSndPath")).isEmpty());
            fill(d, "1.1.1.1", "u", "", "remote.txt", "local.txt");
            QTest::mouseClick(child<QPushButton>(d, "cmdGenScpt"), Qt::LeftButton);
        });
        QCOMPARE(table(), (QStringList{"SS:send1:0", "SR:sent1:0", "IP:1.1.1.1:0", "US:u: ", "RS:remote.txt:0",
                                       "RR:local.txt:0"}));
        withDialog([&](frmFast_Path& d) {
            auto* first = box(d, "cmbSndPath");
            auto* second = box(d, "cmbRcvPath");
            // Opens in send mode with the send lists.
            QCOMPARE(items(first), QStringList{"send1"});
            QCOMPARE(items(second), QStringList{"sent1"});
            QTest::mouseClick(child<QRadioButton>(d, "optRcv"), Qt::LeftButton);
            QCOMPARE(items(first), QStringList{"remote.txt"});
            QCOMPARE(items(second), QStringList{"local.txt"});
            first->setEditText("typed");
            // Back to send mode: the typed path goes with the lists.
            QTest::mouseClick(child<QRadioButton>(d, "optSnd"), Qt::LeftButton);
            QCOMPARE(items(first), QStringList{"send1"});
            QCOMPARE(first->currentText(), QString());
            // The focus entering the set button again reloads too.
            first->setEditText("typed again");
            child<QRadioButton>(d, "optRcv")->setFocus(Qt::TabFocusReason);
            child<QRadioButton>(d, "optSnd")->setFocus(Qt::TabFocusReason);
            QCOMPARE(first->currentText(), QString());
            // A remembered empty password comes back as one blank.
            choose(box(d, "cmbUsrID"), 0);
            QCOMPARE(child<QLineEdit>(d, "txtPWD")->text(), QString(" "));
        });
    }

    void deleteKey_data()
    {
        const auto without = [](QStringList gone) {
            QStringList out;
            for (const auto& r : kRemembered)
                if (!gone.contains(r))
                    out << r;
            return out;
        };
        const auto row = columns<QString, bool, int, QStringList, QStringList>();
        row("address", "cmbPtnIPAdr", false, 0, {"10.0.0.2"}, without({"IP:10.0.0.1:0"}));
        row("user: every password", "cmbUsrID", false, 0, {"bob", "ann"}, without({"US:ann:a1", "US:ann:a2"}));
        row("send path", "cmbSndPath", false, 0, {}, without({"SS:s1:0"}));
        row("partner name", "cmbRcvPath", false, 0, {}, without({"SR:r1:0"}));
        row("file to collect", "cmbSndPath", true, 0, {}, without({"RS:rs1:0"}));
        row("local name", "cmbRcvPath", true, 0, {}, without({"RR:rr1:0"}));
        row("typed text: nothing", "cmbPtnIPAdr", false, -1, {"10.0.0.1", "10.0.0.2"}, kRemembered);
    }
    void deleteKey()
    {
        const auto [boxName, receive, entry, listAfter, tableAfter] =
            fetch<QString, bool, int, QStringList, QStringList>();
        remember(kRemembered);
        withDialog(
            [&, &boxName = boxName, &receive = receive, &entry = entry, &listAfter = listAfter](frmFast_Path& d) {
                if (receive)
                    QTest::mouseClick(child<QRadioButton>(d, "optRcv"), Qt::LeftButton);
                QComboBox* b = box(d, boxName.toLatin1().constData());
                if (entry >= 0) {
                    choose(b, entry);
                } else {
                    b->setFocus();
                    QTest::keyClicks(b, "10.0.0.1");
                }
                const QString chosen = b->currentText();
                b->lineEdit()->setCursorPosition(0);
                QTest::keyClick(b, Qt::Key_Delete);
                QCOMPARE(items(b), listAfter);
                // The box's own Delete follows: one character goes.
                QCOMPARE(b->currentText(), chosen.mid(1));
                if (boxName == "cmbUsrID")
                    QCOMPARE(child<QLineEdit>(d, "txtPWD")->text(), QString());
            });
        QCOMPARE(table(), tableAfter);
        QVERIFY(m_messages->calls.empty());
    }

    void passwordRecalledAndSelected()
    {
        remember({"US:ann:annpw", "US:bob:bobpw", "IP: 10.1.1.5:0"});
        withDialog([&](frmFast_Path& d) {
            choose(box(d, "cmbPtnIPAdr"), 0); // taken as remembered, the key filter aside
            QCOMPARE(box(d, "cmbPtnIPAdr")->currentText(), QString(" 10.1.1.5"));
            auto* pwd = child<QLineEdit>(d, "txtPWD");
            choose(box(d, "cmbUsrID"), 1);
            QCOMPARE(pwd->text(), QString("bobpw"));
            QTest::keyClick(box(d, "cmbUsrID"), Qt::Key_Up);
            QCOMPARE(pwd->text(), QString("annpw"));
            // Typing a user id recalls nothing.
            pwd->setText("mine");
            box(d, "cmbUsrID")->lineEdit()->selectAll();
            QTest::keyClicks(box(d, "cmbUsrID"), "bob");
            QTest::keyClick(box(d, "cmbUsrID"), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), pwd);
            QCOMPARE(pwd->text(), QString("mine"));

            // The whole password is selected whenever the focus enters its box.
            for (auto reason : {Qt::TabFocusReason, Qt::MouseFocusReason, Qt::ShortcutFocusReason}) {
                box(d, "cmbUsrID")->setFocus();
                pwd->setCursorPosition(1);
                if (reason == Qt::MouseFocusReason)
                    QTest::mouseClick(pwd, Qt::LeftButton, {}, QPoint(2, pwd->height() / 2));
                else
                    pwd->setFocus(reason);
                QCoreApplication::processEvents();
                QCOMPARE(pwd->selectedText(), pwd->text());
            }
        });
    }

    void addressRules_data()
    {
        const auto row = columns<QString, QString, QString, QString>(); // typed, committed by an input method, ...
        row("typed address", "192.168.0.10", "", "", "192.168.0.10");
        row("letters, blank, comma, slash dropped", "1a 2,3/4", "", "", "1234");
        row("any digits and points", "999..1", "", "", "999..1");
        row("backspace edits", "12\b3", "", "", "13");
        row("backspace to empty", "1\b", "", "", "");
        const QString eAcute(QChar(0xE9));
        row("input method: each character filtered", "", eAcute + "12", "", "12");
        row("input method: dead key alone dropped", "1.", eAcute, "", "1.");
        row("input method: digits and points kept", "10", ".0.1", "", "10.0.1");
        row("pasted letters wiped", "", "", "abc", "");
        row("paste ending in a digit stays", "", "", "a1", "a1");
        row("paste ending in a blank wiped", "10.", "", "1.2 ", "");
        row("paste after typing kept whole", "10.", "", "x.5", "10.x.5");
    }
    void addressRules()
    {
        const auto [typed, committed, pasted, result] = fetch<QString, QString, QString, QString>();
        withDialog([&, &typed = typed, &committed = committed, &pasted = pasted, &result = result](frmFast_Path& d) {
            auto* b = box(d, "cmbPtnIPAdr");
            b->setFocus();
            for (QChar c : typed) {
                if (c == QLatin1Char('\b'))
                    QTest::keyClick(b, Qt::Key_Backspace);
                else
                    QTest::keyClicks(b, QString(c));
            }
            if (!committed.isEmpty()) {
                QInputMethodEvent commit;
                commit.setCommitString(committed);
                QApplication::sendEvent(QApplication::focusObject(), &commit);
            }
            if (!pasted.isEmpty()) {
                QApplication::clipboard()->setText(pasted);
                b->lineEdit()->paste(); // as the context menu's Paste does
            }
            QCOMPARE(b->currentText(), result);
            // The keyboard's paste is a dropped character.
            QApplication::clipboard()->setText("7");
            QTest::keyClick(b, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(b->currentText(), result);
        });
    }

    void browse_data()
    {
        const auto row = columns<QString, QString, QString, QString>(); // result null: the answer
        row("first path chosen", "cmdBrowseSnd", "cmbSndPath", "/data/x y.txt", {});
        row("second path chosen", "cmdBrowseRcv", "cmbRcvPath", "/z.txt", {});
        row("cancelled", "cmdBrowseRcv", "cmbRcvPath", {}, "kept");
    }
    void browse()
    {
        const auto [button, boxName, answer, result] = fetch<QString, QString, QString, QString>();
        m_chooser->answer = answer;
        withDialog([&, &button = button, &boxName = boxName, &answer = answer, &result = result](frmFast_Path& d) {
            box(d, boxName.toLatin1().constData())->setEditText("kept");
            QTest::mouseClick(child<QPushButton>(d, button.toLatin1().constData()), Qt::LeftButton);
            QTest::mouseClick(child<QPushButton>(d, button.toLatin1().constData()), Qt::LeftButton);
            QCOMPARE(box(d, boxName.toLatin1().constData())->currentText(), result.isNull() ? answer : result);
        });
        QCOMPARE(m_chooser->requests.size(), std::size_t(2));
        QVERIFY(table().empty());
    }

    // The standard dialog names each filter as the form gives it; "*.*" lists every file, names without a dot too.
    void standardDialog_data()
    {
        const auto row = columns<QString, QString, QStringList>();
        row("all files", "All files(*.*)|*.*", "All files(*.*)", {"E01ZUL.zul", "README", "a.txt", "noext"});
        row("script files", "Script Files(*.zul)|*.zul", "Script Files(*.zul)", {"E01ZUL.zul"});
    }
    void standardDialog()
    {
        const auto [filter, shown, listed] = fetch<QString, QString, QStringList>();
        QTemporaryDir dir;
        for (const char* name : {"README", "noext", "a.txt", "E01ZUL.zul"})
            QVERIFY(test::writeBytes(dir.filePath(name), QByteArray()));
        QFileDialog dialog;
        ui::configureOpenDialog(dialog, {QString(), filter, dir.path(), "ZUL Files Selection"});
        dialog.show();
        QCOMPARE(items(dialog.findChild<QComboBox*>("fileTypeCombo")), QStringList{shown});
        auto* view = child<QListView>(dialog, "listView");
        const auto names = [view] {
            QStringList out;
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                out << view->model()->index(r, 0, view->rootIndex()).data().toString();
            out.sort();
            return out;
        };
        QTRY_COMPARE(names(), listed);
        dialog.close();
    }

    void runNowRealTransfer()
    {
#ifndef ZUL_HAVE_RUNNER
        QSKIP("the runner is not built");
#endif
        installRunners(false);
        QTemporaryDir root;
        test::FtpServer server;
        if (!server.start(root.path(), "zul", QString::fromStdString(kPassword), {"--port", "21"}))
            QSKIP(qPrintable("no loopback server on the standard port: " + server.why()));
        qputenv("ZUL_RUNNER_RETRIES", "1");
        qputenv("ZUL_RUNNER_CONNECT_TIMEOUT", "20");

        const std::string local = m_core.app->file("report.txt");
        QVERIFY(platform::writeFile(local, "line one\r\nline two\r\n"));
        m_messages->answer = true;
        const std::string app = m_core.app->path();
        withDialog([&](frmFast_Path& d) {
            fill(d, "127.0.0.1", "zul", QString::fromStdString(kPassword), QString::fromStdString(local), "sent.txt");
            QTest::mouseClick(child<QPushButton>(d, "cmdRunNow"), Qt::LeftButton);
            // Reset for the next transfer, with the lists as at opening.
            QVERIFY(d.isVisible());
            for (const char* name : {"cmbPtnIPAdr", "cmbUsrID", "cmbSndPath", "cmbRcvPath"})
                QCOMPARE(box(d, name)->currentText(), QString());
            QCOMPARE(child<QLineEdit>(d, "txtPWD")->text(), QString());
            QCOMPARE(items(box(d, "cmbPtnIPAdr")), QStringList{"127.0.0.1"});
            QVERIFY(m_dbs.size() == 2 && m_dbs[0].expired()); // the first released, the lists read again
        });
        QCOMPARE(ModExecut::LastCommandLine(), app + "/VelundZUL true|" + app + "/tempZUL.zul|     ");
        QCOMPARE(test::describeAll(m_messages->calls),
                 (QStringList{describe({true, com::msg(5002), "C", std::int32_t{4}, "Please Confirm"}),
                              describe({false, com::msg(4124), com::msg(4125), "L", "", "ZUL", "", "03/07/2024",
                                        "14:05:09", "90", "127.0.0.1"})}));

        platform::waitForWatchedChildren();
        QCOMPARE(test::readBytes(root.filePath("sent.txt")), QByteArray("line one\r\nline two\r\n"));
        QVERIFY(!m_core.app->exists("tempZUL.zul"));
    }

    // The user is "usr", the password "pw", the paths "a" and "b".
    void runNowWithoutTransfer_data()
    {
        const auto row = columns<QString, QString, bool, int, QStringList, QString, bool>();
        const QString confirm = describe({true, com::msg(5001), "C", std::int32_t{4}, "Please Confirm",
                                          std::string("E0007 "), std::string("Nightly ")});
        row("declined: entries and file kept", "127.0.0.1", "b", false, 0, {confirm}, "0", false);
        row("partner not answering: logged, no runner, reset", "no-such-host.invalid.", "b", true, 1,
            {confirm, describe({false, com::msg(4107), com::msg(4121), com::msg(4122), "L", "", "ZUL", "", "03/07/2024",
                                "14:05:09", "90", "no-such-host.invalid."})},
            "00", true);
        row("entry check under the hourglass, then reset", "1.2.3.4", "", false, 1,
            {describe({false, com::msg(3231), "D"})}, "1", true);
        // The word in the report is ours.
        row("service disconnected at the confirmation", "1.2.3.4", "b", false, -1,
            {describe({false, com::msg(3281), "D", std::string("Adding ZUL Type Event to the database failed.")})},
            "00", false);
    }
    void runNowWithoutTransfer()
    {
        // Answer -1: the service disconnects; hourglass: per message, 1 while the wait cursor shows.
        const auto [address, second, receive, answer, messages, hourglass, reset] =
            fetch<QString, QString, bool, int, QStringList, QString, bool>();
        installRunners(true);
        m_messages->answer = answer == 1;
        m_messages->disconnectOnCall = answer < 0 ? 0 : -1;
        com::moduleState().oCurEvent = test::makeEvent("E0007 ", "Nightly ");
        withDialog([&, &address = address, &second = second, &receive = receive, &reset = reset](frmFast_Path& d) {
            if (receive)
                child<QRadioButton>(d, "optRcv")->click();
            fill(d, "", "usr", "pw", "a", second);
            QApplication::clipboard()->setText(address);
            box(d, "cmbPtnIPAdr")->lineEdit()->paste();
            QTest::mouseClick(child<QPushButton>(d, "cmdRunNow"), Qt::LeftButton);
            QVERIFY(d.isVisible());
            QCOMPARE(QApplication::overrideCursor(), nullptr);
            QCOMPARE(box(d, "cmbUsrID")->currentText(), reset ? QString() : QString("usr"));
            QCOMPARE(child<QLineEdit>(d, "txtPWD")->text(), reset ? QString() : QString("pw"));
            QCOMPARE(child<QRadioButton>(d, "optRcv")->isChecked(), receive); // the mode stays
        });
        QCOMPARE(test::describeAll(m_messages->calls), messages);
        QString cursor;
        for (bool b : m_messages->hourglass)
            cursor += b ? '1' : '0';
        QCOMPARE(cursor, hourglass);
        QVERIFY(!m_core.app->exists("runner-args.txt"));
        const bool passes = !second.isEmpty();
        QCOMPARE(test::readBytes(QString::fromStdString(m_core.app->file("tempZUL.zul"))),
                 passes ? "open " + address.toLatin1() + "\r\nuser usr pw\r\n" + (receive ? "get" : "put") +
                              " a b\r\nquit\r\n"
                        : QByteArray("<missing>"));
        QCOMPARE(test::fileMode(QString::fromStdString(m_core.app->file("tempZUL.zul"))), passes ? 0600 : -1);
        QCOMPARE(int(table().size()), passes ? 4 : 0); // remembered before the question
    }

    // Another host process's Run Now replaces tempZUL.zul during the question: the runner still gets this run's.
    void runNowHandsOverItsOwnScript()
    {
        installRunners(true);
        m_messages->answer = true;
        const std::string temp = m_core.app->file("tempZUL.zul");
        m_messages->beforeEachCall = [temp] {
            platform::replaceAtomically(temp, "open 10.9.9.9\r\nuser other pw\r\nget x y\r\nquit\r\n");
        };
        withDialog([&](frmFast_Path& d) {
            fill(d, "127.0.0.1", "usr", "pw", "a", "b");
            QTest::mouseClick(child<QPushButton>(d, "cmdRunNow"), Qt::LeftButton);
        });
        m_messages->beforeEachCall = {};
        platform::waitForWatchedChildren();
        QCOMPARE(m_core.app->read("runner-script.txt"),
                 std::string("open 127.0.0.1\r\nuser usr pw\r\nput a b\r\nquit\r\n"));
    }

    void withoutDatabaseTheDialogStillWorks()
    {
        com::unregisterClass(com::kDatabaseProgId);
        withDialog([&](frmFast_Path& d) {
            fill(d, "1.2.3.4", "usr", "pw", "a", "b");
            QTest::mouseClick(child<QPushButton>(d, "cmdGenScpt"), Qt::LeftButton);
            QVERIFY(!d.isVisible());
        });
        QCOMPARE(test::describeAll(m_messages->calls),
                 QStringList{describe({false, "Cannot create the component ZembDBdll.ClsZembDB", "D"})});
        QCOMPARE(m_editor->scriptText(), std::string("open 1.2.3.4\r\nuser usr pw\r\nput a b\r\nquit"));
    }
};

QTEST_MAIN(FastPathTest)
#include "tst_fast_path.moc"
