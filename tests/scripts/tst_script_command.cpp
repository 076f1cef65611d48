#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// "qorvhost script import/show" against the built plug-in, loaded from a copy
// in a folder of its own so that its script files land there.
class ScriptCommandTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_app, m_plugin, m_data;

    struct Run {
        int code;
        QByteArray out, err;
    };
    Run qorvhost(const QStringList& args)
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost",
                QStringList{"--data", m_data, "--plugin", m_plugin} + args);
        if (!p.waitForFinished(120000))
            return {-1, {}, "did not finish"};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }
    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        return zul::test::writeBytes(m_dir.filePath(name), bytes) ? m_dir.filePath(name) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_app = m_dir.filePath("app");
        QVERIFY(QDir().mkpath(m_app + "/ZUL") && QDir().mkpath(m_app + "/Junction"));
        const QString build = qEnvironmentVariable("ZUL_APP_BUILD_DIR");
        m_plugin = m_app + "/libzul.so";
        QVERIFY(QFile::copy(build + "/libzul.so", m_plugin));
        QVERIFY(QFile::copy(build + "/libzul_com.so.0", m_app + "/libzul_com.so.0"));
        m_app = QDir(m_app).canonicalPath();
        m_data = m_dir.filePath("data");
        QCOMPARE(qorvhost({"event", "put", "E0001", "--entity", "PAYROLL"}).code, 0);
    }

    void importThenShowGivesGetLinesBack()
    {
        const QByteArray script = "open 127.0.0.1\r\nuser bob secret\r\nGET a.txt /in/a.txt\r\n"
                                  "put /out/p.txt p.txt\n  get   b.csv /in/b.csv\r\nbye\r\n";
        const auto imported = qorvhost({"script", "import", "E0001", writeFile("s.zul", script)});
        QVERIFY2(imported.code == 0, imported.err.constData());

        const QByteArray j = m_app.toUtf8() + "/Junction/";
        QCOMPARE(zul::test::readBytes(m_app + "/ZUL/E0001ZUL.zul"),
                 "open 127.0.0.1\r\nuser bob secret\r\nGET a.txt " + j +
                     "E000101.txt\r\n**E000101=&/in/a.txt&\r\n"
                     "put /out/p.txt p.txt\r\nget " +
                     j + "E000102.csv\r\n**E000102=&/in/b.csv&\r\nbye\r\n\r\n");
        QVERIFY(!QFile::exists(m_app + "/ZUL/ZULTMP.zul"));

        const auto shown = qorvhost({"script", "show", "E0001"});
        QCOMPARE(shown.code, 0);
        // The indented get lost its remote name when it was saved.
        QCOMPARE(shown.out, "open 127.0.0.1\r\nuser bob secret\r\nGET a.txt /in/a.txt\r\nput /out/p.txt p.txt\r\n"
                            "get " +
                                j + "E000102.csv /in/b.csv\r\nbye\r\n");
    }

    void failuresSayWhyAndLeaveNoWorkCopy_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown event") << QStringList{"import", "E0404", "s.zul"} << 2 << "unknown event 'E0404'";
        QTest::newRow("missing file") << QStringList{"import", "E0001", "none.zul"} << 2 << "cannot read";
        QTest::newRow("id with a path") << QStringList{"show", "../E0001"} << 2 << "path separator";
        QTest::newRow("missing script") << QStringList{"show", "E0404"} << 1 << "E0404ZUL.zul' not found.";
        QTest::newRow("bad subcommand") << QStringList{"copy", "E0001"} << 2 << "unknown script command";
    }
    void failuresSayWhyAndLeaveNoWorkCopy()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        writeFile("s.zul", "user bob\r\n");
        const auto r = qorvhost(QStringList{"script"} + args);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(says.toUtf8()), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(m_app + "/ZUL/ZULTMP.zul"));
    }

    // An editor's unsaved text is not overwritten.
    void workCopyOnDiskIsLeftAlone()
    {
        const QString work = m_app + "/ZUL/ZULTMP.zul";
        const QByteArray before = zul::test::readBytes(m_app + "/ZUL/E0001ZUL.zul");
        QVERIFY(!writeFile("app/ZUL/ZULTMP.zul", "unsaved\r\n").isEmpty());
        const auto r = qorvhost({"script", "import", "E0001", writeFile("t.zul", "user other\r\n")});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("work copy"), r.err.constData());
        QCOMPARE(zul::test::readBytes(work), QByteArray("unsaved\r\n"));
        QCOMPARE(zul::test::readBytes(m_app + "/ZUL/E0001ZUL.zul"), before);
        QVERIFY(QFile::remove(work));
    }
};

QTEST_GUILESS_MAIN(ScriptCommandTest)
#include "tst_script_command.moc"
