// Runs that die and disks that fill lose nothing: whole records, transcripts that tell, clean-up after the dead.
#include "runner/Recovery.h"
#include "runner/RunSpool.h"
#include "runner/Transcript.h"

#include "support/Files.h"
#include "support/Rows.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zul::runner;
using zul::test::columns;
using zul::test::fetch;
using zul::test::readBytes;
using zul::test::writeBytes;

class RecoveryTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    std::string path(const char* rel) const { return m_dir.filePath(rel).toStdString(); }
    QString qpath(const char* rel) const { return m_dir.filePath(rel); }

    static RunRecord someRecord()
    {
        RunRecord r;
        r.event = "E0001";
        r.start = "2024-03-07T14:05:09.000+0000";
        r.end = "2024-03-07T14:05:10.000+0000";
        r.outcome = "success";
        r.transcript = "/x/Log/E0001.log";
        return r;
    }
    // A lock file's header of a run that died.
    static QByteArray deadHolder(const std::string& event, const std::string& transcript, std::time_t since = 1,
                                 const std::string& start = "2024-03-07T14:05:09.000+0000")
    {
        LockHolder h;
        h.pid = 999999;
        h.since = since;
        h.event = event;
        h.start = start;
        h.transcript = transcript;
        return QByteArray::fromStdString(holderHeader(h));
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
        // What cannot be appended waits in the spool (the next run appends it: tst_housekeeping).
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
        const auto row = columns<QString, QString, QString>("file", "plant", "why");
        row("no room", qpath("Log/full.log"), "limit", "File too large");
        row("missing folder", qpath("nowhere/t.log"), "", "No such file or directory");
        row("name taken", qpath("Log/taken.log"), "file", "File exists");
        row("planted link", qpath("Log/link.log"), "link", "File exists");
    }
    void transcriptFailuresAreKnown()
    {
        const auto [file, plant, why] = fetch<QString, QString, QString>("file", "plant", "why");
        const std::string victim = path("victim.txt");
        QVERIFY(writeBytes(QString::fromStdString(victim), "keep"));
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
        ::setrlimit(RLIMIT_FSIZE, &saved);
        const QString failure = QString::fromStdString(t.failure());
        QVERIFY2(failure.contains(file) && failure.contains(why), qPrintable(failure));
        QCOMPARE(readBytes(QString::fromStdString(victim)), QByteArray("keep"));

        Transcript fine;
        QVERIFY(fine.open(path("Log/fine.log")));
        fine.note("a line");
        QCOMPARE(fine.failure(), std::string());
        struct stat st {};
        QCOMPARE(::stat(path("Log/fine.log").c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0640));
    }

    void holderIsParsed_data()
    {
        const auto row = columns<QByteArray, long, QString>("text", "pid", "event");
        row("nobody", "", 0, "");
        row("header only", "pid 12\nsince 5\nevent E1\nstart s\ntranscript /t\n", 12, "E1");
        row("older part lines ignored", "pid 7\npart /a b/.x.part-1\nevent E2\ndone /a b/.x.part-1\n", 7, "E2");
        row("a line cut short", "pid 8\nevent E", 8, "E");
    }
    void holderIsParsed()
    {
        const auto [text, pid, event] = fetch<QByteArray, long, QString>("text", "pid", "event");
        const LockHolder h = parseHolder(text.toStdString());
        QCOMPARE(h.pid, pid);
        QCOMPARE(QString::fromStdString(h.event), event);
        QCOMPARE(parseHolder(holderHeader(h)).pid, pid);
    }

    // Dead runs (unheld lock files only this user could have written) get a record; part files in Junction/ go once
    // older than every live run; what a lock file names is never touched.
    void deadRunsAreSettled()
    {
        const std::string app = m_dir.path().toStdString();
        QVERIFY(writeBytes(qpath("Junction/.zulpart-0123456789abcdef-aaaaaa"), "left by some run long ago"));
        QVERIFY(writeBytes(qpath("Junction/.old.part-cccccc"), "left by some run long ago"));
        QVERIFY(writeBytes(qpath("Junction/.new.part-dddddd"), "being written now"));
        QVERIFY(writeBytes(qpath("Junction/E000101.txt"), "a received file, not a part file"));
        for (const char* old :
             {"Junction/.zulpart-0123456789abcdef-aaaaaa", "Junction/.old.part-cccccc", "Junction/E000101.txt"}) {
            const timespec t[2] = {{1000, 0}, {1000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, path(old).c_str(), t, 0), 0);
        }
        const timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, path("Junction/.new.part-dddddd").c_str(), later, 0), 0);
        QVERIFY(writeBytes(qpath("Log/E0001_20261205-120000_4242-0a1b2c.log"), "12:00:00.000 * VelundZUL started\n"));
        QVERIFY(writeBytes(qpath("Lock/run-999998.lock"),
                           deadHolder("E0001", path("Log/E0001_20261205-120000_4242-0a1b2c.log")) + "part " +
                               qpath("out/.target.part-bbbbbb").toLocal8Bit() + "\n"));
        QVERIFY(writeBytes(qpath("out/.target.part-bbbbbb"), "named by the lock file"));
        // Writable by the group: anyone could have written it, so it is not believed.
        QVERIFY(writeBytes(qpath("Lock/run-999997.lock"),
                           deadHolder("E0003", "") + "part " + qpath("out/victim.txt").toLocal8Bit() + "\n"));
        QCOMPARE(::chmod(path("Lock/run-999997.lock").c_str(), 0660), 0);
        QVERIFY(writeBytes(qpath("out/victim.txt"), "keep"));
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
        const QByteArray runs = readBytes(qpath("Log/runs.jsonl"));
        QCOMPARE(runs.count('\n'), 1);
        QVERIFY(runs.contains("\"event\":\"E0001\"") && runs.contains("ended without finishing"));
        QVERIFY(readBytes(qpath("Log/E0001_20261205-120000_4242-0a1b2c.log")).contains("ended without finishing"));
        QVERIFY(readBytes(qpath("Log/own.log")).contains("ended without finishing"));
        QCOMPARE(readBytes(qpath("out/victim.txt")), QByteArray("keep"));
        QVERIFY(QFile::exists(qpath("out/.target.part-bbbbbb")));
        QVERIFY(!QFile::exists(qpath("Lock/run-999998.lock")));
        QVERIFY(QFile::exists(qpath("Lock/run-999997.lock")));
        QVERIFY(QFile::exists(qpath("Junction/.old.part-cccccc")));
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
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        settle();
        QCOMPARE(readBytes(qpath("Log/runs.jsonl")).count("ended without finishing"), 3);
        QVERIFY(readBytes(qpath("Log/runs.jsonl")).contains("\"event\":\"E0005\""));
        QVERIFY(!QFile::exists(qpath("Junction/.old.part-cccccc")));
        QVERIFY(!QFile::exists(qpath("Junction/.zulpart-0123456789abcdef-aaaaaa")));
        QVERIFY(QFile::exists(qpath("Junction/.new.part-dddddd")));
        QVERIFY(QFile::exists(qpath("Junction/E000101.txt")));
        QCOMPARE(QDir(qpath("Lock")).entryList(QDir::Files), QStringList({"run-999997.lock"}));
        QVERIFY(!readBytes(qpath("Log/runs.jsonl")).contains("E0003"));
    }

    // A dead run ends at its last sign of life (transcript or lock file time); unknown when none came after its start.
    void deadRunEndsAtItsLastSignOfLife_data()
    {
        // seconds after the run's start; endAt -1: no end recorded
        const auto row = columns<int, int, int>("transcriptAt", "lockAt", "endAt");
        row("the lock file was touched during a long transfer", 1, 95, 95);
        row("the transcript's last line is the latest", 30, 5, 30);
        row("nothing after the start", -10, -20, -1);
    }
    void deadRunEndsAtItsLastSignOfLife()
    {
        const auto [transcriptAt, lockAt, endAt] = fetch<int, int, int>("transcriptAt", "lockAt", "endAt");
        qputenv("TZ", "UTC");
        ::tzset();
        const std::time_t since = 1700000000;
        const char* log = "Log/E0007_20231114-221320_4242.log";
        QVERIFY(writeBytes(qpath(log), "22:13:20.000 * VelundZUL started\n"));
        QVERIFY(writeBytes(qpath("Lock/event-E0007.lock"),
                           deadHolder("E0007", path(log), since, "2023-11-14T22:13:20.000+0000")));
        const timespec t1[2] = {{0, UTIME_OMIT}, {since + transcriptAt, 0}};
        const timespec t2[2] = {{0, UTIME_OMIT}, {since + lockAt, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, path(log).c_str(), t1, 0), 0);
        QCOMPARE(::utimensat(AT_FDCWD, path("Lock/event-E0007.lock").c_str(), t2, 0), 0);
        settle();
        qunsetenv("TZ");
        ::tzset();
        const QByteArray runs = readBytes(qpath("Log/runs.jsonl"));
        const QByteArray end =
            endAt < 0 ? QByteArray()
                      : QDateTime::fromSecsSinceEpoch(since + endAt, Qt::UTC).toString("yyyy-MM-ddTHH:mm:ss").toLatin1() +
                            ".000+0000";
        QVERIFY2(runs.contains("\"end\":\"" + end + "\""), runs.constData());
    }
};

QTEST_GUILESS_MAIN(RecoveryTest)
#include "tst_recovery.moc"
