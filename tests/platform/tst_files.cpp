#include "platform/AppPath.h"
#include "platform/CodePage.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "support/Files.h"
#include "support/Rows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace zul::platform;

class FilesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::string path(const char* name) const { return m_dir.filePath(name).toStdString(); }
    static int modeOf(const std::string& p) { return zul::test::fileMode(QString::fromStdString(p)); }
    static std::string appPathIn(const std::string& app, const char* logical)
    {
        const std::string before = appFolder();
        setAppFolder(app);
        std::string got = appPath(logical);
        setAppFolder(before);
        return got;
    }

private slots:
    void readLinesSplitsCrLfAndLf_data()
    {
        const auto row = zul::test::columns<QByteArray, QStringList>();
        row("crlf", QByteArray("a\r\nb\r\n"), QStringList{"a", "b"});
        row("lone lf at end", QByteArray("a\r\nb\n"), QStringList{"a", "b"});
        row("no end on last line", QByteArray("a\r\nb"), QStringList{"a", "b"});
        row("empty lines kept", QByteArray("\r\n\r\nx\r\n"), QStringList{"", "", "x"});
        row("lone cr inside stays", QByteArray("a\rb\r\n"), QStringList{"a\rb"});
        row("empty file", QByteArray(), QStringList{});
    }
    void readLinesSplitsCrLfAndLf()
    {
        const auto [bytes, lines] = zul::test::fetch<QByteArray, QStringList>();
        QVERIFY(writeFile(path("r.txt"), bytes.toStdString()));
        auto r = readLines(path("r.txt"));
        QVERIFY(r);
        QStringList got;
        for (const auto& l : *r)
            got << QString::fromStdString(l);
        QCOMPARE(got, lines);
        const auto missing = readLines(path("nope.txt"));
        QVERIFY(!missing);
        QCOMPARE(missing.error().code, ErrorCode::FileNotFound);
        QVERIFY(!readAll(m_dir.path().toStdString())); // a folder is not a file
    }

    void ownerOnlyFilesWhateverTheUmask_data()
    {
        // writer: 0 write, 1 append, 2 replace atomically; before: mode of a file already there; 0: none
        const auto row = zul::test::columns<int, int, int>();
        for (int w = 0; w < 3; ++w) {
            const char* name = w == 0 ? "write" : w == 1 ? "append" : "replace";
            row(qPrintable(QString("%1 new, umask 022").arg(name)), w, 022, 0);
            row(qPrintable(QString("%1 new, umask 000").arg(name)), w, 0, 0);
            row(qPrintable(QString("%1 over 0644, umask 077").arg(name)), w, 077, 0644);
            row(qPrintable(QString("%1 over 0666, umask 022").arg(name)), w, 022, 0666);
        }
    }
    void ownerOnlyFilesWhateverTheUmask()
    {
        const auto [writer, umask, before] = zul::test::fetch<int, int, int>();
        const auto p = path("secret.zul");
        QFile::remove(QString::fromStdString(p));
        if (before) {
            QVERIFY(writeFile(p, "old"));
            QCOMPARE(::chmod(p.c_str(), mode_t(before)), 0);
        }
        const mode_t old = ::umask(mode_t(umask));
        const Status st = writer == 0   ? writeFile(p, "pw", FileAccess::OwnerOnly)
                          : writer == 1 ? appendFile(p, "pw", FileAccess::OwnerOnly)
                                        : replaceAtomically(p, "pw", FileAccess::OwnerOnly);
        ::umask(old);
        QVERIFY(st);
        QCOMPARE(modeOf(p), 0600);
        // A shared replacement afterwards keeps what the file has, and leaves no temporary behind.
        QVERIFY(replaceAtomically(p, "next"));
        QCOMPARE(*readAll(p), std::string("next"));
        QCOMPARE(modeOf(p), 0600);
        const auto entries = QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(!entries.join(',').contains(".zul-tmp"), qPrintable(entries.join(',')));
        QVERIFY(!replaceAtomically(path("no/such/dir/x.txt"), "x"));
    }

    // Linked files of an installed folder: writing, deleting, creating act on the target, the link stays.
    void appPathFollowsLinkedFiles_data()
    {
        const auto row = zul::test::columns<QString, bool>(); // link: empty: an ordinary file
        row("ordinary file", QString(), true);
        row("absolute link", QStringLiteral("ABS"), true);
        row("relative link", QStringLiteral("../var/Rcvdchkr.txt"), true);
        row("dangling link", QStringLiteral("ABS"), false);
    }

    void appPathFollowsLinkedFiles()
    {
        const auto [link, targetExists] = zul::test::fetch<QString, bool>();
        const std::string app = path("app"), var = path("var");
        QVERIFY(makeDirectories(app) && makeDirectories(var));
        const std::string inApp = app + "/Rcvdchkr.txt", target = var + "/Rcvdchkr.txt";
        const std::string expected = link.isEmpty() ? inApp : target;
        if (!link.isEmpty())
            QCOMPARE(::symlink(link == "ABS" ? target.c_str() : link.toUtf8().constData(), inApp.c_str()), 0);
        if (targetExists)
            QVERIFY(writeFile(expected, "old\r\n"));
        const std::string got = appPathIn(app + "/", "\\Rcvdchkr.txt");
        QCOMPARE(QDir::cleanPath(QString::fromStdString(got)), QString::fromStdString(expected));
        QCOMPARE(appPathIn(app + "/", "\\ZUL\\tZULexe.zul"), app + "/ZUL/tZULexe.zul");

        QVERIFY(replaceAtomically(got, "new\r\n") && forceDelete(got) && appendFile(got, "again\r\n"));
        QCOMPARE(*readAll(inApp, Links::Follow), std::string("again\r\n"));
        struct stat st {};
        QCOMPARE(::lstat(inApp.c_str(), &st), 0);
        QCOMPARE(bool(S_ISLNK(st.st_mode)), !link.isEmpty());
        QVERIFY(forceDelete(expected) && forceDelete(inApp));
    }

    // A name in a group-writable folder may link to a file only this user may write: nothing follows it.
    void linksInSharedFoldersAreNotFollowed_data()
    {
        const auto row = zul::test::columns<QString, bool>(); // succeeds: the operation itself
        row("read", "read", false);
        row("write", "write", false);
        row("append", "append", false);
        row("replace", "replace", true); // the link is replaced, not its target
        row("app path", "appPath", true);
        row("write through a hard link", "hard", false);
    }
    void linksInSharedFoldersAreNotFollowed()
    {
        const auto [op, succeeds] = zul::test::fetch<QString, bool>();
        const std::string app = path("shared"), victim = path("victim.txt");
        QVERIFY(makeDirectories(app + "/ZUL") && writeFile(victim, "keep"));
        ::chmod(victim.c_str(), 0600);
        const std::string planted = app + "/ZUL/E0001ZUL.zul";
        QCOMPARE(op == "hard" ? ::link(victim.c_str(), planted.c_str()) : ::symlink(victim.c_str(), planted.c_str()),
                 0);
        bool ok = false;
        if (op == "read") {
            ok = bool(readLines(planted));
        } else if (op == "write" || op == "hard") {
            ok = bool(writeFile(planted, "evil"));
        } else if (op == "append") {
            ok = bool(appendFile(planted, "evil", FileAccess::OwnerOnly));
        } else if (op == "replace") {
            ok = bool(replaceAtomically(planted, "mine"));
            QCOMPARE(*readAll(planted), std::string("mine"));
        } else {
            ok = appPathIn(app, "\\ZUL\\E0001ZUL.zul") == planted;
        }
        QCOMPARE(ok, succeeds);
        QCOMPARE(*readAll(victim), std::string("keep"));
        QCOMPARE(modeOf(victim), 0600);
        QVERIFY(QDir(QString::fromStdString(app)).removeRecursively());
    }

    // Made as packaged, whatever the umask; an existing folder keeps its administrator's mode.
    void sharedFoldersAreStickyAndSetgid()
    {
        const std::string made = path("app/Log"), kept = path("app/Lock");
        QVERIFY(makeDirectories(kept));
        ::chmod(kept.c_str(), 0750);
        const mode_t before = ::umask(077);
        const bool ok = makeSharedFolder(made) && makeSharedFolder(kept);
        ::umask(before);
        QVERIFY(ok);
        QCOMPARE(modeOf(made), 03770);
        QCOMPARE(modeOf(kept), 0750);
    }

    // A lock wait ends by time or by giving up, leaving no blocked thread and no descriptor.
    void lockWaitEndsWithoutLeftovers()
    {
        const auto p = path("event.lock");
        const auto entries = [](const char* dir) { return QDir(dir).entryList(QDir::NoDotAndDotDot).size(); };
        FileLock holder;
        QVERIFY(holder.tryAcquire(p));
        const auto threads = entries("/proc/self/task"), fds = entries("/proc/self/fd");

        FileLock waiter;
        const auto timedOut = waiter.acquire(p, std::chrono::milliseconds(30));
        QVERIFY(!timedOut);
        QVERIFY2(timedOut.error().description.find("timed out") != std::string::npos,
                 timedOut.error().description.c_str());
        int asked = 0;
        std::string error;
        const LockWait untilAsked3Times{LockWait::unlimited, [&] { return ++asked == 3; }};
        QCOMPARE(waiter.acquire(p, untilAsked3Times, error), LockOutcome::GaveUp);
        QVERIFY(!waiter.held());
        QCOMPARE(entries("/proc/self/task"), threads);
        QCOMPARE(entries("/proc/self/fd"), fds);

        holder.release();
        QVERIFY(waiter.acquire(p, std::chrono::milliseconds(1000)));
        waiter.release();

        // Readers share; a writer waits for them.
        const int a = ::open(p.c_str(), O_RDONLY), b = ::open(p.c_str(), O_RDONLY), c = ::open(p.c_str(), O_RDONLY);
        QCOMPARE(lockDescriptor(a, LockKind::Shared, {}), LockOutcome::Taken);
        QCOMPARE(lockDescriptor(b, LockKind::Shared, {}), LockOutcome::Taken);
        const bool writerGotIt = tryLockDescriptor(c);
        for (int fd : {a, b, c})
            ::close(fd);
        QVERIFY(!writerGotIt);
    }

    void existingFileLengthAsFileExistsSays()
    {
        const auto p = path("len.zul");
        QVERIFY(!existingFileLength(p) && !existingFileLength(m_dir.path().toStdString())); // a folder is no file
        QVERIFY(writeFile(p, "abc"));
        QCOMPARE(existingFileLength(p), std::optional<std::int64_t>(3));
    }

    void startProcessPassesArgumentsWithoutShell()
    {
        // A blank in a folder and shell characters in an argument reach the program as they are.
        QDir(m_dir.path()).mkpath("with blank");
        const auto out = path("with blank/out.txt");
        auto pid = startProcess("/bin/sh", {"-c", "printf '%s' \"$1\" > \"$2\"", "sh", "true|a b;$(x)|E01", out});
        QVERIFY(pid);
        QCOMPARE(::waitpid(*pid, nullptr, 0), *pid);
        QCOMPARE(*readAll(out), std::string("true|a b;$(x)|E01"));
        QVERIFY(!startProcess(path("missing-program"), {}));
    }

    void trimBlanksOnly_data()
    {
        const auto row = zul::test::columns<QByteArray, QByteArray>();
        row("both ends", "  get a  ", "get a");
        row("tab stays", "\tget\t", "\tget\t");
        row("cr lf stay", " x\r\n ", "x\r\n");
        row("inner blanks stay", "a   b", "a   b");
        row("only blanks", "     ", "");
        row("empty", "", "");
    }
    void trimBlanksOnly()
    {
        const auto [in, out] = zul::test::fetch<QByteArray, QByteArray>();
        QCOMPARE(QByteArray::fromStdString(trim(in.toStdString())), out);
    }

    // Code-page letters above 127 stay; the allocation-free comparison agrees with upper(left(...)) ==.
    void upperLeavesCodePageLetters()
    {
        QCOMPARE(upper("get\xe9x"), std::string("GET\xe9X"));
        for (const std::string_view s : {"put a b", "PuT", "pu", "", "\xe9ut", "**e0001=&", "**E00"})
            for (const std::string_view word : {"PUT", "**E0001", "**E00", ""})
                for (const std::size_t len : {std::size_t(3), std::size_t(5), std::size_t(7)})
                    QCOMPARE(upperLeftEquals(s, len, word), upper(left(s, len)) == word);
    }

    void codePage_data()
    {
        const auto row =
            zul::test::columns<QByteArray, QByteArray, bool>(); // UTF-8, the code page's bytes, whether they come back
        row("ascii", "put a.txt b", "put a.txt b", true);
        row("latin letters", "caf\xc3\xa9", "caf\xe9", true);
        row("euro and quotes", "\xe2\x82\xac \xe2\x80\x9cx\xe2\x80\x9d", "\x80 \x93x\x94", true);
        row("no-break space", "open\xc2\xa0\xc2\xa0h", "open\xa0\xa0h", true);
        row("undefined byte", "\xc2\x81", "\x81", true);
        row("outside the code page", "put \xe6\x96\x87.txt b", "put ?.txt b", false);
        row("outside the basic plane: one ?", QByteArray("a\xf0\x9f\x98\x80") + "b", "a?b", false);
        row("not utf-8", QByteArray("a\xff") + "b\xe6\x96", "a?b??", false);
        row("encoded surrogate", "\xed\xa0\x80", "???", false);
    }
    void codePage()
    {
        const auto [utf8, bytes, roundTrip] = zul::test::fetch<QByteArray, QByteArray, bool>();
        QCOMPARE(QByteArray::fromStdString(codePageFromUtf8(utf8.toStdString())), bytes);
        if (roundTrip)
            QCOMPARE(QByteArray::fromStdString(utf8FromCodePage(bytes.toStdString())), utf8);
    }

    void everyCodePageByteSurvivesAnEdit()
    {
        std::string all;
        for (int b = 0; b < 256; ++b)
            all += static_cast<char>(b);
        QCOMPARE(codePageFromUtf8(utf8FromCodePage(all)), all);
    }
};

QTEST_GUILESS_MAIN(FilesTest)
#include "tst_files.moc"
