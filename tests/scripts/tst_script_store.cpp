#include "com/ModuleState.h"
#include "com/Registry.h"
#include "scripts/FTPCode.h"
#include "support/CoreFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <tuple>

using namespace zul;

using DeleteRow = std::tuple<QString, bool, bool, bool>;

// Loading event scripts into the editor, the work copy, deleting files.

class ScriptStoreTest : public QObject {
    Q_OBJECT
    test::CoreFixture m_core;

    const std::vector<com::Args>& calls() const { return m_core.fakes->messages->calls; }

private slots:
    void init() { m_core.setUp(); }
    void cleanup() { m_core.tearDown(); }

    // Event scripts as they may lie on disk, and the text the editor shows.
    void loadFoldsPairs_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("display");
        QTest::newRow("pair for E01") << QByteArray("GET a.txt /app/Junction/E0101.txt\r\n**E0101=&C:\\in\\a.txt&\r\n")
                                      << QByteArray("GET a.txt C:\\in\\a.txt\r\n");
        QTest::newRow("indented and short lines")
            << QByteArray("  user bob  \r\n\r\n x \r\n\r\n     \r\n\tput a.txt\r\n")
            << QByteArray("user bob\r\n\tput a.txt\r\n");
        QTest::newRow("lone LF line ends") << QByteArray("user a\nput b\n") << QByteArray("user a\r\nput b\r\n");
        QTest::newRow("no line end at the end") << QByteArray("user a\r\nput b") << QByteArray("user a\r\nput b\r\n");
        QTest::newRow("empty file") << QByteArray() << QByteArray();
        // A GET never rewritten still takes the next line as its marker; a
        // line without "&" is kept and glued to what follows.
        QTest::newRow("unrewritten get in small letters")
            << QByteArray("get a.txt\r\nuser x\r\nput y\r\n") << QByteArray("get a.txt ser x\r\n\r\nuser xput y\r\n");
        QTest::newRow("GET as the last line")
            << QByteArray("user a\r\nGET b.txt /J/E0101.txt\r\n") << QByteArray("user a\r\nGET b.txt");
        QTest::newRow("two GET lines in a row")
            << QByteArray("GET a.txt /J/E0101.txt\r\nGET b.txt /J/E0102.txt\r\n**E0102=&/in/b.txt&\r\n")
            << QByteArray("GET a.txtGET b.txt /in/b.txt\r\n");
        // "=&" is looked for from character 7 on: a short id misses it.
        QTest::newRow("marker of a short id") << QByteArray("GET a.txt /J/E01.txt\r\n**E01=&/in/a.txt&\r\n")
                                              << QByteArray("GET a.txt *E01= /in/a.txt&\r\n");
        QTest::newRow("only the first & becomes a blank")
            << QByteArray("GET a.txt /J/E0101.txt\r\n**E0101=&/in/a&b.txt&\r\n")
            << QByteArray("GET a.txt /in/a b.txt&\r\n");
    }
    void loadFoldsPairs()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, display);
        m_core.app->write("ZUL/E01ZUL.zul", file.toStdString());
        std::string id = "E01";
        QCOMPARE(QByteArray::fromStdString(FTPCode::LoadEventScript(id).value_or("<none>")), display);
        QVERIFY(calls().empty());
    }

    // Only a missing script is reported, its path one text after "D" so that the host shows it on one line; any
    // other failure ends the load quietly.
    void loadFailures_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("blocker"); // what stands in the way of reading the script
        QTest::newRow("missing") << "E0001" << QString();
        QTest::newRow("missing, blanks kept") << " E01 " << QString();
        QTest::newRow("a folder in its place") << "E01"
                                               << "ZUL/E01ZUL.zul/";
        QTest::newRow("the script folder is a file") << "E01"
                                                     << "ZUL";
    }
    void loadFailures()
    {
        QFETCH(QString, id);
        QFETCH(QString, blocker);
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
        QCOMPARE(test::describeAll(calls()), blocker.isEmpty() ? QStringList{test::describe(report)} : QStringList());
    }

    void workCopyIsTheTextAndOneLineEnd_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty editor") << QByteArray();
        QTest::newRow("lines unchanged") << QByteArray("  user bob \r\nGET a b\r\n");
        QTest::newRow("blanks only") << QByteArray("   ");
    }
    void workCopyIsTheTextAndOneLineEnd()
    {
        QFETCH(QByteArray, text);
        m_core.app->write("ZUL/ZULTMP.zul", std::string(1000, 'x'));
        FTPCode::WriteWorkScript(text.toStdString());
        QCOMPARE(QByteArray::fromStdString(m_core.app->read("ZUL/ZULTMP.zul")), text + "\r\n");
        QVERIFY(calls().empty());
    }

    void workCopyWithoutScriptFolderIsQuiet()
    {
        QVERIFY(QDir(QString::fromStdString(m_core.app->file("ZUL"))).removeRecursively());
        FTPCode::WriteWorkScript("user bob");
        QVERIFY(!m_core.app->exists("ZUL/ZULTMP.zul"));
        QVERIFY(calls().empty());
    }

    void deleteScriptFile_data()
    {
        QTest::addColumn<DeleteRow>("row");
        QTest::newRow("normal file") << DeleteRow{"ZUL/E01ZUL.zul", true, false, true};
        QTest::newRow("read-only file") << DeleteRow{"ZUL/TMPE01.zul", true, true, true};
        QTest::newRow("missing file") << DeleteRow{"ZUL/E02ZUL.zul", false, false, true};
        QTest::newRow("hidden file stays") << DeleteRow{"ZUL/.E01ZUL.zul", true, false, false};
        QTest::newRow("folder stays") << DeleteRow{"Junction", false, false, false};
    }
    void deleteScriptFile()
    {
        QFETCH(DeleteRow, row);
        auto [name, create, readOnly, gone] = row;
        std::string path = m_core.app->file(name.toStdString());
        if (create)
            m_core.app->write(name.toStdString(), "x\r\n");
        if (readOnly)
            QVERIFY(QFile::setPermissions(QString::fromStdString(path), QFileDevice::ReadOwner));
        FTPCode::DeleteScriptFile(path);
        QCOMPARE(!QFileInfo::exists(QString::fromStdString(path)), gone);
        QVERIFY(calls().empty());
    }
};

QTEST_GUILESS_MAIN(ScriptStoreTest)
#include "tst_script_store.moc"
