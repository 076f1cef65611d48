// Records, transcripts and receipts over time: rotation, retention, pruning, the spool, dead runs, full disks.
#include "host/history/RunLog.h"
#include "runner/Housekeeping.h"
#include "runner/ReceiptRegister.h"
#include "runner/Recovery.h"
#include "runner/RunSpool.h"
#include "runner/Settings.h"
#include "runner/Transcript.h"

#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <linux/capability.h>
#include <map>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zul::runner;
using namespace zul::test;

namespace {

void setAge(const QString& path, int days)
{
    const std::time_t t = std::time(nullptr) - std::time_t(days) * 86400 - 60;
    timespec times[2] = {{t, 0}, {t, 0}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
}

// A register stamp (yyyymmddhhnnss, local time) of days ago.
QByteArray stampDaysAgo(int days)
{
    const std::time_t t = std::time(nullptr) - std::time_t(days) * 86400 - 3600;
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
    return buf;
}

// The exit status of what, run in a child without the capabilities that let
// root read any folder, so that mode bits hold for it as for everyone; -1 when
// it did not end on its own.
int withoutOverridingModes(const std::function<int()>& what)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2]{};
        ::_exit(::syscall(SYS_capset, &header, none) == 0 ? what() : 99);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class HousekeepingTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    std::string path(const char* rel) const { return m_dir.filePath(rel).toStdString(); }
    QString qpath(const char* rel) const { return m_dir.filePath(rel); }

    static RunRecord someRecord()
    {
        return {.event = "E0001",
                .start = "2024-03-07T14:05:09.000+0000",
                .end = "2024-03-07T14:05:10.000+0000",
                .outcome = "success",
                .transcript = "/x/Log/E0001.log",
                .kept = {}};
    }
    // A lock file's header of a run that died.
    static QByteArray deadHolder(const std::string& event, const std::string& transcript, std::time_t since = 1,
                                 const std::string& start = "2024-03-07T14:05:09.000+0000")
    {
        return QByteArray::fromStdString(
            holderHeader({.pid = 999999, .since = since, .event = event, .start = start, .transcript = transcript}));
    }

    // A later run's start, which settles the runs that died.
    void settle() const
    {
        Transcript transcript;
        RunRegistration next(m_dir.path().toStdString(), "", "now", "");
        next.begin(transcript);
        next.end();
    }

private slots:
    void rotation_data()
    {
        // before: other files in Log/; size: of runs.jsonl; after: the runs files left, with their former names
        const auto row = columns<QStringList, int, qint64, int, bool, QStringList>();
        const QStringList one{"runs.jsonl.1"}, two = one + QStringList{"runs.jsonl.2"};
        row("below the limit", {}, 99, 100, 5, false, {"runs.jsonl=runs.jsonl"});
        row("at the limit", {}, 100, 100, 5, true, {"runs.jsonl.1=runs.jsonl"});
        const QStringList moved{"runs.jsonl.1=runs.jsonl", "runs.jsonl.2=runs.jsonl.1", "runs.jsonl.3=runs.jsonl.2"};
        row("older files move up", two, 200, 100, 5, true, moved);
        row("the oldest goes", two + QStringList{"runs.jsonl.3"}, 200, 100, 3, true, moved);
        row("a smaller keep drops the rest", two + QStringList{"runs.jsonl.3", "runs.jsonl.4"}, 200, 100, 2, true,
            moved.mid(0, 2));
        row("keep none", one, 200, 100, 0, true, {});
        row("limit 0 never rotates", {}, 5000, 0, 5, false, {"runs.jsonl=runs.jsonl"});
    }
    void rotation()
    {
        const auto [before, size, limit, keep, rotated, after] =
            fetch<QStringList, int, qint64, int, bool, QStringList>();
        QTemporaryDir dir;
        // Each file holds its own name, so where it went can be told.
        for (const QString& name : before + QStringList{"runs.jsonl"}) {
            QByteArray bytes = name.toLatin1() + '\n';
            if (name == QLatin1String("runs.jsonl"))
                bytes = bytes.leftJustified(size, 'x');
            QVERIFY(writeBytes(dir.filePath(name), bytes));
        }
        std::string error;
        QCOMPARE(rotateRunLog(dir.path().toStdString(), limit, keep, &error), rotated);
        QVERIFY2(error.empty(), error.c_str());
        QStringList expected;
        for (const QString& pair : after) {
            const QString name = pair.section('=', 0, 0);
            expected << name;
            QVERIFY2(readBytes(dir.filePath(name)).startsWith(pair.section('=', 1).toLatin1() + '\n'),
                     qPrintable(pair));
        }
        QCOMPARE(QDir(dir.path()).entryList({"runs.jsonl*"}, QDir::Files, QDir::Name), expected);
    }

    // Concurrent appends and rotations lose no record; the history read meanwhile shows each run once, none missed.
    void concurrentRunnersLoseNoRecord()
    {
        QTemporaryDir dir;
        const std::string log = dir.path().toStdString();
        constexpr int kRunners = 6, kRecords = 150;
        for (int c = 0; c < kRunners; ++c) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                for (int i = 0; i < kRecords; ++i) {
                    RunRecord r;
                    r.event = "E" + std::to_string(c);
                    r.start = r.end = "2026-12-05T02:00:00";
                    r.outcome = std::to_string(i);
                    rotateRunLog(log, 2000, 1000, nullptr);
                    if (!appendRunRecord(log + "/runs.jsonl", r))
                        ::_exit(1);
                }
                ::_exit(0);
            }
        }
        const zul::history::RunLog history(log, log + "/messages.jsonl");
        for (int running = kRunners, status = 0; running > 0;) {
            std::map<std::string, std::vector<int>> seen;
            for (const auto& run : history.read())
                seen[run.event].push_back(std::stoi(run.outcome));
            for (auto& [event, runs] : seen) {
                std::sort(runs.begin(), runs.end());
                for (std::size_t k = 0; k < runs.size(); ++k)
                    QVERIFY2(runs[k] == int(k), event.c_str());
            }
            for (; running > 0 && ::waitpid(-1, &status, WNOHANG) > 0; --running)
                QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        QList<QByteArray> lines;
        for (const QString& name : QDir(dir.path()).entryList({"runs.jsonl*"}, QDir::Files))
            lines += readBytes(dir.filePath(name)).split('\n');
        lines.removeAll(QByteArray());
        for (const QByteArray& line : lines)
            QVERIFY2(line.startsWith("{\"event\":\"E") && line.endsWith("}"), line.constData());
        QCOMPARE(lines.size(), kRunners * kRecords);
        QVERIFY(QSet<QByteArray>(lines.begin(), lines.end()).size() == kRunners * kRecords &&
                QFile::exists(dir.filePath("runs.jsonl.2")) && int(history.read().size()) == kRunners * kRecords);
    }

    void retention_data()
    {
        const auto row = columns<QString, int, int, bool>();
        row("old transcript", "E0001_20250101-020000_4242.log", 31, 30, true);
        row("Fast Path transcript", "FastPath_20250101-020000_17.log", 40, 30, true);
        row("with its random part", "E_01_20250101-020000_4242-0a1b2c3d4e5f.log", 31, 30, true);
        row("random part not hex", "E0001_20250101-020000_4242-xyz.log", 400, 30, false);
        row("recent transcript", "E0001_20261201-020000_4242.log", 29, 30, false);
        row("retention off", "E0001_20200101-020000_4242.log", 900, 0, false);
        row("not a transcript's name", "notes.log", 400, 30, false);
        row("a stamp cut short", "E0001_2025-020000_1.log", 400, 30, false);
        row("a rotated run log", "runs.jsonl.3", 400, 30, false);
    }
    void retention()
    {
        const auto [name, ageDays, keepDays, removed] = fetch<QString, int, int, bool>();
        QTemporaryDir dir;
        QVERIFY(writeBytes(dir.filePath(name), "12:00:00.000 * started\n"));
        setAge(dir.filePath(name), ageDays);
        std::string error;
        const int n = removeOldTranscripts(dir.path().toStdString(), keepDays, std::time(nullptr), &error);
        QVERIFY2(error.empty() && n == (removed ? 1 : 0) && QFile::exists(dir.filePath(name)) != removed,
                 error.c_str());
    }

    // Old transcripts are looked for once an hour; a stamp that is not a fresh plain file never stops a sweep.
    void sweepOnceAnHour_data()
    {
        const auto row = columns<QString, bool>(); // what stands at Log/.transcripts-swept; swept
        for (const char* s :
             {"none", "fresh", "an hour old", "in the future", "a link to a fresh file", "a folder", "a hard link"})
            row(s, QString::fromLatin1(s), QByteArray(s) != "fresh");
    }
    void sweepOnceAnHour()
    {
        const auto [stamp, swept] = fetch<QString, bool>();
        QTemporaryDir dir;
        const QString at = dir.filePath(kSweepStamp), old = dir.filePath("E0001_20250101-020000_9.log");
        QVERIFY(writeBytes(old, "old\n"));
        setAge(old, 31);
        if (stamp == "a link to a fresh file")
            QVERIFY(writeBytes(dir.filePath("fresh"), "") && QFile::link("fresh", at));
        else if (stamp == "a folder")
            QVERIFY(QDir(dir.path()).mkdir(kSweepStamp));
        else if (stamp == "a hard link") // to an hour-old file that is not the stamp's to touch
            QVERIFY(writeBytes(dir.filePath("other"), "") &&
                    ::link(QFile::encodeName(dir.filePath("other")).constData(), QFile::encodeName(at).constData()) == 0);
        else if (stamp != "none")
            QVERIFY(writeBytes(at, ""));
        const std::time_t shift = stamp == "an hour old" || stamp == "a hard link" ? -kSweepEverySeconds
                                  : stamp == "in the future"                      ? 86400
                                                                                  : 0;
        const timespec times[2] = {{std::time(nullptr) + shift, 0}, {std::time(nullptr) + shift, 0}};
        if (shift)
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(at).constData(), times, 0), 0);

        const HousekeepingResult r = tidyLog(dir.path().toStdString(), Housekeeping{});
        QVERIFY(r.transcriptsRemoved == (swept ? 1 : 0) && QFile::exists(old) != swept);
        QVERIFY(!transcriptSweepDue(dir.path().toStdString(), std::time(nullptr)) || stamp.startsWith("a "));
        QCOMPARE(QFileInfo(at).isSymLink(), stamp == "a link to a fresh file");
    }

    // Keys in any letter case; a negative number is ignored.
    void settingsFromFile()
    {
        const auto h =
            Housekeeping::fromConfig(ConfigFile::parse("log_max_bytes = 2048\nLOG_KEEP=2\nTRANSCRIPT_DAYS = -1\n"));
        QVERIFY(h.logMaxBytes == 2048 && h.logKeep == 2 && h.transcriptDays == 30);
    }

    // A record goes when it is older than RECEIPT_DAYS and its Junction file is gone.
    void receiptPruning_data()
    {
        // linked: the register a link to a writable place, as in an installed folder
        const auto row = columns<QByteArray, QString, int, bool, bool>();
        const QByteArray old = stampDaysAgo(31), recent = stampDaysAgo(29);
        row("old, file gone", "E000101 " + old + " RZ    RC &/in/a&", "", 30, true, false);
        row("old, no options", "E000102 " + old, "E000101.txt", 30, true, false);
        row("old, file waiting", "E000101 " + old + "          &/in/a&", "E000101.txt", 30, false, false);
        row("waiting without extension", "E000101 " + old, "E000101", 30, false, false);
        row("recent", "E000101 " + recent + "          &/in/a&", "", 30, false, false);
        row("RECEIPT_DAYS 0", "E000101 " + old, "", 0, false, false);
        row("not a stamp", "E000101 2020x101000000", "", 30, false, false);
        row("not a key", "E0001 1 " + old, "", 30, false, false);
        row("linked register stays a link", "E000102 20200101000000", "", 30, true, true);
    }
    void receiptPruning()
    {
        const auto [line, junctionFile, days, pruned, linked] = fetch<QByteArray, QString, int, bool, bool>();
        QTemporaryDir dir;
        const QByteArray others = "other program's line\r\nE000201 " + stampDaysAgo(1) + "\n";
        const QString reg = dir.filePath(linked ? "var/Rcvdchkr.txt" : "Rcvdchkr.txt");
        QVERIFY(writeBytes(reg, line + "\r\n" + others) &&
                (!linked ||
                 ::symlink("var/Rcvdchkr.txt", QFile::encodeName(dir.filePath("Rcvdchkr.txt")).constData()) == 0) &&
                (junctionFile.isEmpty() || writeBytes(dir.filePath("Junction/" + junctionFile), "waiting")));
        const PruneResult r = pruneOldRecords(dir.path().toStdString(), days, std::time(nullptr));
        QVERIFY2(r.error.empty() && int(r.removed) == (pruned ? 1 : 0), r.error.c_str());
        QCOMPARE(readBytes(reg), pruned ? others : line + "\r\n" + others);
        QCOMPARE(QFileInfo(dir.filePath("Rcvdchkr.txt")).isSymLink(), linked);
    }

    // A folder one may write in but not list (a drop box) is no empty folder: the sweep is not
    // stamped as done, and no record goes as if its Junction file were gone.
    void unlistableFolderIsNoEmptyOne_data()
    {
        const auto row = columns<QString>();
        row("Log", "Log");
        row("Junction", "Junction");
    }
    void unlistableFolderIsNoEmptyOne()
    {
        const auto [folder] = fetch<QString>();
        QTemporaryDir dir;
        const std::string app = dir.path().toStdString(), locked = app + "/" + folder.toStdString();
        const QString old = dir.filePath("Log/E0001_20250101-020000_9.log");
        const QByteArray reg = "E000101 " + stampDaysAgo(31) + "          &/in/a&\r\n";
        QVERIFY(writeBytes(old, "old\n") && writeBytes(dir.filePath("Rcvdchkr.txt"), reg) &&
                writeBytes(dir.filePath("Junction/E000101.txt"), "waiting"));
        setAge(old, 31);
        QVERIFY(::chmod(locked.c_str(), 0300) == 0);
        const bool log = folder == "Log"; // a lambda cannot take a structured binding with clang 14
        const int exit = withoutOverridingModes([&] {
            const std::string said =
                log ? tidyLog(locked, Housekeeping{}).error : pruneOldRecords(app, 30, std::time(nullptr)).error;
            return said.starts_with("cannot read " + locked) ? 0 : 1;
        });
        QVERIFY(::chmod(locked.c_str(), 0700) == 0);
        QCOMPARE(exit, 0);
        QVERIFY(QFile::exists(old) && !QFile::exists(dir.filePath("Log/") + kSweepStamp));
        QCOMPARE(readBytes(dir.filePath("Rcvdchkr.txt")), reg);
    }

    // The runner tidies before it runs, even a run that fails at once, and prunes stale receipt records.
    void runnerTidiesAtTheStart()
    {
        QTemporaryDir dir;
        QDir app(dir.path());
        QVERIFY(installBuilt("VelundZUL", dir.path()) &&
                writeBytes(app.filePath("VelundZUL.conf"), "LOG_MAX_BYTES = 1000\nTRANSCRIPT_DAYS = 10\n") &&
                writeBytes(app.filePath("Log/runs.jsonl"), QByteArray(1500, 'x') + '\n'));
        const QString old = app.filePath("Log/E0001_20250101-020000_99.log");
        QVERIFY(writeBytes(old, "old\n"));
        setAge(old, 11);
        const QByteArray kept = "W000101 " + stampDaysAgo(90) + " RZ       &/in/w&\r\nnot a record\r\n";
        QByteArray reg = kept;
        for (int i = 0; i < 32766; ++i)
            reg += "S" + QByteArray::number(i).rightJustified(6, '0') + " 20200101000000\r\n";
        QVERIFY(writeBytes(app.filePath("Rcvdchkr.txt"), reg) &&
                writeBytes(app.filePath("Junction/W000101.txt"), "waiting"));

        QCOMPARE(QProcess::execute(app.filePath("VelundZUL"), {}), 1); // no invocation: a script error, recorded
        QVERIFY(!QFile::exists(old) && readBytes(app.filePath("Log/runs.jsonl")).count('\n') == 1 &&
                readBytes(app.filePath("Log/runs.jsonl.1")).startsWith("xxx"));
        const QStringList transcripts = QDir(app.filePath("Log")).entryList({"FastPath_*.log"});
        QCOMPARE(transcripts.size(), 1);
        const QByteArray text = readBytes(app.filePath("Log/" + transcripts.first()));
        QVERIFY2(text.contains("rotated") && text.contains("removed 1 transcript past") &&
                     text.contains("removed 32766 receipt records older than 30 days"),
                 text.constData());
        QCOMPARE(readBytes(app.filePath("Rcvdchkr.txt")), kept);
    }

    // A run record that cannot be appended waits in Log/spool/, and the next run appends it before its own.
    void unappendableRecordIsSpooled()
    {
        QTemporaryDir dir;
        QDir app(dir.path());
        // A folder where the file belongs.
        QVERIFY(app.mkpath("Log/runs.jsonl") && installBuilt("VelundZUL", dir.path()));
        const QByteArray said = runRunner(dir.path(), {}).output;
        QVERIFY2(said.contains("cannot append the run record to " + app.filePath("Log/runs.jsonl").toLocal8Bit() +
                                ": Is a directory") &&
                     said.contains("it waits in " + app.filePath("Log/spool/").toLocal8Bit()),
                 said.constData());
        const QStringList spooled = QDir(app.filePath("Log/spool")).entryList(QDir::Files);
        QCOMPARE(spooled.size(), 1);
        QCOMPARE(fileMode(app.filePath("Log/spool/" + spooled.first())) & 0777, 0660);
        const QByteArray record = readBytes(app.filePath("Log/spool/" + spooled.first()));

        QVERIFY(app.rmdir("Log/runs.jsonl") && !runRunner(dir.path(), {}).output.contains("cannot append"));
        const QList<QByteArray> lines = readBytes(app.filePath("Log/runs.jsonl")).split('\n');
        QVERIFY(lines.size() == 3 && lines[0] + '\n' == record && lines[1].startsWith("{\"event\":") &&
                QDir(app.filePath("Log/spool")).isEmpty());
    }

    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        for (const char* sub : {"Lock", "Log", "Junction"})
            QVERIFY(QDir().mkpath(m_dir.filePath(sub)));
    }

    // The whole line or nothing: a write cut short is taken back off.
    void recordsAreWhole()
    {
        const std::string runs = path("Log/runs.jsonl");
        QVERIFY(appendRunRecord(runs, someRecord()));
        const QByteArray before = readBytes(QString::fromStdString(runs));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;
        limit.rlim_cur = std::min(rlim_t(before.size() + 20), saved.rlim_max); // the disk fills in the middle
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool appended = appendRunRecord(runs, someRecord());
        // What cannot be appended waits in the spool (the next run appends it: unappendableRecordIsSpooled).
        const std::string problem = recordRun(path("Log"), someRecord());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(!appended);
        QCOMPARE(readBytes(QString::fromStdString(runs)), before);
        QVERIFY2(QByteArray::fromStdString(problem).contains(": File too large; it waits in " + path("Log/spool/")),
                 problem.c_str());
    }

    // A transcript is a new file: never one planted under its name.
    void transcriptFailuresAreKnown_data()
    {
        // plant: "file", "link", "limit" (no room to write) or nothing
        const auto row = columns<QString, QString, QString>();
        row("no room", qpath("Log/full.log"), "limit", "File too large");
        row("missing folder", qpath("nowhere/t.log"), "", "No such file or directory");
        row("name taken", qpath("Log/taken.log"), "file", "File exists");
        row("planted link", qpath("Log/link.log"), "link", "File exists");
    }
    void transcriptFailuresAreKnown()
    {
        const auto [file, plant, why] = fetch<QString, QString, QString>();
        const std::string victim = path("victim.txt");
        QVERIFY(writeBytes(qpath("victim.txt"), "keep"));
        if (plant == "file")
            QVERIFY(writeBytes(file, "someone's"));
        if (plant == "link")
            QCOMPARE(::symlink(victim.c_str(), file.toLocal8Bit().constData()), 0);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit none{0, saved.rlim_max};
        Transcript t;
        t.open(file.toStdString());
        if (plant == "limit")
            ::setrlimit(RLIMIT_FSIZE, &none);
        t.note("a line");
        t.flush();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        const QString failure = QString::fromStdString(t.failure());
        QVERIFY2(failure.contains(file) && failure.contains(why), qPrintable(failure));
        QCOMPARE(readBytes(QString::fromStdString(victim)), QByteArray("keep"));

        Transcript fine;
        QVERIFY(fine.open(path("Log/fine.log")));
        fine.note("a line");
        QVERIFY(fine.failure().empty());
        QCOMPARE(fileMode(qpath("Log/fine.log")) & 0777, 0640);
    }

    void holderIsParsed_data()
    {
        const auto row = columns<QByteArray, long, QString>();
        row("nobody", "", 0, "");
        row("header only", "pid 12\nsince 5\nevent E1\nstart s\ntranscript /t\n", 12, "E1");
        row("older part lines ignored", "pid 7\npart /a b/.x.part-1\nevent E2\ndone /a b/.x.part-1\n", 7, "E2");
        row("a line cut short", "pid 8\nevent E", 8, "E");
    }
    void holderIsParsed()
    {
        const auto [text, pid, event] = fetch<QByteArray, long, QString>();
        const LockHolder h = parseHolder(text.toStdString());
        QVERIFY(h.pid == pid && QString::fromStdString(h.event) == event && parseHolder(holderHeader(h)).pid == pid);
    }

    // Dead runs (unheld, trusted lock files) get a record; old part files go; what a lock file names stays.
    void deadRunsAreSettled()
    {
        const std::string app = m_dir.path().toStdString();
        // Left by runs long ago, a received file as old, and a part file being written now.
        for (const char* file : {"Junction/.zulpart-0123456789abcdef-aaaaaa", "Junction/.old.part-cccccc",
                                 "Junction/E000101.txt", "Junction/.new.part-dddddd"}) {
            const timespec t[2] = {{0, UTIME_OMIT},
                                   {QByteArray(file).contains(".new.") ? std::time(nullptr) + 3600 : 1000, 0}};
            QVERIFY(writeBytes(qpath(file), file) && ::utimensat(AT_FDCWD, path(file).c_str(), t, 0) == 0);
        }
        QVERIFY(writeBytes(qpath("Log/E0001_20261205-120000_4242-0a1b2c.log"), "12:00:00.000 * VelundZUL started\n"));
        QVERIFY(writeBytes(qpath("Lock/run-999998.lock"),
                           deadHolder("E0001", path("Log/E0001_20261205-120000_4242-0a1b2c.log")) + "part " +
                               qpath("out/.target.part-bbbbbb").toLocal8Bit() + "\n"));
        QVERIFY(writeBytes(qpath("out/.target.part-bbbbbb"), "named by the lock file"));
        // Writable by the group: anyone could have written it, so it is not believed.
        QVERIFY(writeBytes(qpath("Lock/run-999997.lock"),
                           deadHolder("E0003", "") + "part " + qpath("out/victim.txt").toLocal8Bit() + "\n"));
        QVERIFY(::chmod(path("Lock/run-999997.lock").c_str(), 0660) == 0 &&
                writeBytes(qpath("out/victim.txt"), "keep"));
        // A live run of another event, started 2 s after the epoch: left alone, and nothing in Junction is older yet.
        QVERIFY(writeBytes(qpath("Lock/run-1.lock"), "pid 1\nsince 2\nevent E0002\n"));
        const int live = ::open(path("Lock/run-1.lock").c_str(), O_RDWR | O_CLOEXEC);
        QCOMPARE(::flock(live, LOCK_EX), 0);

        Transcript transcript;
        QVERIFY(transcript.open(path("Log/own.log")));
        {
            RunRegistration registration(app, "E0001", "now", path("Log/own.log"));
            registration.announce(transcript);
            const QString own = qpath("Lock/run-") + QString::number(::getpid()) + ".lock";
            QCOMPARE(parseHolder(readBytes(own).toStdString()).pid, long(::getpid()));
            registration.begin(transcript);
            registration.end();
            QVERIFY(!QFile::exists(own));
        }
        transcript.flush();
        const QByteArray runs = readBytes(qpath("Log/runs.jsonl"));
        QVERIFY2(runs.count('\n') == 1 && runs.contains("\"event\":\"E0001\"") &&
                     runs.contains("ended without finishing"),
                 runs.constData());
        for (const char* told : {"Log/E0001_20261205-120000_4242-0a1b2c.log", "Log/own.log"})
            QVERIFY2(readBytes(qpath(told)).contains("ended without finishing"), told);
        QCOMPARE(readBytes(qpath("out/victim.txt")), QByteArray("keep"));
        QVERIFY(QFile::exists(qpath("out/.target.part-bbbbbb")) && !QFile::exists(qpath("Lock/run-999998.lock")) &&
                QFile::exists(qpath("Lock/run-999997.lock")) && QFile::exists(qpath("Junction/.old.part-cccccc")));
        QCOMPARE(readBytes(qpath("Lock/run-1.lock")), QByteArray("pid 1\nsince 2\nevent E0002\n"));
        ::close(live);

        // With that run gone too, the old part files have no live owner; the new one and the received file stay.
        QCOMPARE(::chmod(path("Lock/run-1.lock").c_str(), 0640), 0);
        // A runner killed while it waits for its event's turn has no part files, but it still gets its record.
        const pid_t child = ::fork();
        if (child == 0) {
            RunRegistration waiting(app, "E0005", "then", "");
            waiting.announce(transcript);
            ::raise(SIGKILL);
            ::_exit(0);
        }
        int status = 0;
        QVERIFY(::waitpid(child, &status, 0) == child && WIFSIGNALED(status));
        settle();
        const QByteArray all = readBytes(qpath("Log/runs.jsonl"));
        QVERIFY2(all.count("ended without finishing") == 3 && all.contains("\"event\":\"E0005\"") &&
                     !all.contains("E0003"),
                 all.constData());
        QCOMPARE(QDir(qpath("Junction")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({".new.part-dddddd", "E000101.txt"}));
        QCOMPARE(QDir(qpath("Lock")).entryList(QDir::Files), QStringList({"run-999997.lock"}));
    }

    // A dead run ends at its last sign of life (transcript or lock file time); unknown when none came after its start.
    void deadRunEndsAtItsLastSignOfLife_data()
    {
        // seconds after the run's start; endAt -1: no end recorded
        const auto row = columns<int, int, int>();
        row("the lock file was touched during a long transfer", 1, 95, 95);
        row("the transcript's last line is the latest", 30, 5, 30);
        row("nothing after the start", -10, -20, -1);
    }
    void deadRunEndsAtItsLastSignOfLife()
    {
        const auto [transcriptAt, lockAt, endAt] = fetch<int, int, int>();
        qputenv("TZ", "UTC");
        ::tzset();
        const std::time_t since = 1700000000;
        const char* log = "Log/E0007_20231114-221320_4242.log";
        const timespec t1[2] = {{0, UTIME_OMIT}, {since + transcriptAt, 0}};
        const timespec t2[2] = {{0, UTIME_OMIT}, {since + lockAt, 0}};
        QVERIFY(writeBytes(qpath(log), "22:13:20.000 * VelundZUL started\n") &&
                writeBytes(qpath("Lock/event-E0007.lock"),
                           deadHolder("E0007", path(log), since, "2023-11-14T22:13:20.000+0000")) &&
                ::utimensat(AT_FDCWD, path(log).c_str(), t1, 0) == 0 &&
                ::utimensat(AT_FDCWD, path("Lock/event-E0007.lock").c_str(), t2, 0) == 0);
        settle();
        qunsetenv("TZ");
        ::tzset();
        const QString end =
            endAt < 0
                ? QString()
                : QDateTime::fromSecsSinceEpoch(since + endAt, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ss") + ".000+0000";
        const QByteArray runs = readBytes(qpath("Log/runs.jsonl"));
        QVERIFY2(runs.contains("\"end\":\"" + end.toLatin1() + "\""), runs.constData());
    }
};

QTEST_GUILESS_MAIN(HousekeepingTest)
#include "tst_housekeeping.moc"
