#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/Clock.h"
#include "plugin/Editor.h"
#include "plugin/Seams.h"
#include "plugin/iGamut12.h"
#include "support/Fakes.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include <QTest>

using namespace zul;

namespace {

// Records what the feature class does to the editor; showModal runs the test's idea of what the user did.
struct EditorLog {
    std::string caption;
    std::string text;
    bool locked = false;
    int shown = 0;
    std::function<void()> onShow;
};

class FakeEditor : public plugin::Editor {
public:
    explicit FakeEditor(EditorLog& log) : m_log(log) { m_log.caption = plugin::kEditorDesignCaption; }
    std::string caption() const override { return m_log.caption; }
    void setCaption(const std::string& c) override { m_log.caption = c; }
    void setScriptText(const std::string& t) override { m_log.text = t; }
    void lockForDelete() override { m_log.locked = true; }
    void showModal() override
    {
        ++m_log.shown;
        if (m_log.onShow)
            m_log.onShow();
    }

private:
    EditorLog& m_log;
};

} // namespace

class FeatureTest : public QObject {
    Q_OBJECT
    std::shared_ptr<test::Fakes> m_fakes;
    EditorLog m_editor;
    std::vector<std::string> m_loaded, m_built, m_deleted;
    std::vector<std::int32_t> m_runModes;
    std::function<bool()> m_runResult;
    std::string m_runScriptAtRun;

private slots:
    void init()
    {
        com::resetModuleState();
        m_fakes = test::registerFakes();
        m_editor = EditorLog{};
        m_loaded.clear();
        m_built.clear();
        m_deleted.clear();
        m_runModes.clear();
        m_runResult = [] { return true; };
        plugin::setEditorFactory([this] { return std::make_unique<FakeEditor>(m_editor); });
        auto& s = plugin::seams();
        s.loadEventScript = [this](std::string& id) -> std::optional<std::string> {
            m_loaded.push_back(id);
            return "script of " + id;
        };
        s.buildRunScript = [this](std::string& id) { m_built.push_back(id); };
        s.deleteScriptFile = [this](std::string& p) { m_deleted.push_back(p); };
        s.runEvent = [this](std::int32_t& mode, com::EventStructPtr&) {
            m_runModes.push_back(mode);
            m_runScriptAtRun = com::moduleState().sRunScript;
            return m_runResult();
        };
    }
    void cleanup()
    {
        plugin::unloadEditor();
        plugin::setEditorFactory({});
        plugin::resetSeams();
        platform::setClock({});
        com::clearRegistry();
        com::resetModuleState();
    }

    void captionRules_data()
    {
        const auto row = test::columns<int, QString, bool, QString, QString, bool, bool>();
        const QString design = QString::fromStdString(plugin::kEditorDesignCaption);
        const QString e01 = "E01";
        row("add", 1, e01, true, "", design + " - Add Script ", false, false);
        row("update", 2, e01, true, "", design + " - Update Script E01", true, false);
        row("update, id untrimmed", 2, " E01 ", true, "", design + " - Update Script  E01 ", true, false);
        row("delete", 3, e01, true, "", design + " - Update Script E01", true, true);
        row("duplicate", 4, e01, true, "E02", design + " - Duplicate Script E01", true, false);
        row("duplicate, empty new id", 4, e01, true, "", design, true, false);
        row("duplicate, new id omitted", 4, e01, false, "", design, true, false);
        row("unknown option", 9, e01, true, "E02", design, true, false);
    }
    void captionRules()
    {
        auto [option, id, hasNewId, newId, caption, loads, locked] =
            test::fetch<int, QString, bool, QString, QString, bool, bool>();

        iGamut12 feature;
        auto event = std::static_pointer_cast<com::IEventStruct>(test::makeEvent(id.toStdString()));
        std::int32_t opt = option;
        std::int32_t last = 77;
        std::string given = newId.toStdString();
        feature.ShowPanel(opt, event, &last, hasNewId ? &given : nullptr);

        QCOMPARE(QString::fromStdString(m_editor.caption), caption);
        QCOMPARE(m_editor.shown, 1);
        QCOMPARE(m_editor.locked, locked);
        QCOMPARE(m_loaded, loads ? std::vector<std::string>{id.toStdString()} : std::vector<std::string>{});
        if (loads)
            QCOMPARE(m_editor.text, "script of " + id.toStdString());
        QCOMPARE(last, 77); // the arguments are the host's: never written
        QCOMPARE(given, newId.toStdString());
        QCOMPARE(com::moduleState().uEventOption, option);
        QVERIFY(com::moduleState().oCurEvent == event);
        if (option == 4)
            QCOMPARE(QString::fromStdString(com::moduleState().sNewId), newId);
    }

    // What one ShowPanel leaves for the next: the panel result until one is set again, the new id until the next
    // duplicate, and the editor's text when the script cannot be loaded.
    void stateKeptAcrossShowPanels()
    {
        iGamut12 feature;
        auto event = std::static_pointer_cast<com::IEventStruct>(test::makeEvent("E01"));
        std::int32_t four = 4, two = 2;
        QCOMPARE(feature.ShowPanel(two, event), 0); // cancelled, first on this thread
        m_editor.onShow = [] { com::moduleState().uPanelResult = 1; };
        QCOMPARE(feature.ShowPanel(two, event), 1); // continued
        m_editor.onShow = {};
        QCOMPARE(feature.ShowPanel(two, event), 1); // cancelled: the earlier result comes back

        std::string id = "E09", other = "E77";
        feature.ShowPanel(four, event, nullptr, &id);
        plugin::unloadEditor();
        feature.ShowPanel(two, event, nullptr, &other); // not a duplicate: sNewId stays
        QCOMPARE(com::moduleState().sNewId, std::string("E09"));

        plugin::seams().loadEventScript = [](std::string&) -> std::optional<std::string> { return std::nullopt; };
        plugin::editor().setScriptText("typed before");
        const int shown = m_editor.shown;
        feature.ShowPanel(two, event);
        QCOMPARE(m_editor.text, std::string("typed before"));
        QCOMPARE(m_editor.shown, shown + 1);
    }

    void editorFailureIsReportedAndShowPanelReturns()
    {
        m_editor.onShow = [] { throw com::ComError(5, "Invalid procedure call or argument"); };
        iGamut12 feature;
        auto event = std::static_pointer_cast<com::IEventStruct>(test::makeEvent("E01"));
        com::moduleState().uPanelResult = 2;
        for (std::int32_t opt : {1, 2}) {
            m_fakes->messages->calls.clear();
            const auto r = feature.ShowPanel(opt, event);
            QCOMPARE(m_fakes->messages->calls.size(), std::size_t(1));
            QCOMPARE(test::describe(m_fakes->messages->calls[0]),
                     QString("bool:False, text:\"Invalid procedure call or argument\", text:\"D\""));
            // Add fails inside ShowPanel (0); the others inside PreparePanel, which traps its own.
            QCOMPARE(r, opt == 1 ? 0 : 2);
        }
    }

    void lifecycleFillsAndEmptiesState()
    {
        {
            iGamut12 feature;
            QVERIFY(com::moduleState().oMsgService == m_fakes->messages && com::moduleState().oFileUtil);
            QVERIFY(com::moduleState().oCurEvent);
            com::moduleState().sRunScript = "kept";
            com::moduleState().bNeedRefresh = true;
            QVERIFY(feature.NeedGridRefresh());
        }
        QVERIFY(!com::moduleState().oMsgService && !com::moduleState().oFileUtil && !com::moduleState().oCurEvent);
        QCOMPARE(com::moduleState().sRunScript, std::string("kept"));
    }

    void failedCreatesKeepEarlierReferences()
    {
        auto earlier = std::make_shared<test::RecordingMessages>();
        com::moduleState().oMsgService = earlier;
        com::clearRegistry();
        ModFTP1::CreateMessageService();
        ModFTP1::CreateFileUtility();
        ModFTP1::CreateEventStruct();
        QVERIFY(com::moduleState().oMsgService == earlier && !com::moduleState().oFileUtil);
    }

    void executionChoosesScript_data()
    {
        const auto row = test::columns<bool, QString, QString, bool, int, bool>();
        row("no work copy", false, "E0001", "/ZUL/E0001ZUL.zul", false, 1, true);
        row("work copy", true, "E0001", "/ZUL/TMPE0001.zul", true, 1, true);
        row("work copy, blank id", true, "   ", "/ZUL/   ZUL.zul", false, 1, true);
        row("work copy, id with blanks", true, " E01 ", "/ZUL/TMP E01 .zul", true, 1, true);
        row("hidden work copy is not found", false, "E0001", "/ZUL/E0001ZUL.zul", false, 1, true);
        row("not answered, direct", false, "E0001", "/ZUL/E0001ZUL.zul", false, 0, false);
    }
    void executionChoosesScript()
    {
        auto [workCopy, id, runScript, builds, mode, result] =
            test::fetch<bool, QString, QString, bool, int, bool>(); // result: the driver's, passed on
        test::TempAppFolder app;
        if (workCopy)
            app.write("ZUL/ZULTMP.zul", "open 127.0.0.1\r\n");
        else if (QByteArray(QTest::currentDataTag()).startsWith("hidden"))
            app.write("ZUL/.ZULTMP.zul", "x\r\n");
        m_runResult = [result = result] { return result; };
        iGamut12 feature;
        auto event = std::static_pointer_cast<com::IEventStruct>(test::makeEvent(id.toStdString()));
        std::int32_t m = mode;
        QCOMPARE(feature.Execution(m, event), result);
        QCOMPARE(QString::fromStdString(m_runScriptAtRun), QString::fromStdString(app.path()) + runScript);
        QCOMPARE(m_built.size(), std::size_t(builds ? 1 : 0));
        if (builds)
            QCOMPARE(m_built[0], id.toStdString());
        // The run copy is deleted after every run, whichever file was used.
        QCOMPARE(m_deleted, std::vector<std::string>{app.path() + "/ZUL/TMP" + id.toStdString() + ".zul"});
        QCOMPARE(m_runModes, std::vector<std::int32_t>{mode});
        QVERIFY(m_fakes->messages->calls.empty());
    }

    // Without an event a run ends quietly; a failed run is reported and leaves before the clean-up step.
    void executionFailures()
    {
        test::TempAppFolder app;
        iGamut12 feature;
        com::EventStructPtr none;
        std::int32_t mode = 1;
        QCOMPARE(feature.Execution(mode, none), false);
        QVERIFY(m_runModes.empty() && m_fakes->messages->calls.empty());
        m_runResult = []() -> bool { throw com::ComError(53, "File not found"); };
        auto event = std::static_pointer_cast<com::IEventStruct>(test::makeEvent("E0001"));
        QCOMPARE(feature.Execution(mode, event), false);
        QCOMPARE(m_fakes->messages->calls.size(), std::size_t(1));
        QVERIFY(m_deleted.empty());
    }
};

QTEST_GUILESS_MAIN(FeatureTest)
#include "tst_feature.moc"
