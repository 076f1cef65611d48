// Runs through iGamut12::Execution with a recording VelundZUL and the real libping32.so asking loopback.
#include "exec/ModExecut.h"

#include "ExecTestSupport.h"
#include "com/ModuleState.h"
#include "platform/Pointer.h"
#include "platform/Process.h"
#include "plugin/Seams.h"
#include "plugin/iGamut12.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include <QtTest>
#include <memory>

using namespace zul;
using com::msg;

namespace {

const std::string Stamp = "20240307140509";

com::Args answered(const std::string& id, const com::Variant& runDay, const std::string& address)
{
    return {false, msg(4124), msg(4125), "L", id, "ZUL", runDay, "03/07/2024", "14:05:09", "90", address};
}

} // namespace

class TestRunDriver : public QObject {
    Q_OBJECT

    test::CoreFixture m_core;
    std::unique_ptr<iGamut12> m_gamut;
    // The command line started when the pointer was set back, once per time.
    QStringList m_pointerResets;

    bool execute(const std::shared_ptr<test::FakeEvent>& event, std::int32_t mode = 1)
    {
        com::EventStructPtr e = event;
        const bool result = m_gamut->Execution(mode, e);
        platform::waitForWatchedChildren();
        return result;
    }
    const std::vector<com::Args>& messages() const { return m_core.fakes->messages->calls; }
    std::string runner() const { return m_core.app->file("VelundZUL") + " true|"; }
    std::string runnerCopy() const { return m_core.app->file("ZUL/tZULexe.zul"); }
    FakePingState* useFakePing() { return test::installFakePing(m_core.app->path()); }

private slots:
    void init()
    {
        m_core.setUp();
        platform::setClock(test::fixedTime);
        plugin::resetSeams();
        // Run copies are written by hand here.
        plugin::seams().buildRunScript = [](std::string&) {};
        const QString app = QString::fromStdString(m_core.app->path());
        QVERIFY(test::installRecordingRunner(app) && test::installBuilt("libping32.so", app));
        m_gamut = std::make_unique<iGamut12>();
        m_pointerResets.clear();
        platform::setDefaultPointerHook(
            [this] { m_pointerResets << QString::fromStdString(ModExecut::LastCommandLine()); });
    }
    void cleanup()
    {
        platform::waitForWatchedChildren();
        m_gamut.reset();
        m_core.tearDown();
        platform::setClock({});
        platform::setDefaultPointerHook({});
        plugin::resetSeams();
    }

    // A register line of the event is replaced in place, a new one appended, others kept.
    void scheduledRun()
    {
        m_core.app->write("local.dat", "data");
        m_core.app->write("Rcvdchkr.txt",
                     "E000101 20200101000000 RZ RT RC &/old&\r\nZ999901 20200101000000          &/z&\r\n");
        const std::string script = "open 127.0.0.1\nuser anon secret\n\nget /r/a.txt /j/E000101.txt\n"
                                   "**E000101=&/home/u/a.txt&\nGET /r/b.txt /j/E000102.txt\n**E000102=&/home/u/b.txt&\n"
                                   "put " +
                                   m_core.app->file("local.dat") + " /r/l.txt\nquit\n";
        m_core.app->write("ZUL/E0001ZUL.zul", test::crlf(script));
        auto event = test::makeEvent("E0001");
        event->fields["BAFLAG2"] = std::string("1");
        event->fields["BAFLAG4"] = std::string("1 ");

        QVERIFY(execute(event));
        QCOMPARE(test::describeAll(messages()), test::describeAll({answered("E0001", std::int16_t{5}, "127.0.0.1")}));
        const std::string registerAfter = "E000101 " + Stamp +
                                          " RZ    RC &/home/u/a.txt&\r\nZ999901 20200101000000          &/z&\r\n" +
                                          "E000102 " + Stamp + " RZ    RC &/home/u/b.txt&\r\n";
        QCOMPARE(m_core.app->read("Rcvdchkr.txt"), registerAfter);
        std::string expectedCopy = script;
        expectedCopy.erase(expectedCopy.find("\n\n"), 1);
        QCOMPARE(m_core.app->read("ZUL/tZULexe.zul"), test::crlf(expectedCopy + "\n"));
        QCOMPARE(m_core.app->read("runner-args.txt"), "true|" + runnerCopy() + "|E0001\n");
        QCOMPARE(m_pointerResets, QStringList{QString::fromStdString(runner() + runnerCopy() + "|E0001")});
        QCOMPARE(m_core.app->read("runner-script.txt"), m_core.app->read("ZUL/tZULexe.zul"));
        QCOMPARE(com::moduleState().sRunScript, m_core.app->file("ZUL/E0001ZUL.zul"));
        QVERIFY(m_core.app->exists("ZUL/E0001ZUL.zul"));
    }

    void runCopyUsedThenDeleted()
    {
        m_core.app->write("ZUL/ZULTMP.zul", "open 127.0.0.1\r\nuser edited\r\n");
        m_core.app->write("ZUL/TMPE0001.zul", test::crlf("open 127.0.0.1\nuser edited\nget x y\n**E000101=&/t&\n"));
        m_core.app->write("ZUL/E0001ZUL.zul", test::crlf("open 127.0.0.1\nuser saved\n"));

        QVERIFY(execute(test::makeEvent("E0001")));
        QCOMPARE(com::moduleState().sRunScript, m_core.app->file("ZUL/TMPE0001.zul"));
        QCOMPARE(m_core.app->read("runner-script.txt"),
                 test::crlf("open 127.0.0.1\nuser edited\nget x y\n**E000101=&/t&\n\n"));
        QVERIFY(!m_core.app->exists("ZUL/TMPE0001.zul") && m_core.app->exists("ZUL/ZULTMP.zul"));
        QVERIFY(m_core.app->exists("ZUL/E0001ZUL.zul"));
    }

    void blankEventIdRunsScriptAsIs()
    {
        const std::string script = test::crlf("open 127.0.0.1\nuser a b\nput /no/such/file /r\n");
        m_core.app->write("ZUL/     ZUL.zul", script);
        auto event = test::makeEvent("     ");
        // Neither would survive being read.
        event->fields["BARUNDAY"] = std::string("never read");
        event->fields["BAFLAG1"] = std::string("1");

        QVERIFY(execute(event));
        QCOMPARE(test::describeAll(messages()),
                 test::describeAll({answered("", std::string("never read"), "127.0.0.1")}));
        const std::string scriptPath = m_core.app->file("ZUL/     ZUL.zul");
        QCOMPARE(com::moduleState().sRunScript, scriptPath);
        QCOMPARE(ModExecut::LastCommandLine(), runner() + scriptPath + "|     ");
        QCOMPARE(m_core.app->read("runner-args.txt"), "true|" + scriptPath + "|     \n");
        QCOMPARE(m_pointerResets.size(), 1);
        QCOMPARE(m_core.app->read("runner-script.txt"), script);
        QVERIFY(!m_core.app->exists("Rcvdchkr.txt") && !m_core.app->exists("ZUL/tZULexe.zul"));
    }

    void failedCheckStillStartsRunner()
    {
        m_core.app->write("ZUL/E0001ZUL.zul", test::crlf("open 127.0.0.1\nuser a b\nput single\n"));
        QVERIFY(execute(test::makeEvent("E0001")));
        QCOMPARE(test::describeAll(messages()), test::describeAll({answered("E0001", std::int16_t{5}, "127.0.0.1")}));
        QCOMPARE(ModExecut::LastCommandLine(), runner() + "|E0001");
        QCOMPARE(m_core.app->read("runner-args.txt"), std::string("true||E0001\n"));
        QVERIFY(!m_core.app->exists("runner-script.txt") && !m_core.app->exists("ZUL/tZULexe.zul"));
    }

    void duplicateRunsUnderNewId_data()
    {
        const auto row = test::columns<int, std::string, std::string, std::string>(); // mode, id, runs as, id after
        row("editor run", 0, "E0001", "E0002", "E0001");
        row("editor run, event without id", 0, "", "E0002", "E0002");
        row("scheduled run ignores the option", 1, "E0001", "E0001", "E0001");
    }
    void duplicateRunsUnderNewId()
    {
        const auto [mode, id, runId, idAfter] = test::fetch<int, std::string, std::string, std::string>();
        m_core.app->write("ZUL/" + id + "ZUL.zul",
                     test::crlf("open 127.0.0.1\nget a b\n**E000101=&/one&\nget a b\n**E000201=&/two&\n"));
        com::moduleState().uEventOption = 4;
        com::moduleState().sNewId = "E0002";
        auto event = test::makeEvent(id);

        QVERIFY(execute(event, mode));
        QCOMPARE(test::describeAll(messages()), test::describeAll({answered(runId, std::int16_t{5}, "127.0.0.1")}));
        QCOMPARE(ModExecut::LastCommandLine(), runner() + runnerCopy() + "|" + runId);
        QCOMPARE(m_core.app->read("Rcvdchkr.txt").substr(0, 8), runId + "01 ");
        QCOMPARE(event->text("BAEvent"), idAfter);
    }

    void partnerNotAnswering()
    {
        m_core.app->write("ZUL/tZULexe.zul", "PREVIOUS\r\n");
        m_core.app->write("ZUL/E0001ZUL.zul", test::crlf("open no-such-host.invalid\nuser a b\nget a b\n**E000101=&/t&\n"));

        QVERIFY(!execute(test::makeEvent("E0001")));
        const com::Args expected{false, msg(4107),       msg(4121),    msg(4122),  "L",  "E0001",
                                 "ZUL", std::int16_t{5}, "03/07/2024", "14:05:09", "90", "no-such-host.invalid"};
        QCOMPARE(test::describeAll(messages()), test::describeAll({expected}));
        QVERIFY(!m_core.app->exists("Rcvdchkr.txt"));
        QCOMPARE(m_core.app->read("ZUL/tZULexe.zul"), std::string("PREVIOUS\r\n"));
        QVERIFY(!m_core.app->exists("runner-args.txt"));
        QVERIFY(m_pointerResets.isEmpty()); // only a started runner sets it back
    }

    void failuresReachTheTrap_data()
    {
        // script (null: no file), change, a partner message first, the description
        const auto row = test::columns<QByteArray, QString, bool, QString>();
        const QByteArray fine("open 127.0.0.1\nuser a b\n");
        row("script missing", {}, "", false, "No such file");
        row("open on the last line", "user a b\nopen 127.0.0.1", "", false, "Invalid procedure call or argument");
        row("run day too big", fine, "run day 40000", true, "Overflow");
        row("run day not a number", fine, "run day Monday", true, "Type mismatch");
        row("runner missing", fine, "no runner", true, "VelundZUL");
    }
    void failuresReachTheTrap()
    {
        const auto [script, change, partnerMessage, description] = test::fetch<QByteArray, QString, bool, QString>();
        if (!script.isNull())
            m_core.app->write("ZUL/E0001ZUL.zul", test::crlf(script.toStdString()));
        auto event = test::makeEvent("E0001");
        if (change == "run day 40000")
            event->fields["BARUNDAY"] = std::int32_t{40000};
        if (change == "run day Monday")
            event->fields["BARUNDAY"] = std::string("Monday");
        if (change == "no runner")
            QVERIFY(QFile::remove(QString::fromStdString(m_core.app->file("VelundZUL"))));

        QVERIFY(!execute(event));
        QCOMPARE(messages().size(), std::size_t(partnerMessage ? 2 : 1));
        if (partnerMessage)
            QCOMPARE(messages().front()[1], com::Variant(msg(4124)));
        com::Args report = messages().back();
        QCOMPARE(report.size(), std::size_t{10});
        const std::string text = report.back().toText();
        QVERIFY2(QString::fromStdString(text).contains(description), text.c_str());
        report.pop_back();
        const com::Args expected{false,        msg(3281),  "L", "E0001", "ZUL", event->Field("BARUNDAY"),
                                 "03/07/2024", "14:05:09", "90"};
        QCOMPARE(test::describe(report), test::describe(expected));
        QVERIFY(!m_core.app->exists("runner-args.txt") && m_pointerResets.isEmpty());
    }

    void partnerAddress_data()
    {
        const auto row = test::columns<QByteArray, QByteArray>();
        row("first line", "open 192.168.1.20\nuser a b\n", "192.168.1.20");
        row("second blank kept", "open  ftp.example.test\nuser a b\n", " ftp.example.test");
        row("trailing blanks dropped", "open ftp.example.test   \nuser a b\n", "ftp.example.test");
        row("inside an earlier word", "lcd /data/reopen/x\nopen h\n", "x");
        row("capitals only", "OPEN host.test\nuser a b\n", " host.test");
        row("leading blank lines", "\n   \n\nopen 10.1.1.1\nuser a b\n", "10.1.1.1");
        row("nothing after open", "open1\nuser a b\n", "");
        // The blank after a bare "open" goes when the next line is added, so the address starts inside the line end.
        row("bare open", "open \nuser a b\nquit\n", "\nuser a b");
    }
    void partnerAddress()
    {
        const auto [script, address] = test::fetch<QByteArray, QByteArray>();
        FakePingState* fake = useFakePing();
        QVERIFY(fake);
        m_core.app->write("ZUL/E0001ZUL.zul", test::crlf(script.toStdString()));

        QVERIFY(execute(test::makeEvent("E0001")));
        QCOMPARE(QByteArray(fake->address), address);
        QCOMPARE(test::describeAll(messages()),
                 test::describeAll({answered("E0001", std::int16_t{5}, address.toStdString())}));
    }

    void emptySendFlag_data()
    {
        const auto row = test::columns<QString, bool>();
        for (const char* on : {"1", "1  ", "  1"})
            row(on, on, true);
        for (const char* off : {"01", "Y", "-1", ""})
            row(off, off, false);
    }
    void emptySendFlag()
    {
        const auto [flag, set] = test::fetch<QString, bool>();
        QVERIFY(useFakePing());
        m_core.app->write("empty.dat", "");
        const std::string put = "put " + m_core.app->file("empty.dat") + " /r";
        m_core.app->write("ZUL/E0001ZUL.zul", test::crlf("open h\n" + put + "\n"));
        auto event = test::makeEvent("E0001");
        event->fields["BAFLAG1"] = flag.toStdString();

        QVERIFY(execute(event));
        QCOMPARE(m_core.app->read("ZUL/tZULexe.zul"),
                 test::crlf("open h\n" + std::string(set ? "****" : "") + put + "\n\n"));
        QCOMPARE(messages().size(), std::size_t(set ? 2 : 1));
        if (set)
            QCOMPARE(messages().back()[1], com::Variant(msg(4096)));
    }
};

QTEST_GUILESS_MAIN(TestRunDriver)
#include "tst_run_driver.moc"
