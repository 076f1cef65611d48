#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        QProcess p;
        p.setWorkingDirectory(cwd.isEmpty() ? m_dir.path() : cwd);
        p.start(qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost", args);
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
