// Text that reaches the runner from outside: server names, commands written
// down, server replies, netrc files, settings.
#include "runner/Masking.h"
#include "runner/Netrc.h"
#include "runner/SafeName.h"
#include "runner/Script.h"
#include "runner/Settings.h"

#include <QTest>

using namespace zul::runner;

class RunnerTextTest : public QObject {
    Q_OBJECT

private slots:
    void safeNames_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("local"); // empty: skipped
        QTest::newRow("plain") << QByteArray("report.txt") << QByteArray("report.txt");
        QTest::newRow("backslash traversal") << QByteArray("..\\..\\..\\..\\tmp\\pwned.txt") << QByteArray("pwned.txt");
        QTest::newRow("slash traversal") << QByteArray("../evil.txt") << QByteArray("evil.txt");
        QTest::newRow("absolute") << QByteArray("/etc/passwd") << QByteArray("passwd");
        QTest::newRow("drive letter") << QByteArray("C:\\x\\y.txt") << QByteArray("y.txt");
        QTest::newRow("dots inside a name stay") << QByteArray("a..b.txt") << QByteArray("a..b.txt");
        QTest::newRow("hidden name stays") << QByteArray(".profile") << QByteArray(".profile");
        QTest::newRow("code-page byte stays") << QByteArray("caf\xe9.txt") << QByteArray("caf\xe9.txt");
        QTest::newRow("dot dot") << QByteArray("..") << QByteArray();
        QTest::newRow("dot dot after a folder") << QByteArray("a\\..") << QByteArray();
        QTest::newRow("dot") << QByteArray("sub/.") << QByteArray();
        QTest::newRow("folder") << QByteArray("sub/") << QByteArray();
        QTest::newRow("empty") << QByteArray("") << QByteArray();
        QTest::newRow("escape sequence") << QByteArray("a\x1b[2J.txt") << QByteArray();
        QTest::newRow("carriage return") << QByteArray("a\r.txt") << QByteArray();
        QTest::newRow("delete byte") << QByteArray("a\x7f") << QByteArray();
        QTest::newRow("too long") << QByteArray(256, 'n') << QByteArray();
        QTest::newRow("just long enough") << QByteArray(255, 'n') << QByteArray(255, 'n');
    }
    void safeNames()
    {
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, local);
        std::string why;
        const auto got = safeLocalName(server.toStdString(), &why);
        QCOMPARE(QByteArray::fromStdString(got.value_or("")), local);
        QCOMPARE(why.empty(), got.has_value());
    }

    void masking_data()
    {
        QTest::addColumn<int>("kind"); // 0 command sent, 1 text that may echo one, 2 script line
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("PASS") << 0 << QByteArray("PASS pw") << QByteArray("PASS ****");
        QTest::newRow("Pass") << 0 << QByteArray("Pass pw") << QByteArray("Pass ****");
        QTest::newRow("acct") << 0 << QByteArray("acct a b") << QByteArray("acct ****");
        QTest::newRow("quote's ignore-failure star") << 0 << QByteArray("*PASS pw") << QByteArray("*PASS ****");
        QTest::newRow("other command") << 0 << QByteArray("PASV") << QByteArray("PASV");
        QTest::newRow("echo in a reply") << 1 << QByteArray("500 'Pass pw12': unknown")
                                         << QByteArray("500 'Pass ****': unknown");
        QTest::newRow("echo in a message") << 1 << QByteArray("line 4: acct x1: QUOT command failed")
                                           << QByteArray("line 4: acct **** QUOT command failed");
        QTest::newRow("masked already") << 1 << QByteArray("line 4: ACCT ****: QUOT command failed")
                                        << QByteArray("line 4: ACCT ****: QUOT command failed");
        QTest::newRow("password as a word stays") << 1 << QByteArray("the password for zul comes from /n")
                                                  << QByteArray("the password for zul comes from /n");
        QTest::newRow("bypass is no PASS") << 1 << QByteArray("bypass x") << QByteArray("bypass x");
        QTest::newRow("user line") << 2 << QByteArray("User bob pw") << QByteArray("User bob ****");
        QTest::newRow("quote Pass") << 2 << QByteArray("quote Pass pw") << QByteArray("quote Pass ****");
        QTest::newRow("literal acct") << 2 << QByteArray("LITERAL acct pw") << QByteArray("LITERAL acct ****");
        QTest::newRow("quote other") << 2 << QByteArray("quote SITE x") << QByteArray("quote SITE x");
    }
    void masking()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, written);
        const std::string t = text.toStdString();
        const std::string got = kind == 0 ? maskCommand(t) : kind == 1 ? maskEchoedCommands(t) : maskLine(t);
        QCOMPARE(QByteArray::fromStdString(got), written);
    }

    void controlBytesAreEscaped()
    {
        QCOMPARE(escapeControls(std::string("a\x1b[31mb\x07\tc\x7f\xe9", 12) + std::string(1, '\0')),
                 std::string("a\\x1B[31mb\\x07\tc\\x7F\xe9\\x00"));
    }

    void netrc_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("password"); // empty: none
        const QByteArray two = "machine a.example login zul password one\nmachine b.example login zul password two\n";
        const auto row = [](const char* tag, const QByteArray& text, const char* host, const char* password) {
            QTest::newRow(tag) << text << QByteArray(host) << QByteArray(password);
        };
        row("first machine", two, "a.example", "one");
        row("second machine, other case", two, "B.Example", "two");
        row("no entry", two, "c.example", "");
        row("default after machines", two + "default login zul password dflt", "c.example", "dflt");
        row("machine wins over an earlier default", "default login zul password dflt\n" + two, "b.example", "two");
        row("other login skipped", "machine h login bob password b\nmachine h login zul password z\n", "h", "z");
        row("entry without login", "machine h password any", "h", "any");
        row("one line, tabs, account", "machine\th\tlogin zul\taccount acc password pw", "h", "pw");
        row("quoted password", "machine h login zul password \"a b\\\"c\"", "h", "a b\"c");
        row("macdef body skipped",
            "macdef init\nmachine h login zul password fake\n\nmachine h login zul password real\n", "h", "real");
        row("password named macdef", "machine h login zul password macdef\n", "h", "macdef");
        row("comment line", "# machine h login zul password c\nmachine h login zul password p", "h", "p");
        row("truncated entry", "machine h login zul password", "h", "");
        row("password that begins with #", "machine h login zul password #Xy9", "h", "#Xy9");
    }
    void netrc()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, password);
        const auto got = netrcFind(text.toStdString(), host.toStdString(), "zul");
        QCOMPARE(QByteArray::fromStdString(got.value_or("")), password);
    }

    void limitsFromTheSettingsFile()
    {
        const auto s = Settings::fromConfig(ConfigFile::parse(
            "RETRY_BUDGET = 45\nLIST_MAX_NAMES = 10\n[slow.example]\nretry_budget = 600\nlist_max_bytes = 99\n"));
        QCOMPARE(s.retryBudget.count(), 45);
        QCOMPARE(s.listMaxNames, 10L);
        const auto slow =
            Settings::fromConfig(ConfigFile::parse("[slow.example]\nretry_budget = 600\n"), "SLOW.example");
        QCOMPARE(slow.retryBudget.count(), 600);
        const Settings defaults;
        QVERIFY(defaults.retryBudget.count() > 0 && defaults.retryBudget.count() <= 300); // a stall ends in minutes
    }
};

QTEST_GUILESS_MAIN(RunnerTextTest)
#include "tst_runnertext.moc"
