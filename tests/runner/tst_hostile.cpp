// The runner against a server that misbehaves on purpose (hostileserver.py).
#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include "records/RunCancel.h"
#include "records/RunStatus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <utime.h>

using namespace zul::test;

namespace {
const QByteArray kPassword = "H0stile-pw!";

// Sets environment variables for the runners started while it lives.
struct ScopedEnv {
    std::vector<std::pair<const char*, QByteArray>> vars;
    ScopedEnv(std::initializer_list<std::pair<const char*, QByteArray>> v) : vars(v)
    {
        for (const auto& [key, value] : vars)
            qputenv(key, value);
    }
    ~ScopedEnv()
    {
        for (const auto& var : vars)
            qunsetenv(var.first);
    }
};
} // namespace

class HostileServerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    FtpServer m_server;

    static QString folder(const TempAppFolder& app) { return QString::fromStdString(app.path()); }

    QByteArray login() const
    {
        return "open 127.0.0.1 " + QByteArray::number(m_server.port()) + "\r\nuser zul " + kPassword + "\r\n";
    }
    static RunnerRun run(const TempAppFolder& app, const QByteArray& script) { return runScript(folder(app), script); }
    // What the server logged for name's transfers: its lines, and the bytes it sent of it.
    QList<QByteArray> serverLog(const QByteArray& name, qint64* sent = nullptr) const
    {
        QList<QByteArray> out;
        for (const QByteArray& l : readBytes(m_root.filePath("server.log")).split('\n')) {
            if (!l.contains(name))
                continue;
            out << l;
            if (sent && l.startsWith("RETR " + name + " from"))
                *sent += l.mid(l.indexOf(" sent ") + 6).split(',').first().toLongLong();
        }
        return out;
    }
    static void noSecret(const RunnerRun& r, const QByteArray& secret)
    {
        QVERIFY2(!r.transcript.contains(secret) && !r.runs.contains(secret) && !r.output.contains(secret),
                 r.transcript.constData());
    }

private slots:
    void initTestCase()
    {
        if (!m_server.start(m_root.path(), "zul", QString::fromLatin1(kPassword), {},
                            QStringLiteral(ZUL_SOURCE_DIR "/tests/runner/hostileserver.py")))
            QSKIP(qPrintable(m_server.why()));
    }

    // A listing that names files elsewhere, long names and a get without a local name: all keep to the lcd folder.
    void serverNamesStayInTheLocalFolder()
    {
        TempAppFolder app;
        const QString deep = folder(app) + "/local/a/b/c/d";
        QVERIFY(QDir().mkpath(deep));
        const QByteArray absolute = folder(app).toLocal8Bit() + "/abs.txt";
        QByteArray names;
        for (int n : {243, 250, 255})
            names += QByteArray(n - 4, 'L') + ".txt\n";
        QVERIFY(writeBytes(m_root.filePath("trav.names"),
                           names + "..\\..\\..\\..\\pwned.txt\n..\\evil3.txt\n../evil4.txt\n" + absolute +
                               "\nC:\\win\\drive.txt\nok.txt\n..\n.\nsub/\nbad\x1b[2Jname.txt\nnul\x01.txt\n"
                               "c1\xc2\x9bname.txt\ngone.txt\nraw\x9d"
                               "c1.txt\n"));
        const RunnerRun r = run(app, login() + "lcd a/b/c/d\r\nget ..\\..\\up.txt\r\nmget trav/*\r\nquit\r\n");
        // The skipped names fail the run, after the rest.
        QVERIFY2(r.exit == 4 && r.transcript.count("skipped the remote name") == 8, r.transcript.constData());
        QStringList got = QDir(deep).entryList(QDir::Files | QDir::Hidden);
        got.sort();
        QStringList want{"abs.txt", "drive.txt", "evil3.txt", "evil4.txt", "ok.txt", "pwned.txt", "up.txt"};
        for (int n : {243, 250, 255})
            want << QString(n - 4, 'L') + ".txt";
        want.sort();
        QCOMPARE(got, want);
        QVERIFY(readBytes(deep + "/pwned.txt") == "data:/trav/..\\..\\..\\..\\pwned.txt" &&
                readBytes(deep + "/up.txt") == "data:/..\\..\\up.txt");
        // Nothing above it, and nothing at the absolute name.
        for (const QString& up : {folder(app), folder(app) + "/local", folder(app) + "/local/a/b/c"})
            for (const QString& name : got)
                QVERIFY2(!QFile::exists(up + "/" + name), qPrintable(up + "/" + name));
        for (const char* said : {"skipped the remote name \"trav/gone.txt\": get trav/gone.txt: 550",
                                 "bad\\x1B[2Jname.txt", "c1\\u009Bname.txt", "raw\\x9Dc1.txt"})
            QVERIFY2(r.transcript.contains(said), said);
        QVERIFY2(r.runs.contains("\"files_down\":10") &&
                     r.runs.contains("7 remote names were skipped, not usable as local file names; 1 remote name was "
                                     "skipped, refused by the server"),
                 r.runs.constData());
    }

    // Endless or over-long listings end in a clear failure; nothing grows without bound.
    void listingsAreCapped_data()
    {
        const auto row = columns<QByteArray, QByteArray, QByteArray, QByteArray>();
        row("endless mget, default caps", "mget endless/*", "100000", "16777216", "more than 100000 names");
        row("endless ls, byte cap", "ls endless", "100000", "65536", "longer than 65536 bytes");
        row("endless dir to a file, name cap", "dir endless list.txt", "5000", "16777216", "more than 5000 names");
    }
    void listingsAreCapped()
    {
        const auto [command, maxNames, maxBytes, why] = fetch<QByteArray, QByteArray, QByteArray, QByteArray>();
        ScopedEnv env{{"ZUL_RUNNER_LIST_MAX_NAMES", maxNames}, {"ZUL_RUNNER_LIST_MAX_BYTES", maxBytes}};
        TempAppFolder app;
        const RunnerRun r = run(app, login() + command + "\r\nquit\r\n");
        // No retry: the same listing would come again.
        QVERIFY2(r.exit == 4 && r.runs.contains(why) && !r.transcript.contains("retry 1"), r.transcript.constData());
        QVERIFY(QDir(folder(app) + "/local").entryList(QDir::Files | QDir::Hidden).isEmpty()); // no list.txt either
    }

    // A stalled or unconfirmed get ends as status 10 within the budget; a SIZE below the data is transient.
    void failedGetKeepsTheOldFile_data()
    {
        const auto row = columns<QByteArray, QByteArray, int, QByteArray, int>();
        row("stalled data connection, budget spent", "stall.bin", "3", 10, "retry budget of 3 s is spent", 2);
        row("stalled, no budget: no retry", "stall2.bin", "0", 10, "retry budget of 0 s is spent)", 1);
        row("missing 226, retries run out", "no226.bin", "600", 10, "after 2 retries", 3);
        row("SIZE says less than was sent", "grow.bin", "600", 6, "announced 100 bytes (\"213 100\") but sent 5000", 3);
    }
    void failedGetKeepsTheOldFile()
    {
        const auto [file, budget, exit, inTranscript, maxRetr] = fetch<QByteArray, QByteArray, int, QByteArray, int>();
        ScopedEnv env{{"ZUL_RUNNER_STALL_TIMEOUT", "2"},
                      {"ZUL_RUNNER_REPLY_TIMEOUT", "2"},
                      {"ZUL_RUNNER_RETRIES", "2"},
                      {"ZUL_RUNNER_BACKOFF_MS", "100"},
                      {"ZUL_RUNNER_RETRY_BUDGET", budget}};
        TempAppFolder app;
        QVERIFY(writeBytes(folder(app) + "/local/" + file, "earlier"));
        const RunnerRun r = run(app, login() + "get " + file + "\r\nquit\r\n");
        QVERIFY2(r.exit == exit && r.transcript.contains(inTranscript), r.transcript.constData());
        QVERIFY(r.runs.contains("\"exit\":" + QByteArray::number(exit)) &&
                r.runs.contains("timed out") == (exit == 10) && r.transcript.count("> RETR") <= maxRetr);
        QCOMPARE(readBytes(folder(app) + "/local/" + file), QByteArray("earlier"));
        QCOMPARE(QDir(folder(app) + "/local").entryList(QDir::Files | QDir::Hidden), QStringList{QString(file)});
    }

    // A stalled download shows in the run's status; a cancel stops it and leaves no part file, status or lock.
    // Without its 226 the run waits inside libcurl, not in our own loop.
    void stalledRunShowsAndIsCancelled_data()
    {
        const auto row = columns<QByteArray, int, QByteArray>();
        row("data stalls", "stall3.bin", 100, "line 3, get stall3.bin, 0.1 of 1.0 kB");
        row("all data, no 226", "no226c.bin", 16, "line 3, get no226c.bin, 16 of 16 B");
    }
    void stalledRunShowsAndIsCancelled()
    {
        const auto [file, done, progress] = fetch<QByteArray, int, QByteArray>();
        TempAppFolder app;
        const QString path = QString::fromStdString(app.file("ZUL/tZULexe.zul"));
        QVERIFY(writeBytes(folder(app) + "/local/" + file, "earlier") &&
                writeBytes(path, login() + "get " + file + "\r\nquit\r\n") && installBuilt("VelundZUL", folder(app)));
        QProcess p;
        startRunner(p, folder(app), {"true|" + path + "|E0001"});
        const std::string lockFolder = app.file("Lock");
        auto status = [&] {
            const auto running = zul::records::runningRuns(lockFolder, "E0001");
            return running.empty() ? zul::records::RunningRun{} : running.front();
        };
        QTRY_COMPARE_WITH_TIMEOUT(status().status.done, done, 30000);
        const auto stalled = status();
        const std::string shown = zul::records::progressText(stalled.status);
        QVERIFY2(stalled.status.pid == p.processId() && shown.starts_with(progress.toStdString()), shown.c_str());
        // What an operator reads of a stalled run: everything said so far is in its transcript while it waits.
        const QStringList transcripts = QDir(folder(app) + "/Log").entryList({"*.log"}, QDir::Files);
        QCOMPARE(transcripts.size(), 1);
        const QString log = folder(app) + "/Log/" + transcripts.first();
        const auto sofar = [&] { return readBytes(log); };
        QTRY_VERIFY2_WITH_TIMEOUT(sofar().contains("> RETR ") && sofar().contains("< 150 Opening data connection."),
                                  sofar().constData(), 30000);

        const auto result = zul::records::cancelRun(stalled, std::chrono::seconds(20));
        QVERIFY2(result.kind == zul::records::CancelResult::Kind::Ended, result.message.c_str());
        QVERIFY(p.waitForFinished(30000) && p.exitCode() == 13);
        const QByteArray runs = readBytes(folder(app) + "/Log/runs.jsonl");
        QVERIFY2(runs.contains("\"exit\":13") && runs.contains("\"outcome\":\"cancelled: line 3"), runs.constData());
        QCOMPARE(readBytes(folder(app) + "/local/" + file), QByteArray("earlier"));
        QVERIFY(QDir(folder(app) + "/Junction").entryList(QDir::Files | QDir::Hidden).isEmpty() &&
                QDir(folder(app) + "/Lock").entryList({"run-*", ".run-*"}, QDir::Files | QDir::Hidden).isEmpty() &&
                zul::records::runningRuns(lockFolder).empty());
    }

    // Control bytes from the server are escaped; a password the server echoes is masked.
    void serverTextIsEscapedAndSecretsMasked_data()
    {
        // user: NAME PASSWORD; welcome: the server echoes the password upper-cased and split by a NUL
        const auto row = columns<QByteArray, QByteArray, QByteArray, QByteArray>();
        row("quote Pass, echoed", "zul " + kPassword, "quote Pass Echo-pw-1", "Echo-pw-1", "230 Welcome, **** ****.");
        row("literal acct, echoed", "zul " + kPassword, "literal acct Acct-pw-2", "Acct-pw-2",
            "230 Welcome, **** ****.");
        row("a password of two letters", "short q7", "QUOTE PASS q7", "q7", "230 Welcome, **** ****\\x00.");
    }
    void serverTextIsEscapedAndSecretsMasked()
    {
        const auto [user, command, secret, welcome] = fetch<QByteArray, QByteArray, QByteArray, QByteArray>();
        TempAppFolder app;
        const RunnerRun r = run(app, "open 127.0.0.1 " + QByteArray::number(m_server.port()) + "\r\nuser " + user +
                                         "\r\nquote NOOP\r\n" + command + "\r\nquit\r\n");
        // The 500 reply ends the run.
        QVERIFY2(r.exit == 4 && r.transcript.contains(welcome), r.transcript.constData());
        for (char c : {'\x1b', '\x07', '\x00', '\x08'})
            QVERIFY2(!r.transcript.contains(c), r.transcript.toPercentEncoding().constData());
        QVERIFY(r.transcript.contains("200 fine\\x1B[2J\\x1B]0;owned\\x07 \\x00hidden\\x08\\x08 done. "
                                      "\\u009B2J\\u009D0;t \\x9B1m") &&
                r.transcript.contains("hostile\\x1B[31m server\\x07 ready."));
        QVERIFY(!r.transcript.contains("\xc2\x9b") && !r.transcript.contains("\xc2\x9d") &&
                !r.transcript.contains("\x9b"));
        const QByteArray password = user.mid(user.indexOf(' ') + 1);
        for (const QByteArray& s : {secret, password, password.toUpper(), password.left(2)})
            noSecret(r, s);
    }

    // A password in the open address or after the name is refused before anything is sent, and repeated nowhere.
    void passwordsInTheWrongPlace_data()
    {
        const auto row = columns<QByteArray, QByteArray>();
        const QByteArray port = QByteArray::number(m_server.port());
        row("in the URL", "open ftp://zul:" + kPassword + "@127.0.0.1 " + port + "\r\nget a.txt\r\n",
            "error: the address holds a user name or password");
        row("after the name, after open", "open 127.0.0.1 " + port + "\r\nzul " + kPassword + "\r\nget a.txt\r\n",
            "error: the line after 'open' would be sent as a user name");
    }
    void passwordsInTheWrongPlace()
    {
        const auto [script, check] = fetch<QByteArray, QByteArray>();
        TempAppFolder app;
        const RunnerRun r = run(app, script + "quit\r\n");
        QVERIFY2(r.exit == 1 && r.runs.contains("\"exit\":1") && !r.transcript.contains("> USER"),
                 r.transcript.constData());
        noSecret(r, kPassword);
        noSecret(r, kPassword.toUpper());
        const RunnerRun checked =
            runRunner(folder(app), {"--check", QString::fromStdString(app.file("ZUL/tZULexe.zul"))});
        QVERIFY2(checked.exit == 1 && checked.output.contains(check) && !checked.output.contains(kPassword),
                 checked.output.constData());
    }

    // A server that keeps less than it was sent, or whose hash differs, is caught; a broken temporary file goes.
    void uploadsAreChecked_data()
    {
        const auto row = columns<QByteArray, QByteArray, QByteArray, int, QByteArray>();
        row("truncating, size", "trunc1.bin", "size", "off", 6,
            "put trunc1.bin: the partner has 50000 bytes, 100000 were sent");
        row("truncating, unchecked", "trunc2.bin", "off", "off", 0, "sent ");
        row("truncating, temporary name", "trunc3.bin", "size", "suffix", 6,
            "removed the temporary file trunc3.bin.zulpart");
        row("hash matches", "hashok.bin", "hash", "prefix", 0, "put .zulpart.hashok.bin: CRC32 matches");
        row("hash differs", "badhash.bin", "hash", "off", 6,
            "put badhash.bin: CRC32 differs: the partner has 0, the local file");
    }
    void uploadsAreChecked()
    {
        const auto [name, verify, uploadTemp, exit, inTranscript] =
            fetch<QByteArray, QByteArray, QByteArray, int, QByteArray>();
        ScopedEnv env{{"ZUL_RUNNER_RETRIES", "1"},
                      {"ZUL_RUNNER_BACKOFF_MS", "100"},
                      {"ZUL_RUNNER_VERIFY", verify},
                      {"ZUL_RUNNER_UPLOAD_TEMP", uploadTemp}};
        TempAppFolder app;
        QVERIFY(writeBytes(folder(app) + "/local/" + name, someBytes(100000, 7)));
        const RunnerRun r = run(app, login() + "put " + name + "\r\nquit\r\n");
        // The size is read from the upload's own exchange, not asked for on its own (REST 0).
        QVERIFY2(r.exit == exit && r.transcript.contains(inTranscript) && !r.transcript.contains("> REST 0"),
                 r.transcript.right(3000).constData());
        if (exit == 6) // retried once
            QCOMPARE(serverLog(name).join('\n').count("STOR /"), 2);
        if (uploadTemp != "off")
            QCOMPARE(QFile::exists(m_root.filePath(name)), exit == 0);
        QVERIFY(QDir(m_root.path()).entryList({"*zulpart*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // A download cut off in the middle: the retry asks for the rest (REST) and the file is whole.
    void downloadContinuesAfterADrop_data()
    {
        const auto row = columns<QByteArray, qint64>();
        row("on", "on", 0);
        row("off", "off", 500000);
    }
    void downloadContinuesAfterADrop()
    {
        const auto [resume, sentAgain] = fetch<QByteArray, qint64>();
        ScopedEnv env{{"ZUL_RUNNER_RETRIES", "2"}, {"ZUL_RUNNER_BACKOFF_MS", "100"}, {"ZUL_RUNNER_RESUME", resume}};
        const QByteArray name = "drop-" + resume + ".bin", content = someBytes(1000000, 7);
        QVERIFY(writeBytes(m_root.filePath(name), content));
        TempAppFolder app;
        const RunnerRun r = run(app, login() + "get " + name + "\r\nquit\r\n");
        // Resumed: the server started its second RETR where REST told it to.
        const bool on = resume == "on";
        QVERIFY2(r.exit == 0 && r.transcript.contains("> REST 500000") == on &&
                     r.transcript.contains("get " + name + ": continuing at byte 500000 of 1000000") == on,
                 r.transcript.constData());
        QCOMPARE(readBytes(folder(app) + "/local/" + name), content);
        qint64 sent = 0;
        const QList<QByteArray> log = serverLog(name, &sent);
        QVERIFY2(log.contains("RETR " + name + " from 0 sent 500000, dropped"), log.join('\n').constData());
        QCOMPARE(log.contains("RETR " + name + " from 500000 sent 500000"), on);
        QVERIFY(sent - content.size() == sentAgain &&
                QDir(folder(app) + "/local").entryList(QDir::Files | QDir::Hidden) == QStringList{QString(name)});
    }

    // A dropped upload under a temporary name continues it (APPE); the final name comes only by the rename.
    void uploadUnderATemporaryNameSurvivesADrop()
    {
        ScopedEnv env{{"ZUL_RUNNER_RETRIES", "2"},
                      {"ZUL_RUNNER_BACKOFF_MS", "100"},
                      {"ZUL_RUNNER_UPLOAD_TEMP", "suffix"},
                      {"ZUL_RUNNER_KEEP_TIME", "on"}};
        TempAppFolder app;
        const QString local = folder(app) + "/local/dropup.bin";
        const QByteArray content = someBytes(1000000, 7);
        const utimbuf when{1700000000, 1700000000};
        QVERIFY(writeBytes(local, content) && ::utime(QFile::encodeName(local).constData(), &when) == 0);
        const RunnerRun r = run(app, login() + "put dropup.bin\r\nquit\r\n");
        QVERIFY2(r.exit == 0 && !QFile::exists(m_root.filePath("dropup.bin.zulpart")), r.transcript.constData());
        QCOMPARE(readBytes(m_root.filePath("dropup.bin")), content);
        QCOMPARE(QFileInfo(m_root.filePath("dropup.bin")).lastModified().toSecsSinceEpoch(), qint64(when.modtime));
        const QList<QByteArray> log = serverLog("dropup.bin");
        QVERIFY2(!log.contains("STOR /dropup.bin") && !log.contains("APPE /dropup.bin"), log.join('\n').constData());
        QVERIFY(log.contains("STOR /dropup.bin.zulpart") && log.contains("APPE /dropup.bin.zulpart"));
        // The rename is the last thing before the time: nothing wrote the final name before it.
        const auto renamed = log.indexOf("RNTO /dropup.bin");
        QVERIFY(renamed > log.indexOf("APPE /dropup.bin.zulpart") &&
                log.at(renamed + 1).startsWith("MFMT 20231114221320 /dropup.bin"));
        QVERIFY2(r.transcript.contains("put dropup.bin.zulpart: continuing at byte "), r.transcript.constData());
    }
};

QTEST_GUILESS_MAIN(HostileServerTest)
#include "tst_hostile.moc"
