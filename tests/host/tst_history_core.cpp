#include "host/history/RunLog.h"
#include "host/history/Schedule.h"
#include "records/ExitStatus.h"
#include "records/RunRecord.h"
#include "records/RunStatus.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zul::history;

using Progress = std::tuple<QString, qint64, qint64, qint64, QString>; // file, done, total, rate, shown
Q_DECLARE_METATYPE(Progress)
using Status = std::tuple<bool, int, long, bool>; // lock held, file mode, pid shift, counts as running
Q_DECLARE_METATYPE(Status)
using Read = std::tuple<QByteArray, QString, int, QString, qint64>; // line, event (null: none), exit, outcome, bytes up
Q_DECLARE_METATYPE(Read)
using Cron = std::tuple<QString, QString, QString>; // calendar time, crontab fields (empty: refused), why
Q_DECLARE_METATYPE(Cron)

// The quick commands must print what the window's Qt side makes of the same record.
class HistoryCoreTest : public QObject {
    Q_OBJECT
private slots:
    // A running run's line, as the history and the events window show it.
    void progressTexts_data()
    {
        QTest::addColumn<Progress>("progress");
        QTest::newRow("size known") << Progress{"payroll.dat", 1'200'000'000, 4'000'000'000, 38'000'000,
                                                "line 4, get payroll.dat, 1.2 of 4.0 GB, 38 MB/s, about 1 min left"};
        QTest::newRow("size not known") << Progress{"a.txt", 52'000, -1, 1'500'000,
                                                    "line 4, get a.txt, 52.0 kB, 1.5 MB/s"};
        QTest::newRow("stalled") << Progress{"s.bin", 100, 1000, 0, "line 4, get s.bin, 0.1 of 1.0 kB"};
        QTest::newRow("hours left") << Progress{"big", 0, 40'000'000'000, 5'000'000,
                                                "line 4, get big, 0.0 of 40.0 GB, 5.0 MB/s, about 2 h 13 min left"};
        QTest::newRow("between transfers") << Progress{"", 0, -1, 0, "line 4, get"};
    }
    void progressTexts()
    {
        QFETCH(Progress, progress);
        const auto& [file, done, total, rate, shown] = progress;
        zul::records::RunStatus s;
        s.pid = 4242, s.line = 4, s.command = "get", s.file = file.toStdString();
        s.done = done, s.total = total, s.rate = rate;
        const auto back = zul::records::parseStatus(zul::records::statusText(s));
        QVERIFY(back);
        QCOMPARE(QString::fromStdString(zul::records::progressText(*back)), shown);
    }

    // A status counts beside a lock its run holds, in a file no one else could write, naming its own pid.
    void runningNeedsAHeldLockAndATrustedFile_data()
    {
        QTest::addColumn<Status>("status");
        QTest::newRow("held, 0640") << Status{true, 0640, 0L, true};
        QTest::newRow("lock let go") << Status{false, 0640, 0L, false};
        QTest::newRow("group may write") << Status{true, 0660, 0L, false};
        QTest::newRow("others may write") << Status{true, 0602, 0L, false};
        QTest::newRow("another pid inside") << Status{true, 0640, 1L, false};
    }
    void runningNeedsAHeldLockAndATrustedFile()
    {
        QFETCH(Status, status);
        const auto& [held, mode, pidShift, running] = status;
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        const std::string stem = folder + "/run-" + std::to_string(::getpid());
        const int lock = ::open((stem + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
        QVERIFY(lock >= 0);
        if (held)
            QVERIFY(::flock(lock, LOCK_EX) == 0);
        zul::records::RunStatus s;
        s.pid = long(::getpid()) + pidShift, s.event = "E0001";
        QVERIFY(std::ofstream(stem + ".status") << zul::records::statusText(s));
        QVERIFY(::chmod((stem + ".status").c_str(), mode_t(mode)) == 0);
        QCOMPARE(zul::records::runningRuns(folder, "E0001").size(), std::size_t(running ? 1 : 0));
        QVERIFY(zul::records::runningRuns(folder, "E0002").empty());
        ::close(lock);
        QCOMPARE(zul::records::statusNameFor("run-12-0a9f.lock"), std::string("run-12-0a9f.status"));
        for (const char* name : {"run-.lock", "run-x1.lock", "event-12.lock", "run-12-.lock", "run-12-XY.lock"})
            QCOMPARE(zul::records::statusNameFor(name), std::string());
    }

    // A field of another type reads as missing; a record cut short gives way to the one glued to it.
    void runRecordRead_data()
    {
        QTest::addColumn<Read>("read");
        const QByteArray head = "{\"event\":\"E0001\",\"start\":\"2026-12-05T02:00:00Z\",";
        const auto row = [](const char* tag, const QByteArray& line, const char* event, int exit = -1,
                            const QString& outcome = "", qint64 bytesUp = 0) {
            QTest::newRow(tag) << Read{line, event, exit, outcome, bytesUp};
        };
        row("as written", head + "\"exit\":4,\"outcome\":\"550 caf\\u00e9\",\"bytes_up\":12}", "E0001", 4,
            QString::fromUtf8("550 caf\xc3\xa9"), 12);
        row("types that do not fit", head + "\"exit\":\"4\",\"outcome\":5,\"bytes_up\":\"12\"}", "E0001");
        row("whole numbers as doubles", head + "\"exit\":3.0,\"bytes_up\":1e3}", "E0001", 3, "", 1000);
        row("beyond 32 bits", head + "\"exit\":0,\"bytes_up\":12345678901}", "E0001", 0, "", 12345678901);
        row("the last of two", head + "\"exit\":1,\"exit\":2}", "E0001", 2);
        row("cut short, the next glued on", "{\"event\":\"E0001\",\"start\":\"2026{\"event\":\"E0002\",\"exit\":0}",
            "E0002", 0);
        row("cut short", head + "\"exit\":0,\"outc", nullptr);
        row("no event", "{\"start\":\"2026-12-05T02:00:00Z\",\"exit\":0}", nullptr);
        row("not UTF-8", head + "\"exit\":0,\"outcome\":\"\xc3\x28\"}", nullptr);
        row("an array", "[{\"event\":\"E0001\"}]", nullptr);
    }
    void runRecordRead()
    {
        QFETCH(Read, read);
        const auto& [line, event, exit, outcome, bytesUp] = read;
        const auto got = zul::records::readRunRecord(line.toStdString());
        QCOMPARE(bool(got), !event.isNull());
        if (!got)
            return;
        QCOMPARE(QString::fromStdString(got->record.event), event);
        QCOMPARE(got->hasExit ? got->record.exitStatus : -1, exit);
        QCOMPARE(QString::fromStdString(got->record.outcome), outcome);
        QCOMPARE(got->record.bytesUp, bytesUp);
    }

    // Byte for byte as records have always been on disk: code-page text as its characters, all ASCII.
    void runRecordWritten()
    {
        zul::records::RunRecord r;
        r.event = "E\xe9", r.start = "2026-12-05T02:00:00.000+0000", r.exitStatus = 4;
        r.outcome = "550 \"a\\b\" \x80\t\x01\x7f";
        r.filesDown = 1, r.bytesDown = 12345678901, r.kept = "Junction/E000101.txt";
        QCOMPARE(
            QByteArray::fromStdString(zul::records::runRecordLine(r)),
            QByteArray("{\"event\":\"E\\u00e9\",\"start\":\"2026-12-05T02:00:00.000+0000\",\"end\":\"\",\"exit\":4,"
                       "\"outcome\":\"550 \\\"a\\\\b\\\" \\u20ac\\t\\u0001\\u007f\",\"files_up\":0,\"bytes_up\":0,"
                       "\"files_down\":1,\"bytes_down\":12345678901,\"transcript\":\"\","
                       "\"kept\":\"Junction/E000101.txt\"}\n"));
        r.kept.clear();
        QVERIFY(zul::records::runRecordLine(r).find("kept") == std::string::npos);
    }

    // A systemd calendar time as a crontab line says it, or why it cannot.
    void cronFields_data()
    {
        QTest::addColumn<Cron>("cron");
        QTest::newRow("daily") << Cron{"daily", "0 0 * * *", ""};
        QTest::newRow("weekly") << Cron{"weekly", "0 0 * * 1", ""};
        QTest::newRow("quarterly") << Cron{"quarterly", "0 0 1 1,4,7,10 *", ""};
        QTest::newRow("working days") << Cron{"Mon..Fri 02:30", "30 2 * * 1-5", ""};
        QTest::newRow("weekend wraps to Sunday 0") << Cron{"Sat,Sun *-*-* 06:00:00", "0 6 * * 0,6", ""};
        QTest::newRow("list and step") << Cron{"*-*-* 8..17:0/15", "0-59/15 8-17 * * *", ""};
        QTest::newRow("month and day") << Cron{"*-12-24 18:05", "5 18 24 12 *", ""};
        QTest::newRow("date without year") << Cron{"06-01 00:00", "0 0 1 6 *", ""};
        QTest::newRow("a year") << Cron{"2027-01-01 00:00", "", "no years"};
        QTest::newRow("seconds") << Cron{"*-*-* 02:30:15", "", "seconds"};
        QTest::newRow("weekday and day") << Cron{"Mon *-*-01 00:00", "", "either a weekday or a day"};
        QTest::newRow("time zone") << Cron{"*-*-* 02:00 Europe/Berlin", "", "time zone"};
        QTest::newRow("hour out of range") << Cron{"*-*-* 25:00", "", "cannot say"};
        QTest::newRow("descending weekdays") << Cron{"Fri..Mon 02:00", "", ""};
    }
    void cronFields()
    {
        QFETCH(Cron, cron);
        const auto& [when, fields, why] = cron;
        std::string reason;
        const auto got = zul::history::cronFields(when.toStdString(), &reason);
        QCOMPARE(got ? QString::fromStdString(*got) : QString(), fields);
        QVERIFY2(QString::fromStdString(reason).contains(why), reason.c_str());
    }

    // The package's service and a written timer, as systemd reads them (the program is not installed here).
    void unitsAsSystemdReadsThem()
    {
        if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
            QSKIP("no systemd-analyze here (package systemd)");
        QTemporaryDir dir;
        const QString service = ZUL_SOURCE_DIR "/packaging/systemd/zul-run@.service";
        QVERIFY(QFile::copy(service, dir.filePath("zul-run@E0001.service")));
        QVERIFY(std::ofstream(dir.filePath("zul-run@E0001.timer").toStdString())
                << timerUnit("E0001", "Mon..Fri 02:30"));
        QProcess verify;
        verify.setWorkingDirectory(dir.path());
        verify.start("systemd-analyze", {"verify", "--man=no", "./zul-run@E0001.timer", "./zul-run@E0001.service"});
        QVERIFY(verify.waitForFinished(60000));
        QStringList said = QString::fromUtf8(verify.readAllStandardError() + verify.readAllStandardOutput())
                               .split('\n', Qt::SkipEmptyParts)
                               .filter(QRegularExpression("^(?!.*/usr/bin/qorvhost is not executable)"));
        QVERIFY2(said.isEmpty(), qPrintable(said.join('\n')));
    }

    // Sizes and durations as Qt's fixed notation shows them, halves included (359,250 bytes: "359.3 kB").
    void numberTexts()
    {
        auto size = [](qint64 b) {
            if (b < 1000)
                return QStringLiteral("%1 B").arg(b);
            if (b < 1000'000)
                return QStringLiteral("%1 kB").arg(double(b) / 1e3, 0, 'f', 1);
            if (b < 1000'000'000)
                return QStringLiteral("%1 MB").arg(double(b) / 1e6, 0, 'f', 1);
            return QStringLiteral("%1 GB").arg(double(b) / 1e9, 0, 'f', 2);
        };
        std::vector<qint64> bytes = {0, 999, 1000, 1049, 1050, 1150, 359'250, 999'949, 999'950, 999'999'950,
                                     1'250'000'000, 1'255'000'000, 1'005'000'000};
        QRandomGenerator random(16);
        for (int i = 0; i < 20000; ++i)
            bytes.push_back(qint64(random.bounded(200000)) * (i % 2 ? 50 : 5000) + (i % 3 == 0 ? random.bounded(50) : 0));
        for (const qint64 b : bytes)
            QCOMPARE(QString::fromStdString(shownTransfer(2, b)), QStringLiteral("2 files, ") + size(b));
        QCOMPARE(QString::fromStdString(shownTransfer(1, 5)), QStringLiteral("1 file, 5 B"));
        for (qint64 ms = 0; ms < 60'000; ++ms) // halves included
            QCOMPARE(QString::fromStdString(shownDuration(ms)),
                     QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1));
        QCOMPARE(QString::fromStdString(shownDuration(-1)), QStringLiteral("-"));
        QCOMPARE(QString::fromStdString(shownDuration(245'000)), QStringLiteral("4 min 05 s"));
        QCOMPARE(QString::fromStdString(shownDuration(3'660'000)), QStringLiteral("1 h 01 min"));
    }

    // A dead runner ran as long as its record tells; "unknown" without a sign of life after its start.
    void deadRunDuration_data()
    {
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<QString>("shown");
        QTest::newRow("last sign of life 95 s in") << QByteArray("2026-12-05T02:01:35.000+0000") << "1 min 35 s";
        QTest::newRow("no end known") << QByteArray() << "unknown";
    }
    void deadRunDuration()
    {
        QFETCH(QByteArray, end);
        QFETCH(QString, shown);
        zul::records::RunRecord r;
        r.event = "E0001", r.start = "2026-12-05T02:00:00.000+0000", r.end = end.toStdString();
        r.exitStatus = int(zul::records::ExitStatus::Interrupted);
        r.outcome = "interrupted: the run ended " + std::string(zul::records::kUnfinishedMark);
        const auto run = RunLog::fromRunRecord(zul::records::runRecordLine(r));
        QVERIFY(run);
        QCOMPARE(run->result, Run::Result::Unfinished);
        QCOMPARE(QString::fromStdString(shownDuration(*run)), shown);
    }
};

QTEST_GUILESS_MAIN(HistoryCoreTest)
#include "tst_history_core.moc"
