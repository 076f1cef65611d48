#include "exec/ModExecut.h"
#include "exec/Pinng.h"

#include "ExecTestSupport.h"
#include "com/ModuleState.h"
#include "platform/Text.h"
#include "platform/Yield.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include <QtTest>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using namespace zul;

namespace {

enum Option { SendEmpty = 1, RZ = 2, RT = 4, RC = 8 };

const std::string Stamp = "20240307140509";

// n GET lines of event E0001, each followed by its marker line.
std::string gets(int n)
{
    std::string out;
    for (int i = 1; i <= n; ++i) {
        const std::string ordinal = platform::twoDigits(i);
        out +=
            "get /r/f" + ordinal + " /j/E0001" + ordinal + ".txt\n**E0001" + ordinal + "=&/home/u/f" + ordinal + "&\n";
    }
    return out;
}

} // namespace

using Put = std::tuple<QString, bool, QString, int>;

class TestReceiptRegister : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_app;
    std::shared_ptr<test::RecordingMessages> m_messages;

    std::string check(const std::string& script, int options = 0, const std::string& id = "E0001")
    {
        m_app->write("run.zul", test::crlf(script));
        return ModExecut::CheckTransfers(id, m_app->file("run.zul"), options & SendEmpty, options & RZ, options & RT,
                                         options & RC, 5);
    }
    std::string runnerCopyPath() const { return m_app->file("ZUL/tZULexe.zul"); }

private slots:
    void init()
    {
        com::resetModuleState();
        m_messages = std::make_shared<test::RecordingMessages>();
        com::moduleState().oMsgService = m_messages;
        platform::setClock(test::fixedTime);
        m_app = std::make_unique<test::TempAppFolder>();
    }
    void cleanup()
    {
        platform::setYieldHook({});
        m_app.reset();
        platform::setClock({});
        com::resetModuleState();
    }

    void registerLines_data()
    {
        const auto row =
            test::columns<QByteArray, QByteArray, int, std::string,
                          QByteArray>(); // register before (null: none yet), script, options, id, register after
        const QByteArray two = QByteArray::fromStdString("open h\n" + gets(2) + "quit\n");
        const QByteArray s = QByteArray::fromStdString(Stamp);
        row("created, two records in order", {}, two, RZ | RC, "E0001",
            "E000101 " + s + " RZ    RC &/home/u/f01&\nE000102 " + s + " RZ    RC &/home/u/f02&\n");
        row("replaced in place, new one appended",
            "E000101 20200101000000 RZ RT RC &/old&\nX000101 20200101000000          &/x&\n", two, 0, "E0001",
            "E000101 " + s + "          &/home/u/f01&\nX000101 20200101000000          &/x&\nE000102 " + s +
                "          &/home/u/f02&\n");
        row("first match only, other lines trimmed",
            "  E000101 indented\n\nE000101 another program's line\nE000101 second\n  other  \n", two, RT, "E0001",
            "E000101 indented\n\nE000101 " + s + "    RT    &/home/u/f01&\nE000101 second\nother\nE000102 " + s +
                "    RT    &/home/u/f02&\n");
        row("no options, no target: ends after the stamp", {}, "get a b\n**E000101\n", 0, "E0001",
            "E000101 " + s + "\n");
        row("target cut to its 50 characters", {}, "**E000101=&/" + QByteArray(59, 'a') + "&\n", RZ | RT | RC, "E0001",
            "E000101 " + s + " RZ RT RC &/" + QByteArray(48, 'a') + "\n");
        row("six-character id", {}, "**E0000101=&/a&\n", 0, "E00001", "");
        row("id in small letters", {}, "**e000101=&/a&\n", 0, "e0001", "");
        row("markers of another event", "kept\n", "**E000201=&/a&\n", 0, "E0001", "kept\n");
    }
    void registerLines()
    {
        const auto [before, script, options, id, after] =
            test::fetch<QByteArray, QByteArray, int, std::string, QByteArray>();
        if (!before.isNull())
            m_app->write("Rcvdchkr.txt", test::crlf(before.toStdString()));

        QCOMPARE(check(script.toStdString(), options, id), runnerCopyPath());
        QCOMPARE(m_app->read("Rcvdchkr.txt"), test::crlf(after.toStdString()));
        // Marker lines reach the runner copy unchanged.
        QVERIFY(m_app->read("ZUL/tZULexe.zul").find(test::crlf(script.toStdString())) != std::string::npos);
        QVERIFY(m_messages->calls.empty());
    }

    void runnerCopyHoldsTrimmedNonBlankLines()
    {
        // It holds the run's password: owner-only, also over a copy that an older version left readable.
        m_app->write("ZUL/tZULexe.zul", "PREVIOUS\r\n");
        ::chmod(runnerCopyPath().c_str(), 0644);
        const mode_t mask = ::umask(022);
        QCOMPARE(check("\n  open h  \n\n   \n\tbinary\t\n**E000101=&/a b&  \nquit"), runnerCopyPath());
        ::umask(mask);
        QCOMPARE(test::fileMode(QString::fromStdString(runnerCopyPath())), 0600);
        QCOMPARE(m_app->read("ZUL/tZULexe.zul"),
                 std::string("open h\r\n\tbinary\t\r\n**E000101=&/a b&\r\nquit\r\n\r\n"));
    }

    void putLines_data()
    {
        // %E empty file, %F file with data, %M missing file; message 0: none
        const auto row = test::columns<QString, bool, QString, int>();
        row("missing", "put %M /r/x", true, "put %M /r/x", 4111);
        row("empty, option set", "PUT %E /r/x", true, "****PUT %E /r/x", 4096);
        row("empty, option clear", "PUT %E /r/x", false, "PUT %E /r/x", 0);
        row("with data", "Put %F /r/x", true, "Put %F /r/x", 0);
        row("mixed case, trailing blanks", "pUt %E /r/x   ", true, "****pUt %E /r/x", 4096);
        row("longer command word", "PUTS %E /r/x", true, "PUTS %E /r/x", 4111);
        row("leading blanks shift the name", "  PUT %E /r/x", true, "PUT %E /r/x", 4111);
        // One file sent to two places is looked at once, and each line still says so.
        row("missing, sent twice", "put %M /r/x\nput %M /r/y", true, "put %M /r/x\nput %M /r/y", 4111);
        row("empty, sent twice", "put %E /r/x\nput %E /r/y", true, "****put %E /r/x\n****put %E /r/y", 4096);
    }
    void putLines()
    {
        const auto [line, sendEmpty, copied, message] = test::fetch<QString, bool, QString, int>();
        m_app->write("empty.dat", "");
        m_app->write("full.dat", "x");
        const auto fill = [&](QString s) {
            return s.replace("%E", QString::fromStdString(m_app->file("empty.dat")))
                .replace("%F", QString::fromStdString(m_app->file("full.dat")))
                .replace("%M", QString::fromStdString(m_app->file("missing.dat")))
                .toStdString();
        };

        QCOMPARE(check("open h\n" + fill(line) + "\n", sendEmpty ? SendEmpty : 0), runnerCopyPath());
        QCOMPARE(m_app->read("ZUL/tZULexe.zul"), test::crlf("open h\n" + fill(copied) + "\n\n"));
        QStringList expected;
        for (int i = 0; message && i <= line.count('\n'); ++i)
            expected << test::describe(
                {false, com::msg(message), "L", "E0001", "ZUL", "5", "03/07/2024", "14:05:09", "90"});
        QCOMPARE(test::describeAll(m_messages->calls), expected);
    }

    void failuresLeaveFilesAlone_data()
    {
        const auto row = test::columns<QByteArray, QByteArray>();
        row("blank lines only", QByteArray("  \n\n   \n"), QByteArray());
        row("PUT with one name", QByteArray("open h\nput onlyname\n"), QByteArray());
        row("51 markers", QByteArray::fromStdString(gets(51)), QByteArray());
        row("script of 32768 lines", QByteArray("cd x\n").repeated(32768), QByteArray());
        row("register of 32768 lines", QByteArray::fromStdString(gets(1)), QByteArray("long register"));
        row("script missing", QByteArray("open h\n"), QByteArray("no script"));
        row("message service missing", QByteArray("put /no/such/file /r\n"), QByteArray("no service"));
        row("runner copy not writable", QByteArray::fromStdString(gets(1)), QByteArray("no ZUL folder"));
    }
    void failuresLeaveFilesAlone()
    {
        const auto [script, setup] = test::fetch<QByteArray, QByteArray>();
        const std::string registerBefore =
            setup == "long register" ? QByteArray("E000101 x\n").repeated(32768).toStdString() : "KEEP 1\n  KEEP 2  \n";
        m_app->write("Rcvdchkr.txt", test::crlf(registerBefore));
        m_app->write("ZUL/tZULexe.zul", "PREVIOUS\r\n");
        if (setup == "no service")
            com::moduleState().oMsgService.reset();
        if (setup == "no ZUL folder")
            QVERIFY(QDir(QString::fromStdString(m_app->file("ZUL"))).removeRecursively());

        QCOMPARE(setup == "no script"
                     ? ModExecut::CheckTransfers("E0001", m_app->file("none.zul"), true, true, true, true, 5)
                     : check(script.toStdString(), SendEmpty | RZ),
                 std::string());
        QCOMPARE(m_app->read("Rcvdchkr.txt"), test::crlf(registerBefore));
        if (setup != "no ZUL folder")
            QCOMPARE(m_app->read("ZUL/tZULexe.zul"), std::string("PREVIOUS\r\n"));
        // Nor a new register left half-way beside the old one.
        QCOMPARE(QDir(QString::fromStdString(m_app->file(""))).entryList({".zul-tmp-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    void fiftyMarkersPerCheck()
    {
        QCOMPARE(check(gets(50)), runnerCopyPath());
        QCOMPARE(ModExecut::NewReceipts().count, std::int16_t{50});
        QCOMPARE(ModExecut::LastReceipt().join().size(), ModExecut::ReceiptRecord::Width);
        QCOMPARE(check(gets(50)), runnerCopyPath());
        // The second check replaced every record: no new entries, no growth.
        QCOMPARE(ModExecut::NewReceipts().count, std::int16_t{50});
        for (int i = 1; i <= 50; ++i)
            QVERIFY(ModExecut::NewReceipts().entries[i].empty());
        auto reg = QByteArray::fromStdString(m_app->read("Rcvdchkr.txt"));
        QCOMPARE(reg.count("\r\n"), 50);
        QVERIFY(reg.startsWith("E000101 ") && reg.contains("\r\nE000150 "));
    }

    // Copies left by a killed merge go with the next check; in the script folder only those an hour old.
    void killedMergeLeftoversGo()
    {
        const auto plant = [&](const std::string& rel, std::time_t age) {
            m_app->write(rel, "torn");
            const timespec times[2] = {{std::time(nullptr) - age, 0}, {std::time(nullptr) - age, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, m_app->file(rel).c_str(), times, 0), 0);
        };
        plant(".zul-tmp-Ab12Cd", 0);
        plant("ZUL/.zul-tmp-old123", 7200);
        plant("ZUL/.zul-tmp-new123", 10);
        plant("ZUL/.zul-temp-keep", 7200);
        QCOMPARE(check(gets(1)), runnerCopyPath());
        QVERIFY(!m_app->exists(".zul-tmp-Ab12Cd") && !m_app->exists("ZUL/.zul-tmp-old123"));
        QVERIFY(m_app->exists("ZUL/.zul-tmp-new123") && m_app->exists("ZUL/.zul-temp-keep"));
    }

    // The partner check through whatever libping32.so the folder holds.
    void callAndResult_data()
    {
        const auto row = test::columns<QByteArray, int, bool>(); // address, the library's answer, the result
        row("0 answered", "10.1.2.3", 0, true);
        row("1, leading blank kept", " ftp.example.test", 1, false);
        row("-1, empty address", "", -1, false);
        row("largest", "10.1.2.3", 32767, false);
    }
    void callAndResult()
    {
        const auto [address, answer, expected] = test::fetch<QByteArray, int, bool>();
        FakePingState* fake = test::installFakePing(m_app->path());
        QVERIFY(fake);
        fake->answer = static_cast<std::int16_t>(answer);
        int yields = 0;
        platform::setYieldHook([&] { ++yields; });
        QCOMPARE(Pinng::PingPartner(address.toStdString()), expected);
        QCOMPARE(yields, 1);
        QCOMPARE(fake->calls, 1);
        QCOMPARE(QByteArray(fake->address), address);
    }

    void missingLibraryIsSilentPartner()
    {
        QVERIFY(!Pinng::PingPartner("127.0.0.1"));
        // Arriving later, it is loaded at the next call.
        QVERIFY(test::installFakePing(m_app->path()) && Pinng::PingPartner("127.0.0.1"));
    }

    void libraryWithoutFunction()
    {
        QVERIFY(test::installFakePing(m_app->path(), FAKE_NOPING_LIB) && !Pinng::PingPartner("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestReceiptRegister)
#include "tst_receipt_register.moc"
