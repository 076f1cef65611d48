#include "host/HistoryModel.h"
#include "host/MessageService.h"
#include "host/history/RunLog.h"
#include "host/history/Schedule.h"
#include "records/ExitStatus.h"
#include "records/RunRecord.h"
#include "records/RunStatus.h"

#include "support/Files.h"
#include "support/Records.h"
#include "support/Rows.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zul::host;
using zul::com::msg;
using namespace zul::history;
using zul::test::columns;
using zul::test::fetch;
using zul::test::writeBytes;
namespace field = zul::records::runfield;

namespace {

// A stamp as the runner writes it: local time, milliseconds, the zone's offset.
QString stamp(const QDateTime& t)
{
    const int off = t.offsetFromUtc();
    return t.toString("yyyy-MM-ddTHH:mm:ss.zzz") + (off < 0 ? '-' : '+') +
           QStringLiteral("%1%2").arg(qAbs(off) / 3600, 2, 10, QChar('0')).arg(qAbs(off) / 60 % 60, 2, 10, QChar('0'));
}

QDateTime minutesAgo(int m)
{
    static const QDateTime now = QDateTime::currentDateTime();
    return now.addSecs(-60 * m);
}

zul::runner::RunRecord record(const std::string& event, int startAgo, int seconds, int exit, const std::string& outcome)
{
    zul::runner::RunRecord r;
    r.event = event, r.exitStatus = exit, r.outcome = outcome;
    r.start = stamp(minutesAgo(startAgo)).toStdString();
    r.end = stamp(minutesAgo(startAgo).addSecs(seconds)).toStdString();
    return r;
}

QByteArray runLine(const QString& event, int startAgo, int seconds, int exit, const QString& outcome,
                   const QString& transcript = {}, const QString& kept = {})
{
    auto r = record(event.toStdString(), startAgo, seconds, exit, outcome.toStdString());
    r.filesUp = 1, r.bytesUp = 1200, r.filesDown = 2, r.bytesDown = 34000;
    r.transcript = transcript.isEmpty() ? "/nowhere/" + r.event + ".log" : transcript.toStdString();
    r.kept = kept.toStdString();
    return zul::test::runRecordLine(r);
}

} // namespace

// Runner records and the host's failures before any runner, newest first, over rotated and large files.
class RunHistoryTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString log() const { return m_dir.filePath("Log"); }
    QString messages() const { return m_dir.filePath("messages.jsonl"); }
    RunLog history() const { return RunLog(log().toStdString(), messages().toStdString()); }
    static RunLog runsIn(const QTemporaryDir& dir) { return RunLog(dir.path().toStdString(), "/nonexistent.jsonl"); }

    void hostMessage(const zul::com::Args& args, int ago)
    {
        QVERIFY(zul::test::appendHostMessage(messages(), args, minutesAgo(ago)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkpath("Log"));
        QByteArray runs;
        runs += runLine("E0001", 50, 3, 0, "success");
        runs += runLine("E0002", 49, 1, 3, "login refused: 530 Login incorrect.");
        runs += runLine("E0005", 48, 7, 9, "ended without finishing: the runner (process 4242) was killed");
        runs += zul::test::runRecordLineWithout(record("E0006", 47, 0, 0, {}),
                                                {field::kEnd, field::kExit, field::kOutcome});
        // One that was running while E0001's later run came and went.
        runs += runLine("E0007", 46, 1, 0, "success");
        runs += runLine("E0007", 45, 600, 6, "transient failure after retries: timed out");
        // A record cut short by a full disk, the next one glued to it, and a line that is no record.
        const QByteArray cut = runLine("E0008", 52, 1, 0, "success");
        runs += cut.left(cut.indexOf("\"end\":\"") + 9);
        runs += zul::test::runRecordLine(record("E0009", 51, 2, 0, "success"));
        runs += "not a record\n";
        runs += runLine("E0010", 55, 1, 7, "delivery failure: the target folder /x does not exist", {},
                        "Junction/E001001.bin");
        QVERIFY(writeBytes(m_dir.filePath("Log/runs.jsonl"), runs));
        hostMessage(zul::test::partnerAnsweredMessage("E0001"), 50);
        hostMessage(zul::test::partnerSilentMessage("E0003 "), 41); // the id as the event structure holds it
        hostMessage({false, msg(3281), "L", "E0004", "ZUL", "1", "12/05/2026", "02:00:00", "90",
                     "cannot start VelundZUL: No such file or directory"},
                    43);
        hostMessage({false, msg(3281), "D", "File 'x' not found."}, 42); // a prompt, not a run
        hostMessage(zul::test::partnerSilentMessage("E0007"), 44);
    }

    void merge_data()
    {
        using R = Run::Result;
        const auto row = columns<QString, R, QString, int, qint64>(); // event, result, outcome, exit (-1: none), ms
        row("success", "E0001", R::Success, "success", 0, 3000);
        row("login refused", "E0002", R::Failed, "login refused: 530 Login incorrect.", 3, 1000);
        row("partner silent", "E0003", R::NotStarted, "partner did not answer: 192.0.2.7", -1, -1);
        row("failed before the start", "E0004", R::NotStarted,
            "failed before the start: cannot start VelundZUL: No such file or directory", -1, -1);
        row("killed, as a later run recorded it", "E0005", R::Unfinished,
            "ended without finishing: the runner (process 4242) was killed", 9, 7000);
        row("killed, a start and no end", "E0006", R::Unfinished, "unfinished", -1, -1);
        row("glued to a record cut short", "E0009", R::Success, "success", 0, 2000);
        row("file kept in Junction", "E0010", R::Failed,
            "delivery failure: the target folder /x does not exist; received, not delivered: kept as "
            "Junction/E001001.bin",
            7, 1000);
    }
    void merge()
    {
        const auto [event, result, outcome, exit, duration] = fetch<QString, Run::Result, QString, int, qint64>();
        const auto runs = history().read(event.toStdString());
        QCOMPARE(runs.size(), std::size_t(1));
        const Run& r = runs.front();
        QCOMPARE(r.result, result);
        QCOMPARE(QString::fromStdString(r.outcome), outcome);
        QCOMPARE(r.exitStatus.value_or(-1), exit);
        QCOMPARE(r.durationMs(), duration);
        QCOMPARE(r.source == Run::Source::Host, result == Run::Result::NotStarted);
    }

    void newestFirstAcrossBothLogsAndLatest()
    {
        const auto runs = history().read("E0007");
        QCOMPARE(runs.size(), std::size_t(3));
        QCOMPARE(int(runs[0].result), int(Run::Result::NotStarted)); // 44 minutes ago
        QCOMPARE(runs[1].exitStatus.value_or(-1), 6);                // 45
        QCOMPARE(runs[2].exitStatus.value_or(-1), 0);                // 46
        const auto all = history().read();
        QCOMPARE(all.size(), std::size_t(11));
        for (std::size_t i = 1; i < all.size(); ++i)
            QVERIFY(all[i - 1].startMs >= all[i].startMs);
        const auto two = history().read({}, 2);
        QVERIFY(two.size() == 2 && two[0].event == "E0003" && two[1].event == "E0004");

        const auto latest = history().latest({"E0001", "E0003", "E0007", "E0099"});
        QCOMPARE(latest.size(), std::size_t(3));
        QCOMPARE(int(latest.at("E0001").result), int(Run::Result::Success));
        QCOMPARE(int(latest.at("E0003").result), int(Run::Result::NotStarted));
        // The partner failure came after the runner's last record.
        QCOMPARE(int(latest.at("E0007").result), int(Run::Result::NotStarted));
    }

    // The newest by start, over rotated files and records out of start order (long runs end late).
    void limitOverRotatedFiles()
    {
        QTemporaryDir dir;
        QByteArray oldest, older, current;
        for (int m = 300; m > 200; --m)
            oldest += runLine("E0001", m, 1, 0, "success") + runLine("E0002", m, 1, 0, "success");
        for (int m = 200; m > 100; --m)
            older += runLine("E0001", m, 1, 0, "success");
        current += runLine("E0002", 20, 1, 0, "success");
        current += runLine("E0001", 30, 1500, 0, "success"); // started before, ended after the next
        current += runLine("E0001", 10, 1, 4, "remote file or permission error");
        QVERIFY(writeBytes(dir.filePath("runs.jsonl.2"), oldest) && writeBytes(dir.filePath("runs.jsonl.1"), older));
        QVERIFY(writeBytes(dir.filePath("runs.jsonl"), current));
        // A fifo planted as the lock file holds no reader up.
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(".runs.jsonl.lock")).constData(), 0660), 0);
        const RunLog h = runsIn(dir);
        QCOMPARE(h.runFiles().size(), std::size_t(3));

        auto runs = h.read("E0001", 3);
        QCOMPARE(runs.size(), std::size_t(3));
        QCOMPARE(runs[0].exitStatus.value_or(-1), 4);
        QCOMPARE(runs[1].startMs, minutesAgo(30).toMSecsSinceEpoch());
        QCOMPARE(runs[2].startMs, minutesAgo(101).toMSecsSinceEpoch());
        runs = h.read("E0002", 3);
        QCOMPARE(runs.size(), std::size_t(3));
        QCOMPARE(runs[2].startMs, minutesAgo(202).toMSecsSinceEpoch());
        QCOMPARE(h.read("E0001").size(), std::size_t(202));
        QCOMPARE(h.read({}, 1).front().startMs, minutesAgo(10).toMSecsSinceEpoch());
    }

    // A dead run's record comes late, old times after newer ones: not the file's start for the scan.
    void aRecordOfARunThatDiedComesLate()
    {
        QTemporaryDir dir;
        QByteArray runs;
        for (int m = 400; m > 100; --m)
            runs += runLine("E0001", m, 1, 0, "success");
        runs += runLine("E0001", 75, 65 * 60, 6, "transient failure after retries"); // ended 10 minutes ago
        for (int k = 0; k < 40; ++k)
            runs += runLine("E0002", 250 + k, 60, 8, "interrupted: the run ended without finishing");
        runs += runLine("E0001", 80, 75 * 60, 0, "success");
        runs += runLine("E0001", 70, 66 * 60, 0, "success");
        runs += runLine("E0001", 60, 57 * 60, 0, "success");
        QVERIFY(writeBytes(dir.filePath("runs.jsonl"), runs));
        const auto top = runsIn(dir).read("E0001", 3);
        QCOMPARE(top.size(), std::size_t(3));
        QCOMPARE(top[0].startMs, minutesAgo(60).toMSecsSinceEpoch());
        QCOMPARE(top[1].startMs, minutesAgo(70).toMSecsSinceEpoch());
        QCOMPARE(top[2].exitStatus.value_or(-1), 6);
    }

    // New runs on top are inserted rows (the selection stays); anything else resets the model.
    void modelUpdates_data()
    {
        const auto row = columns<QString, QString, bool>(); // start minutes before and after, newest first; a reset
        row("new runs on top", "5 4 3", "7 6 5 4 3", false);
        row("on top, the oldest past the limit", "5 4 3", "6 5 4", false);
        row("older runs come into reach", "5 4", "6 5 4 3 2", false);
        row("nothing new", "5 4 3", "5 4 3", false);
        row("one in the middle", "5 4 3", "5 4 3.5 3", true);
        row("another event", "5 4 3", "9 8", true);
        row("from nothing", "", "2 1", true);
        row("to nothing", "2 1", "", true);
    }
    void modelUpdates()
    {
        const auto [before, after, reset] = fetch<QString, QString, bool>();
        auto runs = [](const QString& list) {
            std::vector<Run> out;
            for (const QString& m : list.split(' ', Qt::SkipEmptyParts)) {
                Run e;
                e.event = "E0001";
                e.startMs = qint64(m.toDouble() * 60000);
                e.start = std::to_string(e.startMs);
                out.push_back(e);
            }
            return out;
        };
        HistoryModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setEntries(runs(before));
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setEntries(runs(after));
        QCOMPARE(resets.size() == 1, reset);
        QCOMPARE(model.rowCount(), int(runs(after).size()));
        for (int row = 0; row < model.rowCount(); ++row)
            QCOMPARE(model.index(row, HistoryModel::Start).data().toString(),
                     QString::fromStdString(runs(after)[std::size_t(row)].start));
    }

    void reverseLines_data()
    {
        const auto row = columns<QByteArray, QList<QByteArray>>(); // lines newest first
        row("plain", "a\nbb\nccc\n", {"ccc", "bb", "a"});
        row("a writer still at work", "a\nbb\n{\"event\":", {"bb", "a"});
        row("CR LF and blank lines", "a\r\n\r\n\nb\r\n", {"b", "a"});
        row("only a fragment", "abc", {});
        row("empty", {}, {});
        const QByteArray longLine(200 * 1024, 'x');
        row("lines longer than a chunk", "first\n" + longLine + "\nlast\n", {"last", longLine, "first"});
    }
    void reverseLines()
    {
        const auto [bytes, lines] = fetch<QByteArray, QList<QByteArray>>();
        QTemporaryDir dir;
        QVERIFY(writeBytes(dir.filePath("f"), bytes));
        zul::history::ReverseLines r(dir.filePath("f").toStdString());
        QVERIFY(r.isOpen());
        QList<QByteArray> got;
        std::string_view line;
        while (r.next(line))
            got << QByteArray(line.data(), qsizetype(line.size()));
        QCOMPARE(got, lines);
        QVERIFY(!zul::history::ReverseLines(dir.filePath("missing").toStdString()).isOpen());
    }

    void stamps_data()
    {
        const auto row = columns<QString, qint64>(); // ms -1: not a stamp
        const qint64 base = QDateTime(QDate(2026, 12, 5), QTime(2, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        row("runner's stamp", "2026-12-05T03:00:00.250+0100", base + 250);
        row("offset with a colon", "2026-12-04T21:30:00-04:30", base);
        row("UTC", "2026-12-05T02:00:00Z", base);
        row("local time, as the host logs", "2026-12-05T02:00:00",
            QDateTime(QDate(2026, 12, 5), QTime(2, 0)).toMSecsSinceEpoch());
        row("a date only", "2026-12-05", -1);
        row("letters in the time", "2026-12-05T0x:00:00", -1);
    }
    void stamps()
    {
        const auto [text, ms] = fetch<QString, qint64>();
        QCOMPARE(zul::history::parseStamp(text.toStdString()).value_or(-1), ms);
    }

    // A running run's line, as the history and the events window show it.
    void progressTexts_data()
    {
        const auto row = columns<QString, qint64, qint64, qint64, QString>(); // file, done, total, rate, shown
        row("size not known", "a.txt", 52'000, -1, 1'500'000, "line 4, get a.txt, 52.0 kB, 1.5 MB/s");
        row("stalled", "s.bin", 100, 1000, 0, "line 4, get s.bin, 0.1 of 1.0 kB");
        row("hours left", "big", 0, 40'000'000'000, 5'000'000,
            "line 4, get big, 0.0 of 40.0 GB, 5.0 MB/s, about 2 h 13 min left");
        row("between transfers", "", 0, -1, 0, "line 4, get");
    }
    void progressTexts()
    {
        const auto [file, done, total, rate, shown] = fetch<QString, qint64, qint64, qint64, QString>();
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
        const auto row = columns<bool, int, long, bool>(); // lock held, file mode, pid shift, counts as running
        row("held, 0640", true, 0640, 0, true);
        row("lock let go", false, 0640, 0, false);
        row("group may write", true, 0660, 0, false);
        row("others may write", true, 0602, 0, false);
        row("another pid inside", true, 0640, 1, false);
    }
    void runningNeedsAHeldLockAndATrustedFile()
    {
        const auto [held, mode, pidShift, running] = fetch<bool, int, long, bool>();
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
        const QByteArray head = "{\"event\":\"E0001\",\"start\":\"2026-12-05T02:00:00Z\",";
        const auto row = columns<QByteArray, QString, int, QString, qint64>(); // event null: not read
        row("as written", head + "\"exit\":4,\"outcome\":\"550 caf\\u00e9\",\"bytes_up\":12}", "E0001", 4,
            QString::fromUtf8("550 caf\xc3\xa9"), 12);
        row("types that do not fit", head + "\"exit\":\"4\",\"outcome\":5,\"bytes_up\":\"12\"}", "E0001", -1, "", 0);
        row("whole numbers as doubles", head + "\"exit\":3.0,\"bytes_up\":1e3}", "E0001", 3, "", 1000);
        row("beyond 32 bits", head + "\"exit\":0,\"bytes_up\":12345678901}", "E0001", 0, "", 12345678901);
        row("the last of two", head + "\"exit\":1,\"exit\":2}", "E0001", 2, "", 0);
        row("cut short, the next glued on", "{\"event\":\"E0001\",\"start\":\"2026{\"event\":\"E0002\",\"exit\":0}",
            "E0002", 0, "", 0);
        row("cut short", head + "\"exit\":0,\"outc", {}, 0, "", 0);
        row("no event", "{\"start\":\"2026-12-05T02:00:00Z\",\"exit\":0}", {}, 0, "", 0);
        row("not UTF-8", head + "\"exit\":0,\"outcome\":\"\xc3\x28\"}", {}, 0, "", 0);
        row("an array", "[{\"event\":\"E0001\"}]", {}, 0, "", 0);
    }
    void runRecordRead()
    {
        const auto [line, event, exit, outcome, bytesUp] = fetch<QByteArray, QString, int, QString, qint64>();
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
        const auto row = columns<QString, QString, QString>(); // calendar time, crontab fields (empty: refused), why
        row("daily", "daily", "0 0 * * *", "");
        row("weekly", "weekly", "0 0 * * 1", "");
        row("quarterly", "quarterly", "0 0 1 1,4,7,10 *", "");
        row("working days", "Mon..Fri 02:30", "30 2 * * 1-5", "");
        row("weekend wraps to Sunday 0", "Sat,Sun *-*-* 06:00:00", "0 6 * * 0,6", "");
        row("list and step", "*-*-* 8..17:0/15", "0-59/15 8-17 * * *", "");
        row("month and day", "*-12-24 18:05", "5 18 24 12 *", "");
        row("date without year", "06-01 00:00", "0 0 1 6 *", "");
        row("a year", "2027-01-01 00:00", "", "no years");
        row("seconds", "*-*-* 02:30:15", "", "seconds");
        row("weekday and day", "Mon *-*-01 00:00", "", "either a weekday or a day");
        row("time zone", "*-*-* 02:00 Europe/Berlin", "", "time zone");
        row("hour out of range", "*-*-* 25:00", "", "cannot say");
        row("descending weekdays", "Fri..Mon 02:00", "", "");
    }
    void cronFields()
    {
        const auto [when, fields, why] = fetch<QString, QString, QString>();
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
        std::vector<qint64> bytes = {0,       999,     1000,        1049,          1050,          1150,         359'250,
                                     999'949, 999'950, 999'999'950, 1'250'000'000, 1'255'000'000, 1'005'000'000};
        QRandomGenerator random(16);
        for (int i = 0; i < 20000; ++i)
            bytes.push_back(qint64(random.bounded(200000)) * (i % 2 ? 50 : 5000) +
                            (i % 3 == 0 ? random.bounded(50) : 0));
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
        const auto row = columns<QByteArray, QString>();
        row("last sign of life 95 s in", "2026-12-05T02:01:35.000+0000", "1 min 35 s");
        row("no end known", {}, "unknown");
    }
    void deadRunDuration()
    {
        const auto [end, shown] = fetch<QByteArray, QString>();
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

QTEST_GUILESS_MAIN(RunHistoryTest)
#include "tst_run_history.moc"
