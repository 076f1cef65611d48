#include "host/HistoryModel.h"
#include "host/MessageService.h"
#include "host/history/RunLog.h"
#include "host/history/Schedule.h"
#include "records/ExitStatus.h"
#include "records/RunRecord.h"
#include "records/RunStatus.h"

#include "support/Files.h"
#include "support/Records.h"

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
using zul::test::writeBytes;
namespace field = zul::records::runfield;

using Merged = std::tuple<QString, int, QString, int, qint64>; // event, result, outcome, exit (-1: none), duration
using Update = std::tuple<QString, QString, bool>; // runs by start minute before and after, newest first; a reset
using Progress = std::tuple<QString, qint64, qint64, qint64, QString>; // file, done, total, rate, shown
using Status = std::tuple<bool, int, long, bool>; // lock held, file mode, pid shift, counts as running
using Read = std::tuple<QByteArray, QString, int, QString, qint64>; // line, event (null: none), exit, outcome, bytes up
using Cron = std::tuple<QString, QString, QString>; // calendar time, crontab fields (empty: refused), why

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

// Runner records and the host's failures before any runner, newest first, over rotated and large files; the texts
// that the quick commands print must be what the window's Qt side makes of the same record.
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
        QTest::addColumn<Merged>("merged");
        using R = Run::Result;
        const auto row = [](const char* tag, const char* event, R result, const char* outcome, int exit, qint64 ms) {
            QTest::newRow(tag) << Merged{event, int(result), outcome, exit, ms};
        };
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
        QFETCH(Merged, merged);
        const auto& [event, result, outcome, exit, duration] = merged;
        const auto runs = history().read(event.toStdString());
        QCOMPARE(runs.size(), std::size_t(1));
        const Run& r = runs.front();
        QCOMPARE(QString::fromStdString(r.event), event);
        QCOMPARE(int(r.result), result);
        QCOMPARE(QString::fromStdString(r.outcome), outcome);
        QCOMPARE(r.exitStatus.value_or(-1), exit);
        QCOMPARE(r.durationMs(), duration);
        QCOMPARE(r.source == Run::Source::Host, result == int(Run::Result::NotStarted));
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
        QCOMPARE(two.size(), std::size_t(2));
        QCOMPARE(two[0].event, std::string("E0003"));
        QCOMPARE(two[1].event, std::string("E0004"));

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
        QVERIFY(writeBytes(dir.filePath("runs.jsonl.2"), oldest));
        QVERIFY(writeBytes(dir.filePath("runs.jsonl.1"), older));
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
        QTest::addColumn<Update>("update");
        QTest::newRow("new runs on top") << Update{"5 4 3", "7 6 5 4 3", false};
        QTest::newRow("on top, the oldest past the limit") << Update{"5 4 3", "6 5 4", false};
        QTest::newRow("older runs come into reach") << Update{"5 4", "6 5 4 3 2", false};
        QTest::newRow("nothing new") << Update{"5 4 3", "5 4 3", false};
        QTest::newRow("one in the middle") << Update{"5 4 3", "5 4 3.5 3", true};
        QTest::newRow("another event") << Update{"5 4 3", "9 8", true};
        QTest::newRow("from nothing") << Update{"", "2 1", true};
        QTest::newRow("to nothing") << Update{"2 1", "", true};
    }
    void modelUpdates()
    {
        QFETCH(Update, update);
        const auto& [before, after, reset] = update;
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
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<QByteArray>>("lines"); // newest first

        QTest::newRow("plain") << QByteArray("a\nbb\nccc\n") << QList<QByteArray>{"ccc", "bb", "a"};
        QTest::newRow("a writer still at work") << QByteArray("a\nbb\n{\"event\":") << QList<QByteArray>{"bb", "a"};
        QTest::newRow("CR LF and blank lines") << QByteArray("a\r\n\r\n\nb\r\n") << QList<QByteArray>{"b", "a"};
        QTest::newRow("only a fragment") << QByteArray("abc") << QList<QByteArray>{};
        QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
        const QByteArray longLine(200 * 1024, 'x');
        QTest::newRow("lines longer than a chunk")
            << QByteArray("first\n" + longLine + "\nlast\n") << QList<QByteArray>{"last", longLine, "first"};
    }
    void reverseLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<QByteArray>, lines);
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
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms"); // -1: not a stamp

        const qint64 base = QDateTime(QDate(2026, 12, 5), QTime(2, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        QTest::newRow("runner's stamp") << "2026-12-05T03:00:00.250+0100" << base + 250;
        QTest::newRow("offset with a colon") << "2026-12-04T21:30:00-04:30" << base;
        QTest::newRow("UTC") << "2026-12-05T02:00:00Z" << base;
        QTest::newRow("local time, as the host logs")
            << "2026-12-05T02:00:00" << QDateTime(QDate(2026, 12, 5), QTime(2, 0)).toMSecsSinceEpoch();
        QTest::newRow("a date only") << "2026-12-05" << qint64(-1);
        QTest::newRow("letters in the time") << "2026-12-05T0x:00:00" << qint64(-1);
    }
    void stamps()
    {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        QCOMPARE(zul::history::parseStamp(text.toStdString()).value_or(-1), ms);
    }

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

QTEST_GUILESS_MAIN(RunHistoryTest)
#include "tst_run_history.moc"
