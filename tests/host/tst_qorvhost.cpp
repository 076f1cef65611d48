#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

// The host program as an operator runs it.
class QorvhostTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_plugin;

    struct Run {
        int code;
        QString out, err;
    };
    Run qorvhost(const QStringList& args, const QString& cwd = {})
    {
        return start(qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost", args, QProcessEnvironment::systemEnvironment(),
                     cwd);
    }
    // A crash (a signal) gives the code -2.
    Run start(const QString& program, const QStringList& args, const QProcessEnvironment& env, const QString& cwd = {})
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(cwd.isEmpty() ? m_dir.path() : cwd);
        p.start(program, args);
        if (!p.waitForFinished(120000))
            return {-1, {}, "did not finish"};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("app/ZUL"));
        m_plugin = m_dir.filePath("app/libzul.so");
        QVERIFY(QFile::copy(qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/libzul.so", m_plugin));
    }

    void infoPrintsFeatureAndFolder()
    {
        const auto r = qorvhost({"--data", m_dir.filePath("data"), "--plugin", m_plugin, "info"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains("AFM") && r.out.contains("<NONE>"), qPrintable(r.out));
        QVERIFY2(r.out.contains(QDir(m_dir.filePath("app")).canonicalPath()), qPrintable(r.out));
    }

    void defaultPluginIsTheBuiltOne()
    {
        const auto r = qorvhost({"--data", m_dir.filePath("data"), "info"});
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QDir(qEnvironmentVariable("ZUL_APP_BUILD_DIR")).canonicalPath()), qPrintable(r.out));
    }

    void eventsRoundTrip()
    {
        const QString data = m_dir.filePath("events");
        auto r = qorvhost({"--data", data, "event", "put", "new", "--entity", "PAYROLL", "--runday", "3", "--flag2", "1"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("E0001\tPAYROLL\tZUL\t3\t0\t1\t0"));
        r = qorvhost({"--data", data, "event", "list"});
        QCOMPARE(r.out.count('\n'), 1);
        r = qorvhost({"--data", data, "event", "show", "E0001"});
        QVERIFY(r.out.contains("PAYROLL"));
        QCOMPARE(qorvhost({"--data", data, "event", "delete", "E0001"}).code, 0);
        QVERIFY(qorvhost({"--data", data, "event", "show", "E0001"}).code != 0);
    }

    void errorsAreOneClearLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("unknown event") << QStringList{"run", "E9999"} << "unknown event 'E9999'";
        QTest::newRow("missing plug-in") << QStringList{"--plugin", "/nonexistent/libzul.so", "info"} << "not found";
        QTest::newRow("not a plug-in") << QStringList{"--plugin", "/bin/true", "info"} << "cannot load plug-in";
        QTest::newRow("bad run day") << QStringList{"event", "put", "E0002", "--runday", "40000"} << "16-bit";
        QTest::newRow("bad flag") << QStringList{"event", "put", "E0002", "--flag1", "2"} << "must be 0 or 1";
        QTest::newRow("unknown command") << QStringList{"fly"} << "unknown command";
    }
    void errorsAreOneClearLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const auto r = qorvhost(QStringList{"--data", m_dir.filePath("errors")} + args);
        QVERIFY(r.code > 0);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
    }

    // A terminal without a display: the answers that need none, and one
    // clear line with a status (never a signal) for the window.
    void withoutDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says"); // on standard output when the code is 0, else on standard error
        QTest::newRow("help") << "qorvhost" << QStringList{"--help"} << QString() << 0 << "usage: qorvhost";
        QTest::newRow("version") << "qorvhost" << QStringList{"--data", "d", "--version"} << QString() << 0
                                 << "qorvhost " ZUL_VERSION "\n";
        QTest::newRow("window, no display")
            << "qorvhost" << QStringList{"--data", "d"} << QString() << 2 << "set DISPLAY";
        QTest::newRow("window, display unreachable")
            << "qorvhost" << QStringList{"--data", "d"} << ":987" << 2 << "cannot open the display :987";
        QTest::newRow("runner help") << "VelundZUL" << QStringList{"--help"} << QString() << 0 << "usage: VelundZUL";
        QTest::newRow("runner version") << "VelundZUL" << QStringList{"--version"} << QString() << 0
                                        << "VelundZUL " ZUL_VERSION "\n";
    }
    void withoutDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, display);
        QFETCH(int, code);
        QFETCH(QString, says);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        // The runner runs from a folder of its own: asked for help it writes nothing there.
        const QString path = program == "VelundZUL" ? m_dir.filePath("app/VelundZUL")
                                                    : qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost";
        if (program == "VelundZUL" && !QFile::exists(path))
            QVERIFY(QFile::copy(qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/VelundZUL", path));
        const auto r = start(path, args, env);
        QCOMPARE(r.code, code);
        if (code == 0) {
            QVERIFY2(r.out.startsWith(says) || r.out == says, qPrintable(r.out));
            QVERIFY(r.err.isEmpty());
        } else {
            QVERIFY2(r.err.startsWith("qorvhost: ") && r.err.count('\n') == 1 && r.err.contains(says),
                     qPrintable(r.err));
        }
        QVERIFY(!QFileInfo::exists(m_dir.filePath("app/Log")));
    }

    // An id with a letter outside ASCII names its files in the 8-bit code
    // page, from the import through the run to the run log.
    void idOutsideAscii()
    {
        const QString data = m_dir.filePath("latin");
        const QString id = QStringLiteral("E") + QChar(0xE9) + QStringLiteral("001");
        QCOMPARE(qorvhost({"--data", data, "event", "put", id}).code, 0);
        QFile script(m_dir.filePath("latin.zul"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("open 127.0.0.1\r\nuser a b\r\nget r.txt /tmp/r.txt\r\nquit\r\n");
        script.close();
        auto r = qorvhost({"--data", data, "--plugin", m_plugin, "script", "import", id, script.fileName()});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QByteArray saved = QFile::encodeName(m_dir.filePath("app/ZUL/")) + QByteArray("E\xe9") + "001ZUL.zul";
        QCOMPARE(::access(saved.constData(), F_OK), 0);
        r = qorvhost({"--data", data, "--plugin", m_plugin, "script", "show", id});
        QCOMPARE(r.out, QString("open 127.0.0.1\r\nuser a b\r\nget r.txt /tmp/r.txt\r\nquit\r\n"));
        // No reachability library in this folder: the partner counts as silent,
        // which the run log records under the id.
        r = qorvhost({"--data", data, "--plugin", m_plugin, "run", id});
        QCOMPARE(r.code, 1);
        r = qorvhost({"--data", data, "log"});
        QVERIFY2(r.out.contains(id + " ") && r.out.contains("[4107,4121,4122]"), qPrintable(r.out));
        QVERIFY2(!r.out.contains("3281"), qPrintable(r.out));
    }

    void unreadableDatabase()
    {
        const QString data = m_dir.filePath("broken");
        QDir().mkpath(data);
        QFile junk(data + "/host.db");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        const auto r = qorvhost({"--data", data, "event", "list"});
        QVERIFY(r.code > 0);
        QVERIFY2(r.err.startsWith("qorvhost: ") && r.err.count('\n') == 1, qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(QorvhostTest)
#include "tst_qorvhost.moc"
