#include "ftpscript/Grammar.h"
#include "ftpscript/Lint.h"
#include "ftpscript/ScriptParser.h"
#include "support/Rows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace zul::ftpscript;

namespace {

// "LINE severity code" for each diagnostic, in order.
QStringList shortForm(const std::vector<Diagnostic>& ds)
{
    QStringList out;
    for (const auto& d : ds)
        out << QString::number(d.line) + " " + QString::fromLatin1(severityName(d.severity)) + " " +
                   QString::fromStdString(d.code);
    return out;
}

const QByteArray kLogin = "open 127.0.0.1 2121\nuser zul Secret-pw1\n";

} // namespace

class LintTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void problems_data()
    {
        const auto row = zul::test::columns<QByteArray, QStringList>();
        row("unknown command after a login", kLogin + "gett a.txt\nquit\n", {"3 error unknown-command"});
        row("every unknown command, not just the first",
            kLogin + "gett a\n\n\nfetch b\n", {"3 error unknown-command", "6 error unknown-command"});
        row("get without a name", kLogin + "get\n", {"3 error arguments"});
        row("rename with one name", kLogin + "rename a\n", {"3 error arguments"});
        row("pwd with a name", kLogin + "pwd x\n", {"3 error arguments"});
        row("quoted name counts once", kLogin + "get \"my file.txt\" \"your file.txt\"\n", {});
        row("unknown transfer type", kLogin + "type ebcdic\n", {"3 error transfer-type"});
        row("port too big", "open h 99999\nuser a b\n", {"1 error bad-port"});
        row("unknown scheme", "open gopher://h\nuser a b\n", {"1 error unknown-scheme"});
        row("scheme without a host", "open sftp://\nuser a b\n", {"1 error no-host"});
        row("open without an address", "open\nuser a b\n", {"1 error arguments"});
        row("transfer before open", "get a b\nopen h\nuser a b\n", {"1 error not-connected"});
        row("user before open", "user a b\nopen h\n", {"1 error not-connected"});
        row("transfer after close", kLogin + "close\nput /dev/null x\n", {"4 error not-connected"});
        row("transfer without a login", "open h\ncd /x\nuser a b\n", {"2 error not-logged-in"});
        row("nothing after quit is run", "quit\nget a\n", {});
        row("marker after a line that is no GET", kLogin + "cd x\n**E000101=&/in/a&\n", {"4 error marker"});
        row("marker of another GET",
            kLogin + "get a /app/Junction/E000101.txt\n**E000102=&/in/a&\n", {"4 error marker"});
        row("marker without its closing &",
            kLogin + "get a /app/Junction/E000101.txt\n**E000101=&/in/a\n", {"4 error marker"});
        row("marker without a target", kLogin + "get a /app/Junction/E000101.txt\n**E000101=&&\n", {"4 error marker"});
        row("GET lost its head in the rewrite",
            kLogin + " /app/Junction/E000101.txt\n**E000101=&/in/a&\n", {"3 error unknown-command", "4 error marker"});
        row("ascii over sftp",
            "open sftp://h\nuser a b\nascii\ntype A\nbinary\n",
            {"3 warning ascii-over-sftp", "4 warning ascii-over-sftp"});
        row("ascii over ftps is fine", "open ftps://h\nuser a b\nascii\n", {});
        row("put of a missing file",
            kLogin + "put /no/such/zul/file.txt x\nappend /no/such/zul/file.txt x\n",
            {"3 warning missing-local-file", "4 warning missing-local-file"});
        row("name and password on the line after open", "open h\nops s3cret\n", {"2 error bare-user"});
        row("mistyped command after open", "open h\ngett a.txt\npw\n", {"2 error bare-user"});
        row("command after a login without a password stays a command (netrc)",
            "open h\nuser ops\n\nget in.txt /tmp/in.txt\nquit\n", {});
        // Lines that the runner reads as a user name or a password are never commands.
        row("password on the next line", "open h\nuser bob\n\ngett\nls\n", {});
        row("name and password after open", "open h\nbob\nput-it\nls\n", {});
        row("password with a star", "open h\nuser bob\n*x\nls\n", {});
        row("an earlier line holds open", "lcd /data/reopen\nopen h\nuser a b\n", {"1 warning partner-address"});
        row("open in capitals after another line", "lcd /data\nOPEN h\nuser a b\n", {"1 warning partner-address"});
        row("open in capitals read from the fifth character", "OPEN h 2121\nuser a b\n", {});
        row("the host holds open", "OPEN reopen.example\nuser a b\n", {"1 warning partner-address"});
        row("open quoted: the partner check reads the quotes", "open \"h\"\nuser a b\n", {"1 warning partner-address"});
        row("several kinds, line numbers exact",
            "get a\r\nopen h 70000\r\nuser u p\r\n\r\nlist\r\nquit\r\n",
            {"1 error not-connected", "2 error bad-port", "5 error unknown-command"});
    }
    void problems()
    {
        auto [script, found] = zul::test::fetch<QByteArray, QStringList>();
        QCOMPARE(shortForm(lint(script.toStdString())), found);
        if (!script.contains('\r'))
            QCOMPARE(shortForm(lint(script.replace("\n", "\r\n").toStdString())), found);
    }

    // Warnings where a partner's upload settings cannot apply; only hosts "mvs" and "h" have them.
    void uploadSettings_data()
    {
        const auto row = zul::test::columns<QByteArray, QStringList>();
        row("temporary name and a data set",
            QByteArray("open mvs\nuser a b\nput /dev/null 'HLQ.DATA(A)'\n"
                       "put /dev/null plain.txt\nappend /dev/null x\n"),
            QStringList{"3 warning upload-temp", "5 warning upload-temp"});
        row("another partner has none",
            QByteArray("open other\nuser a b\nput /dev/null 'HLQ.DATA'\nascii\nput /dev/null x\n"), QStringList{});
        row("hash over sftp and in ascii",
            QByteArray("open h\nuser a b\nascii\nput /dev/null x\nbinary\nput /dev/null y\n"
                       "open sftp://h\nuser a b\nput /dev/null z\n"),
            QStringList{"4 warning verify-hash", "9 warning verify-hash"});
    }
    void uploadSettings()
    {
        const auto [script, found] = zul::test::fetch<QByteArray, QStringList>();
        LintOptions options;
        options.uploads = [](const std::string& host) {
            return LintOptions::Uploads{host == "mvs", host == "h"};
        };
        QCOMPARE(shortForm(lint(script.toStdString(), options)), found);
    }

    // Findings end up in CI logs: none repeats a password, wherever it stands.
    void passwordsNeverShown_data()
    {
        const auto row = zul::test::columns<QByteArray>();
        row("name and password on the line after open", QByteArray("open h\nbob Secret-pw1\nx\n"));
        row("login with too many words", QByteArray("open h\nuser bob Secret-pw1 a b\n"));
        row("login before open", QByteArray("user bob Secret-pw1\nopen h\n"));
        row("quote pass before open", QByteArray("quote PASS Secret-pw1\n"));
        row("password holding open before the open line", QByteArray("user bob open-Secret-pw1\nopen h\n"));
        row("password line that is a command word", QByteArray("open h\nuser bob\nSecret-pw1 x y\n"));
    }
    void passwordsNeverShown()
    {
        const auto [script] = zul::test::fetch<QByteArray>();
        const auto found = lint(script.toStdString());
        for (const auto& d : found)
            QVERIFY2(d.message.find("Secret-pw1") == std::string::npos, d.message.c_str());
        QVERIFY(summary(found).find("Secret-pw1") == std::string::npos);
    }

    // The messages and the other summaries are read through the editor's lint view.
    void summaryOfBothKinds()
    {
        QCOMPARE(summary(lint("open sftp://h\nuser a b\nascii\nput\n")),
                 std::string("1 problem, 1 warning: line 4: wrong number of arguments for 'put' (1 or 2 expected, 0 "
                             "given)"));
    }

    // Relative local names are looked up in the lcd folder or the given one.
    void localFolder()
    {
        QVERIFY(QFile(m_dir.filePath("there.txt")).open(QIODevice::WriteOnly));
        const std::string dir = m_dir.path().toStdString();
        QCOMPARE(shortForm(lint(kLogin.toStdString() + "lcd " + dir + "\nput there.txt\nput gone.txt\n")),
                 QStringList{"5 warning missing-local-file"});
        LintOptions o;
        o.localFolder = dir;
        QCOMPARE(shortForm(lint(kLogin.toStdString() + "put there.txt\nput gone.txt\n", o)),
                 QStringList{"4 warning missing-local-file"});
        QCOMPARE(shortForm(lint(kLogin.toStdString() + "put gone.txt\n")), QStringList{}); // folder unknown
        o.checkLocalFiles = false;
        QCOMPARE(shortForm(lint(kLogin.toStdString() + "put /no/such/zul/file\n", o)), QStringList{});
    }

    // Scripts that run (samples, other tests' scripts) report nothing; their local files are not looked for.
    void cleanScripts_data()
    {
        const auto row = zul::test::columns<QByteArray>();
        for (const char* sample : {"ASsmpl.smp", "Unixsmpl.smp", "Winsmpl.smp", "mainsmpl.smp"}) {
            QFile f(QStringLiteral(ZUL_SOURCE_DIR "/samples/") + QLatin1String(sample));
            QVERIFY(f.open(QIODevice::ReadOnly));
            row(sample, f.readAll());
        }
        row("runner modes", kLogin + "ascii\nPUT in.dat x.dat\ncd sub\ncdup\nget x.dat y.dat\ntype a\n");
        row("runner many", kLogin + "mkdir many\ncd many\nmput *.txt\nmget m1*.txt\nmdelete m*\nls\n"
                                    "dir . list.txt\npwd\nrmdir x\nrename a b\ndelete c\n");
        row("runner disabled put", kLogin + "****put empty.txt disabled.txt\nquit\n");
        row("runner receipt", kLogin + "get f.txt /app/Junction/E000101.txt\n**E000101=&/in/f.txt&\n");
        row("runner quote and site",
            kLogin + "cd sub\nsite HELP\nquote PASS x\nliteral SITE A=B\npassive\nprompt off\nhash\nbye\n");
        row("run driver event script",
            QByteArray("open 127.0.0.1\nuser anon secret\n\nget /r/a.txt /j/E000101.txt\n**E000101=&/in/a.txt&\n"));
        row("run driver copy", QByteArray("open 127.0.0.1\nuser edited\npw\nget x y\n**y=&/t&\n"));
        row("fast path",
            QByteArray("open 1.2\r\nuser u p\r\nput a.txt b.txt\r\nput \"/my files/a b.txt\" \"c d.txt\"\r\n"
                       "get remote.dat /tmp/local.dat\r\nclose\r\nopen 10.1.1.5\r\nuser usr pw\r\nquit"));
        row("e2e", QByteArray("open 127.0.0.1 2121\r\nuser ops Secr3t-pw\r\nbinary\r\nput /dev/null "
                              "send.txt\r\nget recv.txt /app/Junction/E000101.txt\r\n"
                              "**E000101=&/tmp/recv.txt&\r\nquit\r\n"));
        row("schemes", QByteArray("open ftpes://h\nuser a b\nclose\nopen SFTP://h 2222\nuser a b\n"
                                  "binary\nclose\nopen ftps://[::1]\nuser a b\n"));
        row("tabs and blanks", QByteArray("  open\th \t\n\tuser a b\n  ls  \n"));
        row("empty", QByteArray());
    }
    void cleanScripts()
    {
        const auto [script] = zul::test::fetch<QByteArray>();
        LintOptions o;
        o.checkLocalFiles = false;
        QCOMPARE(shortForm(lint(script.toStdString(), o)), QStringList{});
    }

    // Whatever the runner's parser refuses, with its line and why, the lint reports on the same line.
    void agreesWithTheRunner_data()
    {
        const auto row = zul::test::columns<QByteArray, int, QString>();
        row("unknown", QByteArray("open h\r\nuser a b\r\n\r\nfetch x\r\n"), 4, "unknown");
        row("get without a name", QByteArray("get\n"), 1, "wrong number");
        row("port", QByteArray("open h 65536\n"), 1, "bad port");
        row("type", QByteArray("type ebcdic\n"), 1, "unknown transfer type");
        row("quoted command word", QByteArray("open h\nuser a b\n\"frob\" x\n"), 3, "unknown");
    }
    void agreesWithTheRunner()
    {
        const auto [script, line, message] = zul::test::fetch<QByteArray, int, QString>();
        const auto parsed = parseScript(script.toStdString());
        QVERIFY(std::holds_alternative<ParseError>(parsed));
        const ParseError& e = std::get<ParseError>(parsed);
        QCOMPARE(e.line, line);
        QVERIFY2(QString::fromStdString(e.message).contains(message), e.message.c_str());
        bool sameLine = false;
        for (const auto& d : lint(script.toStdString()))
            sameLine = sameLine || (d.severity == Severity::Error && d.line == line);
        QVERIFY(sameLine);
    }

    // The words as the runner splits them, with their places for colouring.
    void spans()
    {
        const std::string line = "put \"my file.txt\"\t'A B'x  last";
        std::vector<WordSpan> spans;
        wordSpans(line, spans);
        const auto words = splitWords(line);
        QCOMPARE(spans.size(), words.size());
        for (std::size_t i = 0; i < spans.size(); ++i)
            QCOMPARE(wordText(line, spans[i]), words[i]);
        QCOMPARE(line.substr(spans[2].begin, spans[2].end - spans[2].begin), std::string("'A B'x"));
    }
};

QTEST_GUILESS_MAIN(LintTest)
#include "tst_lint.moc"
