#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

#include "records/ExitStatus.h"
#include "support/Files.h"
#include "support/Records.h"
#include "support/Rows.h"

using zul::test::columns;
using zul::test::fetch;

// The host program as an operator runs it.
class QorvhostTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_plugin;
    QString m_historyPlugin; // beside a Log folder of its own
    QMap<QString, QString> m_statusTexts; // where an operator reads the statuses, and what it says

    struct Run {
        int code;
        QString out, err;
        QByteArray bytes; // standard output as it came
    };
    static QProcessEnvironment sys() { return QProcessEnvironment::systemEnvironment(); }
    // What qorvhost answers its arguments with: its status, its standard output, words of its standard error.
    static auto answerColumns() { return columns<QStringList, int, QString, QString>(); }
    static auto answer() { return fetch<QStringList, int, QString, QString>(); }
    Run qorvhost(const QStringList& args, const QProcessEnvironment& env = sys())
    {
        return start(qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost", args, env);
    }
    Run history(const QStringList& args, const QProcessEnvironment& env = sys())
    {
        return qorvhost(QStringList{"--data", m_dir.filePath("history"), "--plugin", m_historyPlugin} + args, env);
    }
    // A copy of the plug-in in a folder of its own, with a Log folder beside it.
    QString pluginIn(const QString& folder)
    {
        QString plugin = m_dir.filePath(folder + "/libzul.so");
        if (QDir().mkpath(m_dir.filePath(folder + "/Log")) && !QFile::exists(plugin))
            QFile::copy(m_plugin, plugin);
        return plugin;
    }
    // A crash (a signal) gives the code -2.
    Run start(const QString& program, const QStringList& args, const QProcessEnvironment& env = sys())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(program, args);
        if (!p.waitForFinished(120000))
            return {-1, {}, "did not finish", {}};
        const QByteArray out = p.readAllStandardOutput();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2, QString::fromLocal8Bit(out),
                QString::fromLocal8Bit(p.readAllStandardError()), out};
    }

    // E0001: a success, a refused login, a partner that did not answer; E0002: a success.
    void writeHistory()
    {
        m_historyPlugin = pluginIn("historyapp");
        const QString log = m_dir.filePath("historyapp/Log");
        QByteArray runs;
        auto record = [&](const char* event, const char* start, const char* end, int exit, const char* outcome,
                          const char* transcript) {
            zul::runner::RunRecord r;
            r.event = event, r.start = start, r.end = end, r.exitStatus = exit, r.outcome = outcome;
            r.filesUp = 1, r.bytesUp = 2048;
            r.transcript = (log + "/" + transcript).toStdString();
            runs += zul::test::runRecordLine(r);
            QVERIFY(zul::test::writeBytes(log + "/" + transcript, QByteArray("02:00:00.000 * event ") + event +
                                                                      "\n02:00:01.000 ! outcome: " + outcome + "\n"));
        };
        record("E0001", "2026-12-03T02:00:00.000+0000", "2026-12-03T02:00:04.500+0000", 0, "success",
               "E0001_20261203-020000_11.log");
        record("E0002", "2026-12-03T03:00:00.000+0000", "2026-12-03T03:00:01.000+0000", 0, "success",
               "E0002_20261203-030000_12.log");
        record("E0001", "2026-12-04T02:00:00.000+0000", "2026-12-04T02:00:01.000+0000", 3,
               "login refused: 530 Login incorrect.", "E0001_20261204-020000_13.log");
        QVERIFY(zul::test::writeBytes(log + "/runs.jsonl", runs));
        const QString messages = m_dir.filePath("history/messages.jsonl");
        QVERIFY(zul::test::writeBytes(messages, {}));
        QVERIFY(zul::test::appendHostMessage(messages, zul::test::partnerSilentMessage("E0001"),
                                             QDateTime(QDate(2026, 12, 5), QTime(2, 0), Qt::UTC)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("app/ZUL"));
        m_plugin = m_dir.filePath("app/libzul.so");
        QVERIFY(QFile::copy(qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/libzul.so", m_plugin));
    }

    // The plug-in given, or the one built beside qorvhost.
    void infoPrintsFeatureAndFolder()
    {
        for (const QString& plugin : {m_plugin, QString()}) {
            const auto r =
                qorvhost(QStringList{"--data", m_dir.filePath("data")} +
                         (plugin.isEmpty() ? QStringList{} : QStringList{"--plugin", plugin}) + QStringList{"info"});
            QCOMPARE(r.code, 0);
            QVERIFY2(r.out.contains("AFM") && r.out.contains("<NONE>"), qPrintable(r.out));
            const QString folder = plugin.isEmpty() ? qEnvironmentVariable("ZUL_APP_BUILD_DIR") : m_dir.filePath("app");
            QVERIFY2(r.out.contains(QDir(folder).canonicalPath()), qPrintable(r.out));
        }
    }

    void eventsRoundTrip()
    {
        const QString data = m_dir.filePath("events");
        auto r = qorvhost({"--data", data, "event", "put", "new", "--entity", "PAYROLL", "--runday", "3", "--flag2", "1"});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.startsWith("E0001\tPAYROLL\tZUL\t3\t0\t1\t0"));
        QCOMPARE(qorvhost({"--data", data, "event", "list"}).out.count('\n'), 1);
        QVERIFY(qorvhost({"--data", data, "event", "show", "E0001"}).out.contains("PAYROLL"));
        QCOMPARE(qorvhost({"--data", data, "event", "delete", "E0001"}).code, 0);
        QVERIFY(qorvhost({"--data", data, "event", "show", "E0001"}).code != 0);
    }

    // One clear line (or the usage), nothing on standard output; a script command leaves no work copy.
    void errorsAreOneClearLine_data()
    {
        const auto row = answerColumns();
        row("unknown event", {"run", "E9999"}, 2, "", "unknown event 'E9999'");
        row("missing plug-in", {"--plugin", "/nonexistent/libzul.so", "info"}, 2, "", "not found");
        row("not a plug-in", {"--plugin", "/bin/true", "info"}, 2, "", "cannot load plug-in");
        row("a library without the entry",
            {"--plugin", qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/libzul_com.so", "info"}, 2, "",
            "no entry point");
        row("bad run day", {"event", "put", "E0002", "--runday", "40000"}, 2, "", "16-bit");
        row("bad flag", {"event", "put", "E0002", "--flag1", "2"}, 2, "", "must be 0 or 1");
        row("unknown command", {"fly"}, 2, "", "unknown command");
        row("unreadable database", {"--data", "BROKEN", "event", "list"}, 2, "", "qorvhost: ");
        row("import, unknown event", {"script", "import", "E0404", "s.zul"}, 2, "", "unknown event 'E0404'");
        row("import, missing file", {"script", "import", "E0001", "none.zul"}, 2, "", "cannot read");
        row("id with a path", {"script", "show", "../E0001"}, 2, "", "path separator");
        row("missing script", {"script", "show", "E0404"}, 1, "", "E0404ZUL.zul' not found.");
        row("bad script command", {"script", "copy", "E0001"}, 2, "", "unknown script command");
    }
    void errorsAreOneClearLine()
    {
        auto [args, code, out, says] = answer();
        const QString broken = m_dir.filePath("broken"), data = m_dir.filePath("errors");
        QVERIFY(zul::test::writeBytes(broken + "/host.db", QByteArray(4096, 'x')));
        QVERIFY(zul::test::writeBytes(m_dir.filePath("s.zul"), "user bob\r\n"));
        QCOMPARE(qorvhost({"--data", data, "event", "put", "E0001"}).code, 0);
        const auto r = qorvhost(QStringList{"--plugin", m_plugin} +
                                (args.value(0) == "--data" ? QStringList{} : QStringList{"--data", data}) +
                                args.replaceInStrings("BROKEN", broken));
        QCOMPARE(r.code, code);
        QCOMPARE(r.out, out);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        // Status 1: the plug-in's own message, as its prompt has it.
        QVERIFY2(code == 1 || r.err.startsWith("usage: ") || (r.err.startsWith("qorvhost: ") && r.err.count('\n') == 1),
                 qPrintable(r.err));
        QVERIFY(!QFile::exists(m_dir.filePath("app/ZUL/ZULTMP.zul")));
    }

    void historyLinesAndJson()
    {
        writeHistory();
        auto r = history({"history", "E0001"});
        QCOMPARE(r.code, 0);
        QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QString("2026-12-05 02:00:00\tE0001\tpartner did not answer: 192.0.2.7\t-\t-\t-\t-"));
        QCOMPARE(lines[1].section('\t', 2, 5),
                 QString("login refused: 530 Login incorrect.\texit 3\t1.0 s\tup 1 file, 2.0 kB; down 0 files, 0 B"));
        QVERIFY(lines[1].endsWith("/historyapp/Log/E0001_20261204-020000_13.log"));
        QCOMPARE(lines[2].section('\t', 2, 4), QString("success\texit 0\t4.5 s"));

        r = history({"history", "--limit", "2"});
        QCOMPARE(r.out.count('\n'), 2);
        QVERIFY(r.out.split('\n')[1].contains("\tE0001\tlogin refused"));
        QCOMPARE(history({"history"}).out.count('\n'), 4);

        r = history({"history", "E0001", "--json", "--limit", "2"});
        QCOMPARE(r.code, 0);
        lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QJsonObject silent = QJsonDocument::fromJson(lines[0].toUtf8()).object();
        QCOMPARE(silent.value("start").toString(), QString("2026-12-05T02:00:00Z"));
        QVERIFY(silent.contains("exit") && silent.value("exit").isNull());
        QCOMPARE(silent.value("outcome").toString(), QString("partner did not answer: 192.0.2.7"));
        QCOMPARE(silent.value("result").toString(), QString("not started"));
        const QJsonObject refused = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        QCOMPARE(refused.value("exit").toInt(-1), 3);
        QCOMPARE(refused.value("start").toString(), QString("2026-12-04T02:00:00.000+0000"));
        QCOMPARE(refused.value("duration_ms").toInt(), 1000);
        QCOMPARE(refused.value("bytes_up").toInt(), 2048);
        QCOMPARE(refused.value("result").toString(), QString("failed"));
    }

    void historyCommands_data()
    {
        const auto row = answerColumns();
        row("the latest never reached the runner", {"transcript", "E0001"}, 1, "",
            "never reached the runner, so it has no transcript");
        row("the second latest", {"transcript", "E0001", "2"}, 0,
            "02:00:00.000 * event E0001\n02:00:01.000 ! outcome: login refused: 530 Login incorrect.\n", "");
        row("another event's latest", {"transcript", "E0002"}, 0,
            "02:00:00.000 * event E0002\n02:00:01.000 ! outcome: success\n", "");
        row("past the retention period", {"transcript", "E0001", "3"}, 1, "", "the run of 2026-12-03 02:00:00 is gone");
        row("past the oldest", {"transcript", "E0001", "4"}, 1, "", "has 3 runs, not 4");
        row("an event without runs", {"transcript", "E0009"}, 1, "", "no runs of event 'E0009'");
        row("N is not a count", {"transcript", "E0001", "0"}, 2, "", "N counts the runs");
        row("no id", {"transcript"}, 2, "", "transcript needs ID [N]");
        // Every member of the group writes in the Log folder: a transcript is read from there, never through a link.
        row("a link in the transcript's place", {"transcript", "E0002"}, 1, "", "is gone");
        row("a record naming a file elsewhere", {"transcript", "E0002"}, 1, "", "is gone");
        row("limit 0", {"history", "--limit", "0"}, 2, "", "--limit needs a number");
        row("limit missing", {"history", "E0001", "--limit"}, 2, "", "--limit needs a number");
        row("two ids", {"history", "E0001", "E0002"}, 2, "", "one event id");
        row("unknown option", {"history", "--jsn"}, 2, "", "unknown option '--jsn'");
        row("no plug-in", {"--plugin", "/nonexistent/libzul.so", "history"}, 2, "", "not found");
        row("metrics option", {"metrics", "--text"}, 2, "", "metrics takes only --textfile DIR");
        row("metrics folder", {"metrics", "--textfile", "/nonexistent"}, 2, "", "is not a folder");
    }
    void historyCommands()
    {
        const auto [args, code, out, says] = answer();
        writeHistory();
        const QString log = m_dir.filePath("historyapp/Log"), e0002 = log + "/E0002_20261203-030000_12.log";
        const QString secret = m_dir.filePath("secret.txt");
        QVERIFY(zul::test::writeBytes(secret, "not for the group\n"));
        const QByteArray tag = QTest::currentDataTag();
        if (tag == "past the retention period")
            QVERIFY(QFile::remove(log + "/E0001_20261203-020000_11.log"));
        if (tag == "a link in the transcript's place")
            QVERIFY(QFile::remove(e0002) && QFile::link(secret, e0002));
        if (tag == "a record naming a file elsewhere")
            QVERIFY(zul::test::writeBytes(log + "/runs.jsonl",
                                          zul::test::readBytes(log + "/runs.jsonl") +
                                              zul::test::runRecordLine("E0002", "2026-12-05T03:00:00.000+0000",
                                                                       "2026-12-05T03:00:01.000+0000", 0, "success",
                                                                       secret.toStdString())));
        const auto r = history(args);
        QFile::remove(e0002); // the next writeHistory() would write through a link
        QCOMPARE(r.code, code);
        QCOMPARE(r.out, out);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
    }

    // The file node_exporter's textfile collector reads, as Prometheus's own parser reads it.
    void metricsTextfile()
    {
        writeHistory();
        const QString dir = m_dir.filePath("metrics");
        QVERIFY(QDir().mkpath(dir));
        QCOMPARE(history({"metrics", "--textfile", dir}).code, 0);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"zul.prom"}); // no temporary left
        if (QProcess::execute("/usr/bin/python3", {"-c", "import prometheus_client.parser"}) != 0)
            QSKIP("no prometheus_client for /usr/bin/python3 (python3-prometheus-client, see tools/setup.sh)");
        QProcess parser;
        parser.start("/usr/bin/python3",
                     {"-c", "import sys\n"
                            "from prometheus_client.parser import text_string_to_metric_families as parse\n"
                            "for f in parse(open(sys.argv[1]).read()):\n"
                            "    for s in f.samples:\n"
                            "        print(f.type, s.name, s.labels['event'], repr(s.value))\n",
                      dir + "/zul.prom"});
        QVERIFY2(parser.waitForFinished(60000) && parser.exitCode() == 0, parser.readAllStandardError().constData());
        QStringList samples = QString::fromUtf8(parser.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        samples.sort();
        const QStringList expected = {"counter zul_received_bytes_total E0001 0.0",
                                      "counter zul_received_bytes_total E0002 0.0",
                                      "counter zul_run_failures_total E0001 2.0",
                                      "counter zul_run_failures_total E0002 0.0",
                                      "counter zul_runs_total E0001 3.0",
                                      "counter zul_runs_total E0002 1.0",
                                      "counter zul_sent_bytes_total E0001 4096.0",
                                      "counter zul_sent_bytes_total E0002 2048.0",
                                      "gauge zul_last_run_end_timestamp_seconds E0001 1796436000.0",
                                      "gauge zul_last_run_end_timestamp_seconds E0002 1796266801.0",
                                      "gauge zul_last_run_exit_status E0002 0.0",
                                      "gauge zul_last_run_success E0001 0.0",
                                      "gauge zul_last_run_success E0002 1.0",
                                      "gauge zul_last_success_timestamp_seconds E0001 1796263204.5",
                                      "gauge zul_last_success_timestamp_seconds E0002 1796266801.0"};
        QCOMPARE(samples, expected);
    }

    // Where systemd does not run, schedule says so and gives the crontab line.
    void scheduleWithoutSystemd_data()
    {
        const auto row = answerColumns();
        row("crontab line", {"S0001", "Mon..Fri 02:30"}, 1, " run S0001 --wait\n", "no timer was written");
        row("off", {"S0001", "--off"}, 1, "", "remove the line");
        row("list", {}, 1, "", "crontab -l");
        row("no cron for seconds", {"S0001", "*-*-* 02:30:15"}, 2, "", "the seconds must be 00");
        row("not a time", {"S0001", "someday"}, 2, "", "not a calendar time");
        row("no script", {"S0404", "daily"}, 1, "", "has no script");
        row("not a unit name", {"S 1", "daily"}, 2, "", "a timer's name takes only");
        row("two lines", {"S0001", "daily\nExecStart=/bin/sh"}, 2, "", "one line of text");
    }
    void scheduleWithoutSystemd()
    {
        const auto [args, code, out, says] = answer();
        const QString plugin = pluginIn("scheduled");
        QVERIFY(zul::test::writeBytes(m_dir.filePath("scheduled/ZUL/S0001ZUL.zul"), {}));
        QProcessEnvironment env = sys();
        env.insert("QORVHOST_SYSTEMD_MARKER", m_dir.filePath("no-systemd"));
        const QString data = m_dir.filePath("scheduled data");
        const auto r = qorvhost(QStringList{"--data", data, "--plugin", plugin, "schedule"} + args, env);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        if (out.isEmpty()) {
            QCOMPARE(r.out.count('\n'), 0);
            return;
        }
        // Only the line on standard output, so that it can be piped into crontab.
        QCOMPARE(r.out, "30 2 * * 1-5 " + QDir(qEnvironmentVariable("ZUL_BIN_DIR")).canonicalPath() +
                            "/qorvhost --data '" + data + "' --plugin " + plugin + out);
    }

    // A real timer, where systemd runs and the package's service is installed.
    void scheduleWithSystemd()
    {
        if (!QFileInfo(QStringLiteral("/run/systemd/system")).isDir())
            QSKIP("systemd is not running here (no /run/systemd/system); the crontab fallback is tested instead");
        if (::geteuid() != 0)
            QSKIP("writing a timer into /etc/systemd/system needs root");
        if (QProcess::execute("systemctl", {"cat", "--quiet", "zul-run@.service"}) != 0)
            QSKIP("the package's zul-run@.service is not installed here (tools/package-check.sh tests it)");
        QVERIFY(zul::test::writeBytes(m_dir.filePath("timed/ZUL/ZTEST1ZUL.zul"), {}));
        const QStringList base{"--plugin", pluginIn("timed"), "schedule"};
        auto r = qorvhost(base + QStringList{"ZTEST1", "*-01-01 03:00:00"});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QString unit = "/etc/systemd/system/zul-run@ZTEST1.timer";
        QVERIFY(QFile::exists(unit));
        r = qorvhost(base);
        QVERIFY2(r.out.contains("ZTEST1\t*-01-01 03:00:00\n"), qPrintable(r.out));
        QProcess state;
        state.start("systemctl", {"is-enabled", "zul-run@ZTEST1.timer"});
        QVERIFY(state.waitForFinished());
        QCOMPARE(state.readAllStandardOutput().trimmed(), QByteArray("enabled"));
        r = qorvhost(base + QStringList{"ZTEST1", "--off"});
        QCOMPARE(r.code, 0);
        QVERIFY(!QFile::exists(unit));
    }

    // What qorvhost answers itself loads no Qt, nor does the host library's "info", which loads the plug-in.
    void quickCommandsLoadNoQt_data()
    {
        const auto row = columns<QStringList>();
        row("help", {"--help"});
        row("history --json", {"history", "E0001", "--json", "--limit", "2"});
        row("transcript", {"transcript", "E0001", "2"});
        row("metrics", {"metrics"});
        row("info", {"info"});
    }
    void quickCommandsLoadNoQt()
    {
        const auto [args] = fetch<QStringList>();
        writeHistory();
        QProcessEnvironment env = sys();
        env.insert("LD_DEBUG", "libs");
        const auto r = history(args, env);
        QCOMPARE(r.code, 0);
        QVERIFY2(!r.out.isEmpty() && r.err.contains("libstdc++"), "no answer, or no report of the libraries");
        QVERIFY(!r.err.contains("libQt6Core"));
    }

    // Copied away from its folder, qorvhost still answers the history, and says what it misses for the rest.
    void withoutTheHostLibrary()
    {
        writeHistory();
        const QString bin = m_dir.filePath("elsewhere/bin");
        QVERIFY(QDir().mkpath(bin));
        const QString program = bin + "/qorvhost";
        if (!QFile::exists(program))
            QVERIFY(QFile::copy(qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost", program));
        auto r = start(program, {"--data", m_dir.filePath("history"), "info"});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.startsWith("qorvhost: cannot load the host library") && r.err.count('\n') == 1,
                 qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        r = start(program, {"--data", m_dir.filePath("history"), "--plugin", m_historyPlugin, "history", "E0001"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count('\n'), 3);
        r = start(program, {"--data", m_dir.filePath("history"), "history"});
        QCOMPARE(r.code, 2);
        QCOMPARE(r.err, "qorvhost: plug-in '" + bin + "/../zul/libzul.so' not found\n");
    }

    // Without a display: the answers that need none, and one clear line (never a signal) for the window.
    void withoutDisplay_data()
    {
        // The program, its arguments, DISPLAY, its status, and what it says (on standard error unless the status is 0).
        const auto row = columns<QString, QStringList, QString, int, QString>();
        row("help", "qorvhost", {"--help"}, "", 0, "usage: qorvhost");
        row("version", "qorvhost", {"--data", "d", "--version"}, "", 0, "qorvhost " ZUL_VERSION "\n");
        row("window, no display", "qorvhost", {"--data", "d"}, "", 2, "set DISPLAY");
        row("window, display unreachable", "qorvhost", {"--data", "d"}, ":987", 2, "cannot open the display :987");
        row("runner help", "VelundZUL", {"--help"}, "", 0, "usage: VelundZUL");
        row("runner version", "VelundZUL", {"--version"}, "", 0, "VelundZUL " ZUL_VERSION "\n");
    }
    void withoutDisplay()
    {
        const auto [program, args, display, code, says] = fetch<QString, QStringList, QString, int, QString>();
        QProcessEnvironment env = sys();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        // The runner runs from a folder of its own: asked for help it writes nothing there.
        if (program == "VelundZUL")
            QVERIFY(zul::test::installBuilt(program, m_dir.filePath("app")));
        const auto r = start(program == "VelundZUL" ? m_dir.filePath("app/VelundZUL")
                                                    : qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost",
                             args, env);
        QCOMPARE(r.code, code);
        QVERIFY2(code ? r.err.startsWith("qorvhost: ") && r.err.count('\n') == 1 && r.err.contains(says)
                      : r.out.startsWith(says) && r.err.isEmpty(),
                 qPrintable(r.out + r.err));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("app/Log")));
    }

    // An id outside ASCII names its files in the 8-bit code page, from the import to the run log.
    void idOutsideAscii()
    {
        const QString data = m_dir.filePath("latin");
        const QString id = QStringLiteral("E") + QChar(0xE9) + QStringLiteral("001");
        QCOMPARE(qorvhost({"--data", data, "event", "put", id}).code, 0);
        // One outside the code page would share a script file with others: refused.
        const auto refused = qorvhost({"--data", data, "event", "put", QStringLiteral("E") + QChar(0x6587) + "01"});
        QVERIFY(refused.code != 0 && refused.err.contains("code page"));
        const QByteArray script = "open 127.0.0.1\r\nuser a b\r\nget r.txt /tmp/r.txt\r\nquit\r\n";
        QVERIFY(zul::test::writeBytes(m_dir.filePath("latin.zul"), script));
        auto r = qorvhost({"--data", data, "--plugin", m_plugin, "script", "import", id, m_dir.filePath("latin.zul")});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QByteArray saved = QFile::encodeName(m_dir.filePath("app/ZUL/")) + QByteArray("E\xe9") + "001ZUL.zul";
        QCOMPARE(::access(saved.constData(), F_OK), 0);
        r = qorvhost({"--data", data, "--plugin", m_plugin, "script", "show", id});
        QCOMPARE(r.out.toUtf8(), script);
        // No reachability library here: the partner is silent, as the run log records under the id.
        r = qorvhost({"--data", data, "--plugin", m_plugin, "run", id});
        QCOMPARE(r.code, 1);
        r = qorvhost({"--data", data, "log"});
        QVERIFY2(r.out.contains(id + " ") && r.out.contains("[4107,4121,4122]"), qPrintable(r.out));
        QVERIFY2(!r.out.contains("3281"), qPrintable(r.out));
    }

    // Import stores GET lines with Junction names and markers; show gives them back as written.
    void scriptImportThenShow()
    {
        const QString data = m_dir.filePath("scripts");
        QCOMPARE(qorvhost({"--data", data, "event", "put", "E0001"}).code, 0);
        const QByteArray script = "open 127.0.0.1\r\nuser bob secret\r\nGET a.txt /in/a.txt\r\n"
                                  "put /out/p.txt p.txt\n  get   b.csv /in/b.csv\r\nbye\r\n";
        QVERIFY(zul::test::writeBytes(m_dir.filePath("s.zul"), script));
        const QStringList base{"--data", data, "--plugin", m_plugin, "script"};
        const auto imported = qorvhost(base + QStringList{"import", "E0001", m_dir.filePath("s.zul")});
        QVERIFY2(imported.code == 0, qPrintable(imported.err));
        const QString app = QDir(m_dir.filePath("app")).canonicalPath();
        const QByteArray j = app.toUtf8() + "/Junction/";
        QCOMPARE(zul::test::readBytes(app + "/ZUL/E0001ZUL.zul"),
                 "open 127.0.0.1\r\nuser bob secret\r\nGET a.txt " + j +
                     "E000101.txt\r\n**E000101=&/in/a.txt&\r\nput /out/p.txt p.txt\r\nget " + j +
                     "E000102.csv\r\n**E000102=&/in/b.csv&\r\nbye\r\n\r\n");
        QVERIFY(!QFile::exists(app + "/ZUL/ZULTMP.zul"));
        const auto shown = qorvhost(base + QStringList{"show", "E0001"});
        QCOMPARE(shown.code, 0);
        // The indented get lost its remote name when it was saved.
        QCOMPARE(shown.out, "open 127.0.0.1\r\nuser bob secret\r\nGET a.txt /in/a.txt\r\nput /out/p.txt p.txt\r\nget " +
                                QString::fromUtf8(j) + "E000102.csv /in/b.csv\r\nbye\r\n");

        // A work copy on disk is an editor's unsaved text: an import leaves it and the script alone.
        const QByteArray saved = zul::test::readBytes(app + "/ZUL/E0001ZUL.zul");
        QVERIFY(zul::test::writeBytes(app + "/ZUL/ZULTMP.zul", "unsaved\r\n"));
        const auto refused = qorvhost(base + QStringList{"import", "E0001", m_dir.filePath("s.zul")});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains("work copy"), qPrintable(refused.err));
        QCOMPARE(zul::test::readBytes(app + "/ZUL/ZULTMP.zul"), QByteArray("unsaved\r\n"));
        QCOMPARE(zul::test::readBytes(app + "/ZUL/E0001ZUL.zul"), saved);
        QVERIFY(QFile::remove(app + "/ZUL/ZULTMP.zul"));
    }

    // A partner's text reaches the terminal escaped: no control but tab and newline, no C1, UTF-8 only.
    void hostileTextIsEscaped()
    {
        const QString plugin = pluginIn("hostileapp");
        const QString log = m_dir.filePath("hostileapp/Log"), transcript = log + "/E0007_20261206-010000_7.log";
        const QByteArray hostile = QByteArray("\x1b]0;owned\x07\x1b[2J\x00\r\x7f\t\xc2\x9b", 20) + "1m\xc2\x9d\x9b\xff";
        QVERIFY(zul::test::writeBytes(transcript, QByteArray("01:00:00.000 < 220 ") + hostile +
                                                      "\n01:00:01.000 ! outcome: caf\xc3\xa9\n"));
        const std::string outcome("550 \x1b]0;owned\x07\x1b[2J\0\r\n\t\xc2\2331m\xc2\x9d", 28); // \233: a C1 CSI
        QVERIFY(zul::test::writeBytes(log + "/runs.jsonl",
                                      zul::test::runRecordLine("E0007", "2026-12-06T01:00:00.000+0000",
                                                               "2026-12-06T01:00:01.000+0000", 4, outcome,
                                                               QFile::encodeName(transcript).toStdString())));
        const QString data = m_dir.filePath("hostiledata");
        QVERIFY(QDir().mkpath(data));
        for (const QStringList& args : {QStringList{"history"}, QStringList{"history", "--json"},
                                        QStringList{"history", "E0007"}, QStringList{"transcript", "E0007"}}) {
            const auto r = qorvhost(QStringList{"--data", data, "--plugin", plugin} + args);
            QCOMPARE(r.code, 0);
            const QByteArray& out = r.bytes;
            QVERIFY2(out.contains("\\x1B]0;owned"), out.constData()); // doubled in JSON, still there
            for (const char c : out) {
                const auto b = static_cast<unsigned char>(c);
                QVERIFY2((b >= 0x20 && b != 0x7f) || b == '\t' || b == '\n', qPrintable(args.join(' ') + ": " + out.toPercentEncoding()));
            }
            QVERIFY2(QString::fromUtf8(out).toUtf8() == out, qPrintable(args.join(' '))); // UTF-8 throughout
            for (int i = 0x80; i <= 0x9f; ++i)
                QVERIFY(!out.contains(QByteArray("\xc2") + char(i)));
            if (args[0] == "history" && args.size() < 2) // a tab from the partner is no field of its own
                QCOMPARE(out.trimmed().split('\t').size(), 7);
        }
    }

    // Every status's words, from one table, wherever an operator reads them: help, history, README, manual.
    void statusWordsEverywhere_data()
    {
        QTest::addColumn<QString>("words");
        for (const auto& [status, words] : zul::records::kExitStatuses)
            QTest::newRow(qPrintable(QString::number(int(status)))) << QString::fromUtf8(words);
        QTest::newRow("no status") << QString::fromUtf8(zul::records::kUnfinishedWords);
    }
    void statusWordsEverywhere()
    {
        QFETCH(QString, words);
        if (m_statusTexts.isEmpty()) {
            const QString plugin = pluginIn("statusapp");
            QByteArray runs;
            zul::runner::RunRecord r;
            r.event = "E0001", r.start = "2026-12-05T02:00:00.000+0000", r.end = "2026-12-05T02:00:01.000+0000";
            for (const auto& entry : zul::records::kExitStatuses) {
                r.exitStatus = int(entry.status);
                runs += zul::test::runRecordLine(r); // no outcome: the history says the status's words
            }
            namespace field = zul::records::runfield;
            runs += zul::test::runRecordLineWithout(r, {field::kEnd, field::kExit, field::kOutcome});
            QVERIFY(zul::test::writeBytes(m_dir.filePath("statusapp/Log/runs.jsonl"), runs));
            const auto history = qorvhost({"--data", m_dir.filePath("statusdata"), "--plugin", plugin, "history"});
            QCOMPARE(history.code, 0);
            const auto help = start(qEnvironmentVariable("ZUL_APP_BUILD_DIR") + "/VelundZUL", {"--help"});
            QCOMPARE(help.code, 0);
            const QString source(ZUL_SOURCE_DIR);
            m_statusTexts = {
                {"VelundZUL --help", help.out},
                {"history", history.out},
                {"README.md", QString::fromUtf8(zul::test::readBytes(source + "/README.md"))},
                {"VelundZUL.1.scd", QString::fromUtf8(zul::test::readBytes(source + "/docs/man/VelundZUL.1.scd"))}};
        }
        for (const auto& [where, text] : m_statusTexts.asKeyValueRange()) {
            // The documents may begin a sentence with the words.
            const auto sensitivity = where.contains('.') ? Qt::CaseInsensitive : Qt::CaseSensitive;
            QVERIFY2(text.contains(words, sensitivity), qPrintable(where + " lacks \"" + words + "\""));
        }
    }
};

QTEST_GUILESS_MAIN(QorvhostTest)
#include "tst_qorvhost.moc"
