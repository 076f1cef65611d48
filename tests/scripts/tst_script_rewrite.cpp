#include "com/ModuleState.h"
#include "com/Registry.h"
#include "scripts/FTPCode.h"
#include "support/CoreFixture.h"
#include "support/Files.h"
#include "support/Rows.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <sys/stat.h>

using namespace zul;

namespace {

// "@J/" in expected bytes stands for the Junction folder of the test.
std::string expand(std::string s, const std::string& junction)
{
    for (std::size_t at = s.find("@J/"); at != std::string::npos; at = s.find("@J/", at + junction.size()))
        s.replace(at, 2, junction);
    return s;
}

std::vector<std::string> lineList(const std::string& s)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (std::size_t at; (at = s.find("\r\n", from)) != std::string::npos; from = at + 2)
        out.push_back(s.substr(from, at - from));
    return out;
}

} // namespace

// Event scripts: the work copy rewritten into them and read back into the editor, deleting files.
class ScriptRewriteTest : public QObject {
    Q_OBJECT
    test::CoreFixture m_core;

    std::string junction() const { return m_core.app->file("Junction"); }

private slots:
    void init() { m_core.setUp(); }
    void cleanup() { m_core.tearDown(); }

    void roundTrip_data()
    {
        const auto row = test::columns<QByteArray, QByteArray, QByteArray, QByteArray>();
        row("user, get, put", "user bob\r\nGET a.txt C:\\in\\a.txt\r\nput b.txt", "E01",
            "user bob\r\nGET a.txt @J/E0101.txt\r\n**E0101=&C:\\in\\a.txt&\r\nput b.txt\r\n",
            "user bob\r\nGET a.txt C:\\in\\a.txt\r\nput b.txt\r\n");
        row("ordinals count GET lines only", "GET a.txt x\\a.txt\r\nput p.txt\r\nGET b.csv x\\b.csv", "E0001",
            "GET a.txt @J/E000101.txt\r\n**E000101=&x\\a.txt&\r\nput p.txt\r\n"
            "GET b.csv @J/E000102.csv\r\n**E000102=&x\\b.csv&\r\n",
            "GET a.txt x\\a.txt\r\nput p.txt\r\nGET b.csv x\\b.csv\r\n");
        const char* oneGet = "GET a.txt @J/E0101.txt\r\n**E0101=&C:\\a.txt&\r\n";
        row("small letters keep their case", "get a.txt C:\\a.txt", "E01",
            "get a.txt @J/E0101.txt\r\n**E0101=&C:\\a.txt&\r\n", "get a.txt C:\\a.txt\r\n");
        row("extra blanks after the remote name", "GET a.txt     C:\\a.txt   ", "E01", oneGet,
            "GET a.txt C:\\a.txt\r\n");
        // No blank after the fifth character: the head is empty, and the pair no longer reads as a GET when loaded.
        row("GET with one file name", "GET a.txt", "E01", " @J/E0101.txt\r\n**E0101=&a.txt&\r\n",
            "@J/E0101.txt\r\n**E0101=&a.txt&\r\n");
        // The first blank at or after character 5 is the one after GET.
        row("leading blank loses the remote name", " GET a.txt C:\\a.txt", "E01",
            "GET @J/E0101.txt\r\n**E0101=&C:\\a.txt&\r\n", "GET @J/E0101.txt C:\\a.txt\r\n");
        row("blank and one-character lines", "user bob\r\n\r\nx\r\n    \r\n   put a.txt  \r\n;", "E01",
            "user bob\r\n\r\nx\r\n\r\nput a.txt\r\n;\r\n", "user bob\r\nput a.txt\r\n");
        row("id with blanks around it", "GET a.txt C:\\a.txt", " E01 ", oneGet, "GET a.txt C:\\a.txt\r\n");
        row("tabs are not blanks", "\tuser bob \t", "E01", "\tuser bob \t\r\n", "\tuser bob \t\r\n");

        QByteArray many, manyScript, manyDisplay;
        for (int i = 1; i <= 100; ++i) {
            const QByteArray n = QByteArray::number(i);
            const QByteArray ord = i < 10 ? "0" + n : n;
            many += "GET f" + n + ".txt t" + n + ".txt\r\n";
            manyScript += "GET f" + n + ".txt @J/E01" + ord + ".txt\r\n**E01" + ord + "=&t" + n + ".txt&\r\n";
            manyDisplay += "GET f" + n + ".txt t" + n + ".txt\r\n";
        }
        // The work copy's empty last line stays in the event script and is dropped on load.
        row("ordinal 100 after 99", many, "E01", manyScript + "\r\n", manyDisplay);
    }
    void roundTrip()
    {
        auto [editorText, id, eventScript, display] = test::fetch<QByteArray, QByteArray, QByteArray, QByteArray>();

        FTPCode::WriteWorkScript(editorText.toStdString());
        QCOMPARE(m_core.app->read("ZUL/ZULTMP.zul"), editorText.toStdString() + "\r\n");
        std::string sEventId = id.toStdString();
        FTPCode::BuildEventScript(sEventId);
        QCOMPARE(sEventId, id.toStdString());

        QCOMPARE(m_core.app->read("ZUL/" + sEventId + "ZUL.zul"), expand(eventScript.toStdString(), junction()));
        QCOMPARE(QDir(QString::fromStdString(m_core.app->file("ZUL"))).count(), 2u + 2u); // the work copy stays

        // The file utility is asked about each GET line as it was typed.
        std::vector<std::string> gets;
        for (const auto& l : lineList(editorText.toStdString() + "\r\n"))
            if (l.find("GET") != std::string::npos || l.find("get") != std::string::npos)
                gets.insert(gets.end(), 2, l);
        QCOMPARE(m_core.fakes->fileUtility->seen, gets);

        QCOMPARE(FTPCode::LoadEventScript(sEventId).value_or("<none>"), expand(display.toStdString(), junction()));
        QCOMPARE(test::describeAll(m_core.fakes->messages->calls), QStringList());
        QVERIFY(!com::moduleState().oFileUtil);
        QCOMPARE(m_core.fakes->fileUtilityCreates, 1);
    }

    void runCopyHasTheEventScriptsLines()
    {
        // Scripts hold passwords: owner-only under the usual umask, even over a file that was wider.
        const mode_t mask = ::umask(022);
        m_core.app->write("ZUL/E0007ZUL.zul", "old\r\n");
        ::chmod(m_core.app->file("ZUL/E0007ZUL.zul").c_str(), 0644);
        FTPCode::WriteWorkScript("user bob\r\n  GET a.txt C:\\a.txt\r\nGET b.txt C:\\b.txt\r\nbye");
        std::string id = "E0007";
        FTPCode::BuildEventScript(id);
        FTPCode::BuildRunScript(id);
        ::umask(mask);
        for (const char* f : {"ZUL/ZULTMP.zul", "ZUL/E0007ZUL.zul", "ZUL/TMPE0007.zul"})
            QCOMPARE(test::fileMode(QString::fromStdString(m_core.app->file(f))), 0600);
        QCOMPARE(m_core.app->read("ZUL/TMPE0007.zul"), m_core.app->read("ZUL/E0007ZUL.zul"));
        QCOMPARE(lineList(m_core.app->read("ZUL/TMPE0007.zul")).size(), std::size_t(6));
        QCOMPARE(m_core.fakes->fileUtilityCreates, 2);
    }

    void noWorkCopyWritesAndDeletesNothing_data()
    {
        const auto row = test::columns<bool>();
        row("event script", false);
        row("run copy", true);
    }
    void noWorkCopyWritesAndDeletesNothing()
    {
        const auto [runCopy] = test::fetch<bool>();
        m_core.app->write("ZUL/E01ZUL.zul", "old\r\n");
        m_core.app->write("ZUL/TMPE01.zul", "old run\r\n");
        std::string id = "E01";
        runCopy ? FTPCode::BuildRunScript(id) : FTPCode::BuildEventScript(id);
        QCOMPARE(m_core.app->read("ZUL/E01ZUL.zul"), std::string("old\r\n"));
        QCOMPARE(m_core.app->read("ZUL/TMPE01.zul"), std::string("old run\r\n"));
        QVERIFY(!m_core.app->exists("ZUL/ZULTMP.zul"));
        QCOMPARE(QDir(QString::fromStdString(m_core.app->file("ZUL"))).count(), 2u + 2u);
        QVERIFY(m_core.fakes->messages->calls.empty());
        // The utility created at the start is kept: there was no normal end.
        QCOMPARE(com::moduleState().oFileUtil, std::static_pointer_cast<com::IFileUtility>(m_core.fakes->fileUtility));
    }

    // A failure stops the rewrite with a "D" report, keeping the lines written before it and the file utility.
    void failureKeepsLinesWrittenBefore_data()
    {
        const auto row = test::columns<int, QString, QString, int>();
        // The ordinal is a 16-bit counter: GET number 32768 cannot be counted.
        row("ordinal passes 32767", 32768, QString(), "Overflow", 1 + 2 * 32767);
        row("extension fails", 3, "GetExtension", "no extension", 1 + 2 * 2);
        // The redirected line is out before the target is asked for.
        row("target fails", 3, "GetTargetFNP", "no target", 1 + 2 * 2 + 1);
    }
    void failureKeepsLinesWrittenBefore()
    {
        auto [getLines, failIn, description, linesKept] = test::fetch<int, QString, QString, int>();

        auto& util = *m_core.fakes->fileUtility;
        auto failOnThird = [description = description](const std::string& line) -> std::string {
            if (line.find("f3.txt") != std::string::npos)
                throw com::ComError(5, description.toStdString());
            return "txt";
        };
        if (!failIn.isEmpty())
            (failIn == "GetExtension" ? util.extension : util.target) = failOnThird;

        std::string text = "user bob";
        for (int i = 1; i <= getLines; ++i)
            text += "\r\nGET f" + std::to_string(i) + ".txt t.txt";
        FTPCode::WriteWorkScript(text + "\r\nbye");
        m_core.app->write("ZUL/E01ZUL.zul", "old\r\n");
        std::string id = "E01";
        FTPCode::BuildEventScript(id);

        QCOMPARE(m_core.fakes->messages->calls.size(), std::size_t(1));
        QCOMPARE(m_core.fakes->messages->calls[0], (com::Args{false, description.toStdString(), "D"}));
        const auto kept = lineList(m_core.app->read("ZUL/E01ZUL.zul"));
        QCOMPARE(int(kept.size()), linesKept);
        QCOMPARE(kept.front(), std::string("user bob"));
        if (getLines > 99)
            QCOMPARE(kept.back(), std::string("**E0132767=&t.txt&"));
        QVERIFY(com::moduleState().oFileUtil);
    }

    void outputThatCannotBeCreatedIsReported()
    {
        QVERIFY(QDir().mkpath(QString::fromStdString(m_core.app->file("ZUL/E01ZUL.zul"))));
        FTPCode::WriteWorkScript("user bob");
        std::string id = "E01";
        FTPCode::BuildEventScript(id);
        QCOMPARE(m_core.fakes->messages->calls.size(), std::size_t(1));
        const auto& call = m_core.fakes->messages->calls[0]; // false, the system's words, "D"
        QVERIFY(call.size() == 3 && call[0] == com::Variant(false) && call[2] == com::Variant("D"));
        QVERIFY(call[1].kind() == com::Variant::Kind::Text && !call[1].asText().empty());
        QCOMPARE(m_core.app->read("ZUL/ZULTMP.zul"), std::string("user bob\r\n"));
    }

    // Creating the file utility is outside the trap: the caller gets it.
    void missingFileUtilityReachesTheCaller_data() { noWorkCopyWritesAndDeletesNothing_data(); }
    void missingFileUtilityReachesTheCaller()
    {
        const auto [runCopy] = test::fetch<bool>();
        com::unregisterClass(com::kFileUtilityProgId);
        FTPCode::WriteWorkScript("GET a.txt b.txt");
        std::string id = "E01";
        try {
            runCopy ? FTPCode::BuildRunScript(id) : FTPCode::BuildEventScript(id);
            QFAIL("no failure reached the caller");
        } catch (const com::ComError& e) {
            QCOMPARE(e.number(), 91);
        }
        QVERIFY(!m_core.app->exists("ZUL/E01ZUL.zul") && !m_core.app->exists("ZUL/TMPE01.zul"));
        QVERIFY(m_core.fakes->messages->calls.empty());
    }

    // Event scripts as they may lie on disk, and the text the editor shows.
    void loadFoldsPairs_data()
    {
        const auto row = test::columns<QByteArray, QByteArray>();
        row("pair for E01", "GET a.txt /app/Junction/E0101.txt\r\n**E0101=&C:\\in\\a.txt&\r\n",
            "GET a.txt C:\\in\\a.txt\r\n");
        row("indented and short lines", "  user bob  \r\n\r\n x \r\n\r\n     \r\n\tput a.txt\r\n",
            "user bob\r\n\tput a.txt\r\n");
        row("lone LF line ends", "user a\nput b\n", "user a\r\nput b\r\n");
        row("no line end at the end", "user a\r\nput b", "user a\r\nput b\r\n");
        row("empty file", "", "");
        // A GET never rewritten still takes the next line as its marker; a line without "&" is kept and glued to what
        // follows.
        row("unrewritten get in small letters", "get a.txt\r\nuser x\r\nput y\r\n",
            "get a.txt ser x\r\n\r\nuser xput y\r\n");
        row("GET as the last line", "user a\r\nGET b.txt /J/E0101.txt\r\n", "user a\r\nGET b.txt");
        row("two GET lines in a row", "GET a.txt /J/E0101.txt\r\nGET b.txt /J/E0102.txt\r\n**E0102=&/in/b.txt&\r\n",
            "GET a.txtGET b.txt /in/b.txt\r\n");
        // "=&" is looked for from character 7 on: a short id misses it.
        row("marker of a short id", "GET a.txt /J/E01.txt\r\n**E01=&/in/a.txt&\r\n", "GET a.txt *E01= /in/a.txt&\r\n");
        row("only the first & becomes a blank", "GET a.txt /J/E0101.txt\r\n**E0101=&/in/a&b.txt&\r\n",
            "GET a.txt /in/a b.txt&\r\n");
    }
    void loadFoldsPairs()
    {
        const auto [file, display] = test::fetch<QByteArray, QByteArray>();
        m_core.app->write("ZUL/E01ZUL.zul", file.toStdString());
        std::string id = "E01";
        QCOMPARE(QByteArray::fromStdString(FTPCode::LoadEventScript(id).value_or("<none>")), display);
        QVERIFY(m_core.fakes->messages->calls.empty());
    }

    // Only a missing script is reported, its path one text after "D"; any other failure ends the load quietly.
    void loadFailures_data()
    {
        const auto row = test::columns<QString, QString>(); // blocker: what stands in the way of reading the script
        row("missing", "E0001", QString());
        row("missing, blanks kept", " E01 ", QString());
        row("a folder in its place", "E01", "ZUL/E01ZUL.zul/");
        row("the script folder is a file", "E01", "ZUL");
    }
    void loadFailures()
    {
        const auto [id, blocker] = test::fetch<QString, QString>();
        const QString path = QString::fromStdString(m_core.app->file(blocker.toStdString()));
        if (blocker.endsWith('/')) {
            QVERIFY(QDir().mkpath(path));
        } else if (!blocker.isEmpty()) {
            QVERIFY(QDir(path).removeRecursively());
            m_core.app->write(blocker.toStdString(), "x");
        }
        std::string sEventId = id.toStdString();
        QVERIFY(!FTPCode::LoadEventScript(sEventId).has_value());
        const std::string script = m_core.app->file("ZUL/" + sEventId + "ZUL.zul");
        const com::Args report{false, com::msg(3281), "D", "File '" + script + "' not found."};
        QCOMPARE(test::describeAll(m_core.fakes->messages->calls),
                 blocker.isEmpty() ? QStringList{test::describe(report)} : QStringList());
    }

    void workCopyIsTheTextAndOneLineEnd_data()
    {
        const auto row = test::columns<QByteArray>();
        row("empty editor", QByteArray());
        row("lines unchanged", QByteArray("  user bob \r\nGET a b\r\n"));
        row("blanks only", QByteArray("   "));
    }
    void workCopyIsTheTextAndOneLineEnd()
    {
        const auto [text] = test::fetch<QByteArray>();
        m_core.app->write("ZUL/ZULTMP.zul", std::string(1000, 'x'));
        FTPCode::WriteWorkScript(text.toStdString());
        QCOMPARE(QByteArray::fromStdString(m_core.app->read("ZUL/ZULTMP.zul")), text + "\r\n");
        QVERIFY(m_core.fakes->messages->calls.empty());
    }

    void workCopyWithoutScriptFolderIsQuiet()
    {
        QVERIFY(QDir(QString::fromStdString(m_core.app->file("ZUL"))).removeRecursively());
        FTPCode::WriteWorkScript("user bob");
        QVERIFY(!m_core.app->exists("ZUL/ZULTMP.zul") && m_core.fakes->messages->calls.empty());
    }

    void deleteScriptFile_data()
    {
        const auto row = test::columns<QString, bool, bool, bool>();
        row("normal file", "ZUL/E01ZUL.zul", true, false, true);
        row("read-only file", "ZUL/TMPE01.zul", true, true, true);
        row("missing file", "ZUL/E02ZUL.zul", false, false, true);
        row("hidden file stays", "ZUL/.E01ZUL.zul", true, false, false);
        row("folder stays", "Junction", false, false, false);
    }
    void deleteScriptFile()
    {
        auto [name, create, readOnly, gone] = test::fetch<QString, bool, bool, bool>();
        std::string path = m_core.app->file(name.toStdString());
        if (create)
            m_core.app->write(name.toStdString(), "x\r\n");
        if (readOnly)
            QVERIFY(QFile::setPermissions(QString::fromStdString(path), QFileDevice::ReadOwner));
        FTPCode::DeleteScriptFile(path);
        QCOMPARE(!QFileInfo::exists(QString::fromStdString(path)), gone);
        QVERIFY(m_core.fakes->messages->calls.empty());
    }
};

QTEST_GUILESS_MAIN(ScriptRewriteTest)
#include "tst_script_rewrite.moc"
