#include "host/HistoryModel.h"
#include "host/MessageService.h"
#include "host/history/RunLog.h"

#include "support/Files.h"
#include "support/Records.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <sys/stat.h>

using namespace zul::host;
using zul::com::msg;
using zul::history::Run;
using zul::history::RunLog;
using zul::test::writeBytes;
namespace field = zul::records::runfield;

using Merged = std::tuple<QString, int, QString, int, qint64>; // event, result, outcome, exit (-1: none), duration
Q_DECLARE_METATYPE(Merged)
using Update = std::tuple<QString, QString, bool>; // runs by start minute before and after, newest first; a reset
Q_DECLARE_METATYPE(Update)

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
};

QTEST_GUILESS_MAIN(RunHistoryTest)
#include "tst_run_history.moc"
