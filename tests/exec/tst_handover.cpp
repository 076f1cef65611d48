// The hand-over between a run and its runner: the turn-taking lock and the runner's word that it read its script.
#include "exec/Handover.h"
#include "exec/ModExecut.h"

#include "ExecTestSupport.h"
#include "com/ModuleState.h"
#include "platform/Process.h"
#include "platform/Yield.h"
#include "plugin/Seams.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/Rows.h"
#include "support/TempAppFolder.h"

#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace zul;

namespace {

// Standard error of this process, caught in a file while the object lives.
struct CaughtStderr {
    const int saved = (std::fflush(stderr), ::dup(STDERR_FILENO));
    explicit CaughtStderr(const std::string& file)
    {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~CaughtStderr()
    {
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
};

} // namespace

class TestHandover : public QObject {
    Q_OBJECT

    test::CoreFixture m_core;

    // A runner stand-in: records its argument and the handshake descriptor, runs body, then waits for the file "go".
    void installStandIn(const std::string& body)
    {
        const std::string script = "#!/bin/sh\n"
                                   "d=$(dirname \"$0\")\n"
                                   "printf '%s\\n' \"$1\" > \"$d/args.txt\"\n"
                                   "[ -n \"$ZUL_HANDOVER_FD\" ] && [ -e /proc/$$/fd/$ZUL_HANDOVER_FD ] && "
                                   "echo inherited > \"$d/fd.txt\"\n" +
                                   body +
                                   "while [ ! -e \"$d/go\" ]; do sleep 0.05; done\n"
                                   "touch \"$d/done\"\n";
        m_core.app->write("VelundZUL", script);
        QFile::setPermissions(QString::fromStdString(m_core.app->file("VelundZUL")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private slots:
    void init()
    {
        m_core.setUp();
        platform::setClock(test::fixedTime);
        plugin::resetSeams();
        plugin::seams().buildRunScript = [](std::string&) {};
    }
    void cleanup()
    {
        m_core.app->write("go", "");
        platform::waitForWatchedChildren();
        m_core.tearDown();
        platform::setClock({});
        plugin::resetSeams();
    }

    // Another thread waits for the lock, then gives up and is told why; the holding thread re-entering does not wait.
    void lockTakesTurns()
    {
        std::atomic<bool> taken{false};
        std::thread other;
        std::string failure;
        bool late = true;
        {
            ModExecut::HandoverLock first;
            QVERIFY(first.held() && QFile::exists(QString::fromStdString(ModExecut::HandoverLockPath())));
            {
                ModExecut::HandoverLock nested;
                QVERIFY(nested.held()); // under the outer run's lock
            }
            qputenv("ZUL_HANDOVER_WAIT", "0.2");
            std::thread([&] {
                ModExecut::HandoverLock second;
                late = second.held();
                failure = second.failure();
                try {
                    second.require();
                    late = true;
                } catch (const com::ComError& e) {
                    QCOMPARE(e.number(), 70);
                }
            }).join();
            qunsetenv("ZUL_HANDOVER_WAIT");
            other = std::thread([&] {
                ModExecut::HandoverLock second;
                taken = second.held();
            });
            QTest::qWait(200);
            QVERIFY(!taken);
        }
        other.join();
        QVERIFY2(taken && !late && failure.find("no turn to hand over the script within 0 s") == 0, failure.c_str());
    }

    // The runner is handed the file the run wrote, or nothing when it was replaced or is not a plain file.
    void pinnedScript_data()
    {
        const auto row = test::columns<QByteArray, bool, QString>(); // on disk, reached through a link, the refusal
        const QString replaced = "the runner copy was replaced before it was read";
        row("as written", "open h\r\n", false, {});
        row("replaced", "open evil\r\n", false, replaced);
        row("grown", "open h\r\nput /etc/shadow x\r\n", false, replaced);
        row("a link to it", "open h\r\n", true, "a symbolic link, not followed");
    }
    void pinnedScript()
    {
        const auto [onDisk, link, refusal] = test::fetch<QByteArray, bool, QString>();
        const std::string written = "open h\r\n";
        m_core.app->write("real.zul", onDisk.toStdString());
        const std::string path = m_core.app->file(link ? "link.zul" : "real.zul");
        if (link)
            QVERIFY(::symlink(m_core.app->file("real.zul").c_str(), path.c_str()) == 0);
        ModExecut::PinnedScript pin;
        const auto pinned = pin.pin(path, &written);
        const QString why = pinned ? QString() : QString::fromStdString(pinned.error().description);
        QVERIFY2(refusal.isEmpty() ? why.isEmpty() : why.contains(refusal), qPrintable(why));
        QCOMPARE(pin.fd() >= 0, refusal.isEmpty());
    }

    // No window message (it could start a run that merges the register too) gets in while the lock is held.
    void noWindowMessagesUnderTheLock()
    {
        m_core.app->write("a.zul", test::crlf("get /r/a /j/E000101.txt\n**E000101=&/home/u/a&\n"));
        m_core.app->write("b.zul", test::crlf("get /r/b /j/E000201.txt\n**E000201=&/home/u/b&\n"));
        int messagesLetIn = 0;
        platform::setYieldHook([&] { ++messagesLetIn; });
        {
            ModExecut::HandoverLock outer;
            QVERIFY(!ModExecut::CheckTransfers("E0001", m_core.app->file("a.zul"), false, false, false, false, 5).empty());
            QCOMPARE(messagesLetIn, 0);
        }
        platform::yield();
        QCOMPARE(messagesLetIn, 1);
        platform::setYieldHook({});
        {
            ModExecut::HandoverLock next;
            QVERIFY(!ModExecut::CheckTransfers("E0002", m_core.app->file("b.zul"), false, false, false, false, 5).empty());
        }
        const std::string reg = m_core.app->read("Rcvdchkr.txt");
        QVERIFY(reg.find("E000101") != std::string::npos && reg.find("E000201") != std::string::npos);
    }

    // StartRunner returns once the handed-over script was read (or the wait is over), not when the runner ends.
    void startWaitsForTheScriptRead_data()
    {
        // The runner's body (empty: it never says a word), the file (empty: none), what the run wrote there (empty:
        // nothing asked), what the runner reads and why not.
        const auto row = test::columns<std::string, std::string, std::string, std::string, std::string>();
        const std::string readAndClose = "if [ -n \"$ZUL_SCRIPT_FD\" ]; then eval \"cat <&$ZUL_SCRIPT_FD\"; fi > "
                                         "\"$d/script.txt\"\n"
                                         "printf '%s' \"$ZUL_CHECK_FAILURE\" > \"$d/why.txt\"\n"
                                         "touch \"$d/read\"\neval \"exec $ZUL_HANDOVER_FD>&-\"\n";
        const std::string script = "open h\r\n";
        row("closes the descriptor", readAndClose, script, script, script, "");
        row("never says a word", "", script, "", script, "");
        row("no script to hand over", readAndClose, "", "", "", "No such file");
        row("replaced after it was written", readAndClose, "open evil\r\n", script, "",
            "the runner copy was replaced before it was read");
    }
    void startWaitsForTheScriptRead()
    {
        const auto [body, onDisk, written, reads, why] =
            test::fetch<std::string, std::string, std::string, std::string, std::string>();
        const bool confirms = !body.empty();
        installStandIn(body);
        const std::string path = m_core.app->file("ZUL/tZULexe.zul");
        if (!onDisk.empty())
            m_core.app->write("ZUL/tZULexe.zul", onDisk);
        if (!written.empty())
            ModExecut::ExpectScript(path, written);
        qputenv("ZUL_HANDOVER_WAIT", "1");
        {
            CaughtStderr caught(m_core.app->file("stderr.txt"));
            ModExecut::StartRunner(ModExecut::FormRunnerCommand(path, "E0001"));
        }
        qunsetenv("ZUL_HANDOVER_WAIT");
        QCOMPARE(m_core.app->read("args.txt"), "true|" + path + "|E0001\n");
        QCOMPARE(m_core.app->read("fd.txt"), std::string("inherited\n"));
        QCOMPARE(m_core.app->exists("read"), confirms);
        if (confirms) {
            QCOMPARE(m_core.app->read("script.txt"), reads);
            const std::string said = m_core.app->read("why.txt");
            QVERIFY2(why.empty() ? said.empty() : said.find(why) != std::string::npos, said.c_str());
        }
        QVERIFY(!m_core.app->exists("done")); // the transfers are not waited for
        QCOMPARE(QString::fromStdString(m_core.app->read("stderr.txt")).contains("has not read its script"), !confirms);
        m_core.app->write("go", "");
        platform::waitForWatchedChildren();
        QVERIFY(m_core.app->exists("done"));
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "tst_handover.moc"
