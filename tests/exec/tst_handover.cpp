// The hand-over between a run and the runner it starts: the lock that runs
// take turns with, the runner's word that it has read its script, and the
// cause of a failed transfer check reaching the runner and the log.
#include "exec/Handover.h"
#include "exec/ModExecut.h"

#include "ExecTestSupport.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/Process.h"
#include "plugin/Seams.h"
#include "plugin/iGamut12.h"
#include "support/Fakes.h"
#include "support/Files.h"
#include "support/TempAppFolder.h"

#include <QtTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
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

// A file size limit for this process and what it starts, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN); // a write past it fails instead of killing
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

} // namespace

class TestHandover : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_app;
    std::shared_ptr<test::Fakes> m_fakes;

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
        m_app->write("VelundZUL", script);
        QFile::setPermissions(QString::fromStdString(m_app->file("VelundZUL")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private slots:
    void init()
    {
        com::resetModuleState();
        com::clearRegistry();
        m_fakes = test::registerFakes();
        m_app = std::make_unique<test::TempAppFolder>();
        platform::setClock(test::fixedTime);
        plugin::resetSeams();
        plugin::seams().buildRunScript = [](std::string&) {};
    }
    void cleanup()
    {
        m_app->write("go", "");
        platform::waitForWatchedChildren();
        m_app.reset();
        platform::setClock({});
        plugin::resetSeams();
        com::clearRegistry();
        com::resetModuleState();
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
        const auto command = ModExecut::FormRunnerCommand(m_app->file("ZUL/tZULexe.zul"), "E0001");
        {
            CaughtStderr caught(m_app->file("stderr.txt"));
            ModExecut::StartRunner(command);
        }
        QCOMPARE(m_app->read("args.txt"), "true|" + m_app->file("ZUL/tZULexe.zul") + "|E0001\n");
        QCOMPARE(m_app->read("fd.txt"), std::string("inherited\n"));
        QCOMPARE(m_app->exists("read"), confirms);
        QVERIFY(!m_app->exists("done")); // the transfers are not waited for
        QCOMPARE(QString::fromStdString(m_app->read("stderr.txt")).contains("has not said"), !confirms);
        m_app->write("go", "");
        platform::waitForWatchedChildren();
        QVERIFY(m_app->exists("done"));
    }

    // A register that cannot be written: the runner still starts, without a
    // script, and both its outcome and the log say why.
    void checkFailureIsExplained()
    {
        QVERIFY(test::installBuilt(QStringLiteral("VelundZUL"), QString::fromStdString(m_app->path())));
        QVERIFY(test::installFile(test::builtPing32(), m_app->file("libping32.so")));
        std::string reg;
        for (int i = 0; i < 400; ++i)
            reg += "Z" + std::to_string(100000 + i) + " 20200101000000          &/z&\r\n";
        m_app->write("Rcvdchkr.txt", reg);
        m_app->write("ZUL/E0001ZUL.zul",
                     test::crlf("open 127.0.0.1\nuser a b\nget r /j/E000101.txt\n**E000101=&/t&\n"));
        auto gamut = std::make_unique<iGamut12>();
        com::EventStructPtr event = test::makeEvent("E0001");
        std::int32_t mode = 1;
        {
            CaughtStderr caught(m_app->file("stderr.txt"));
            FileSizeLimit limit(reg.size() / 2);
            QVERIFY(gamut->Execution(mode, event));
        }
        platform::waitForWatchedChildren();
        QCOMPARE(m_fakes->messages->calls.size(), std::size_t(1)); // the run log's own entries are as they were
        QCOMPARE(m_app->read("Rcvdchkr.txt"), reg);
        const QString why = "cannot write the receipt register: File too large";
        const QString log = QString::fromStdString(m_app->read("stderr.txt"));
        QVERIFY2(log.contains("event E0001: the transfer check failed") && log.contains(why), qPrintable(log));
        const QString runs = QString::fromStdString(m_app->read("Log/runs.jsonl"));
        QVERIFY2(runs.contains("no script: the transfer check before the run failed: " + why), qPrintable(runs));
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "tst_handover.moc"
