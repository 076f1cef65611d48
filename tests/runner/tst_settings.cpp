#include "runner/Settings.h"
#include "support/Rows.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using namespace zul::runner;
using zul::test::columns;
using zul::test::fetch;

namespace {
const char* kConfig = "# global part\n"
                      "retries = 5\n"
                      "Connect_Timeout=10\r\n"
                      "retry_budget = 45\nLIST_MAX_NAMES = 10\n"
                      "; a comment\n"
                      "not a setting\n"
                      "[Mainframe.Example]\n"
                      "RETRIES = 1\n"
                      "CA_FILE = /etc/zul/ca.pem\n"
                      "[other]\n"
                      "RETRIES = 9\n";
} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { ::unsetenv("ZUL_RUNNER_RETRIES"); }

    void lookup_data()
    {
        const auto row = columns<QString, QString, QString, QString>("key", "host", "env", "expected");
        row("global key, any case", "RETRIES", "", "", "5");
        row("key asked in lower case", "connect_timeout", "", "", "10");
        row("partner section over the global part", "RETRIES", "mainframe.example", "", "1");
        row("section name matches in any case", "RETRIES", "MAINFRAME.EXAMPLE", "", "1");
        row("other partner falls back to the global part", "RETRIES", "unix.example", "", "5");
        row("partner-only key absent elsewhere", "CA_FILE", "unix.example", "", "<none>");
        row("environment over the partner section", "RETRIES", "mainframe.example", "7", "7");
    }
    void lookup()
    {
        const auto [key, host, env, expected] =
            fetch<QString, QString, QString, QString>("key", "host", "env", "expected");
        if (!env.isEmpty())
            ::setenv("ZUL_RUNNER_RETRIES", env.toLatin1().constData(), 1);
        const auto config = ConfigFile::parse(kConfig);
        const auto v = config.value(key.toStdString(), host.toStdString());
        QCOMPARE(v ? QString::fromStdString(*v) : QStringLiteral("<none>"), expected);
    }

    void settingsFromFile()
    {
        QTemporaryDir dir;
        const std::string path = dir.filePath("VelundZUL.conf").toStdString();
        std::ofstream(path) << kConfig << "[slow]\nSTALL_TIMEOUT = 600\nRETRY_BUDGET = 600\nSYNC = 0\nBACKOFF_MS = junk\n"
                            << "upload_temp = Prefix\nVERIFY = hash\nRESUME = off\nKEEP_TIME = yes\n"
                            << "[odd]\nUPLOAD_TEMP = maybe\nVERIFY = crc\nRESUME = perhaps\n";
        std::string error;
        const auto config = ConfigFile::read(path, &error);
        QVERIFY(error.empty());
        const Settings global = Settings::fromConfig(config);
        QVERIFY(global.syncReceived);
        QCOMPARE(global.retryBudget.count(), 45);
        QCOMPARE(global.listMaxNames, 10L);
        const Settings slow = Settings::fromConfig(config, "slow");
        QCOMPARE(slow.stallTimeout.count(), 600);
        QCOMPARE(slow.retryBudget.count(), 600);
        QVERIFY(!slow.syncReceived);
        QCOMPARE(slow.backoff.count(), Settings{}.backoff.count()); // a bad number keeps the default
        // The transfer keys: per partner, and their defaults where a value is not understood.
        QVERIFY(slow.uploadTemp == Settings::UploadTemp::Prefix && slow.verify == Settings::Verify::Hash);
        QVERIFY(!slow.resume && slow.keepTime);
        for (const Settings& s : {global, Settings::fromConfig(config, "odd")}) {
            QVERIFY(s.uploadTemp == Settings::UploadTemp::Off && s.verify == Settings::Verify::Size);
            QVERIFY(s.resume && !s.keepTime);
        }
    }

    // Values a run cannot use are named with their line instead of passing unnoticed.
    void badValuesAreReported_data()
    {
        const auto row =
            columns<QByteArray, QString, QStringList>("conf", "env", "problems"); // env: ZUL_RUNNER_RETRIES
        row("good values", "RETRIES = 5\nTLS_MAX = 1.2\nCA_FILE = x\nSYNC =\n", "", {});
        row("not a number", "# c\nBACKOFF_MS = junk\n", "",
            {"2: BACKOFF_MS = 'junk' is not a whole number of 0 or more; the default is used"});
        row("negative, trailing unit, too big, in a section",
            "DEADLINE = -1\n[slow]\nstall_timeout = 60s\nLOG_MAX_BYTES = 99999999999999999999\n", "",
            {"1: DEADLINE = '-1' is not a whole number of 0 or more; the default is used",
             "3: [slow] STALL_TIMEOUT = '60s' is not a whole number of 0 or more; the default is used",
             "4: [slow] LOG_MAX_BYTES = '99999999999999999999' is not a whole number of 0 or more; the default is "
             "used"});
        row("unknown word", "TLS_MAX = 1.0\n", "", {"1: TLS_MAX = '1.0' is not 1.2 or 1.3; the default is used"});
        row("environment", "", "three",
            {"0: the environment's ZUL_RUNNER_RETRIES = 'three' is not a whole number of 0 or more; the default is "
             "used"});
    }
    void badValuesAreReported()
    {
        const auto [conf, env, problems] = fetch<QByteArray, QString, QStringList>("conf", "env", "problems");
        if (!env.isEmpty())
            ::setenv("ZUL_RUNNER_RETRIES", env.toLatin1().constData(), 1);
        QStringList found;
        for (const auto& p : settingsProblems(ConfigFile::parse(conf.toStdString())))
            found << QString::number(p.line) + ": " + QString::fromStdString(p.message);
        QCOMPARE(found, problems);
    }

    // Settings someone else could have written are refused, naming the file and the fix; a link to /etc is followed.
    void untrustedSettingsAreRefused_data()
    {
        const auto row =
            columns<int, bool, bool, QString>("mode", "otherOwner", "throughLink", "fix"); // fix "": trusted
        row("owner's, read by all", 0644, false, false, "");
        row("through the package's link", 0644, false, true, "");
        row("group-writable", 0664, false, false, "chmod go-w");
        row("writable by others, through a link", 0602, false, true, "chmod go-w");
        row("another user's", 0644, true, false, "chown");
    }
    void untrustedSettingsAreRefused()
    {
        const auto [mode, otherOwner, throughLink, fix] =
            fetch<int, bool, bool, QString>("mode", "otherOwner", "throughLink", "fix");
        if (otherOwner && ::geteuid() != 0)
            QSKIP("needs root to give the file to another user");
        QTemporaryDir dir;
        const std::string real = dir.filePath("etc.conf").toStdString();
        std::ofstream(real) << "RETRIES = 7\n";
        QCOMPARE(::chmod(real.c_str(), mode_t(mode)), 0);
        if (otherOwner)
            QCOMPARE(::chown(real.c_str(), 65534, 65534), 0);
        const std::string path = throughLink ? dir.filePath("VelundZUL.conf").toStdString() : real;
        if (throughLink)
            QCOMPARE(::symlink(real.c_str(), path.c_str()), 0);
        std::string error;
        const auto config = ConfigFile::read(path, &error);
        QCOMPARE(config.refused(), !fix.isEmpty());
        QCOMPARE(config.value("RETRIES").value_or("none"), fix.isEmpty() ? std::string("7") : std::string("none"));
        QVERIFY2(fix.isEmpty() ? error.empty()
                               : QString::fromStdString(error).contains(fix) && error.find(path) != std::string::npos,
                 error.c_str());
    }

    void missingFileIsEmptyUnreadableIsReported()
    {
        QTemporaryDir dir;
        std::string error;
        const auto none = ConfigFile::read(dir.filePath("absent.conf").toStdString(), &error);
        QVERIFY(error.empty());
        QVERIFY(!none.value("RETRIES"));
        ConfigFile::read(dir.path().toStdString() + "/sub/", &error); // a folder that is not there either
        QVERIFY(error.empty());
        // Unreadable for root too: a folder in the file's place, a path through a file.
        const std::string plain = dir.filePath("plain").toStdString();
        std::ofstream(plain) << "RETRIES=1\n";
        QVERIFY(QDir(dir.path()).mkdir("folder.conf"));
        for (const std::string& unreadable : {dir.filePath("folder.conf").toStdString(), plain + "/x.conf"}) {
            error.clear();
            QVERIFY(!ConfigFile::read(unreadable, &error).value("RETRIES"));
            QVERIFY2(!error.empty(), unreadable.c_str());
        }
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
