// The hand-over between a run and the runner it starts: the lock that runs
// take turns with and the runner's word that it has read its script. (The
// cause of a failed transfer check is followed end to end in tst_concurrency.)
#include "exec/Handover.h"
#include "exec/ModExecut.h"

#include "ExecTestSupport.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/Process.h"
#include "platform/Yield.h"
#include "plugin/Seams.h"
#include "support/CoreFixture.h"
#include "support/Fakes.h"
#include "support/TempAppFolder.h"

#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace zul;

namespace {

// Standard error of this process, caught in a file while the object lives.
class CaughtStderr {
public:
    explicit CaughtStderr(const std::string& file)
    {
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~CaughtStderr()
    {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }

private:
    int m_saved = -1;
};

} // namespace

class TestHandover : public QObject {
    Q_OBJECT

    test::CoreFixture m_core;

    // A runner stand-in: records its argument and the handshake descriptor,
    // then runs body, then waits for the file "go" before it ends.
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

    // Another thread waits for the lock; a run re-entered on the holding
    // thread does not (it would wait for itself).
    void lockTakesTurns()
    {
        std::atomic<bool> taken{false};
        std::thread other;
        {
            ModExecut::HandoverLock first;
            QVERIFY(first.held());
            QVERIFY(QFile::exists(QString::fromStdString(ModExecut::HandoverLockPath())));
            {
                ModExecut::HandoverLock nested;
                QVERIFY(!nested.held());
            }
            other = std::thread([&] {
                ModExecut::HandoverLock second;
                taken = second.held();
            });
            QTest::qWait(200);
            QVERIFY(!taken);
        }
        other.join();
        QVERIFY(taken);
    }

    // A run started from a window message while another merges the register
    // would write over its records: no message gets in while the lock is held.
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

    // StartRunner comes back once the runner has read its script, not when
    // it ends; a runner that never says so holds it up only for a while.
    void startWaitsForTheScriptRead_data()
    {
        QTest::addColumn<std::string>("body");
        QTest::addColumn<bool>("confirms");
        QTest::newRow("closes the descriptor")
            << std::string("touch \"$d/read\"\neval \"exec $ZUL_HANDOVER_FD>&-\"\n") << true;
        QTest::newRow("never says a word") << std::string() << false;
    }
    void startWaitsForTheScriptRead()
    {
        QFETCH(std::string, body);
        QFETCH(bool, confirms);
        installStandIn(body);
        const auto command = ModExecut::FormRunnerCommand(m_core.app->file("ZUL/tZULexe.zul"), "E0001");
        {
            CaughtStderr caught(m_core.app->file("stderr.txt"));
            ModExecut::StartRunner(command);
        }
        QCOMPARE(m_core.app->read("args.txt"), "true|" + m_core.app->file("ZUL/tZULexe.zul") + "|E0001\n");
        QCOMPARE(m_core.app->read("fd.txt"), std::string("inherited\n"));
        QCOMPARE(m_core.app->exists("read"), confirms);
        QVERIFY(!m_core.app->exists("done")); // the transfers are not waited for
        QCOMPARE(QString::fromStdString(m_core.app->read("stderr.txt")).contains("has not said"), !confirms);
        m_core.app->write("go", "");
        platform::waitForWatchedChildren();
        QVERIFY(m_core.app->exists("done"));
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "tst_handover.moc"
