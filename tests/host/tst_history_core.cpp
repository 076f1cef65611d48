#include "host/history/Json.h"
#include "host/history/RunLog.h"
#include "host/history/Schedule.h"
#include "records/RunStatus.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zul::history;

// The history's own JSON reader and number texts: what the quick commands
// print must be what the window's Qt side would make of the same record.
class HistoryCoreTest : public QObject {
    Q_OBJECT
private slots:
    // A running run's line, as the history and the events window show it.
    void progressTexts_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("rate");
        QTest::addColumn<QString>("shown");
        QTest::newRow("size known") << "payroll.dat" << qint64(1'200'000'000) << qint64(4'000'000'000)
                                    << qint64(38'000'000)
                                    << "line 4, get payroll.dat, 1.2 of 4.0 GB, 38 MB/s, about 1 min left";
        QTest::newRow("size not known") << "a.txt" << qint64(52'000) << qint64(-1) << qint64(1'500'000)
                                        << "line 4, get a.txt, 52.0 kB, 1.5 MB/s";
        QTest::newRow("stalled") << "s.bin" << qint64(100) << qint64(1000) << qint64(0)
                                 << "line 4, get s.bin, 0.1 of 1.0 kB";
        QTest::newRow("hours left") << "big" << qint64(0) << qint64(40'000'000'000) << qint64(5'000'000)
                                    << "line 4, get big, 0.0 of 40.0 GB, 5.0 MB/s, about 2 h 13 min left";
        QTest::newRow("between transfers") << "" << qint64(0) << qint64(-1) << qint64(0) << "line 4, get";
    }
    void progressTexts()
    {
        QFETCH(QString, file);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(qint64, rate);
        QFETCH(QString, shown);
        zul::records::RunStatus s;
        s.pid = 4242;
        s.line = 4;
        s.command = "get";
        s.file = file.toStdString();
        s.done = done;
        s.total = total;
        s.rate = rate;
        const auto back = zul::records::parseStatus(zul::records::statusText(s));
        QVERIFY(back);
        QCOMPARE(QString::fromStdString(zul::records::progressText(*back)), shown);
    }

    // A status counts only beside a lock its run holds, in a file no one else
    // could have written, naming the pid of its own name.
    void runningNeedsAHeldLockAndATrustedFile_data()
    {
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("mode");
        QTest::addColumn<long>("pidShift");
        QTest::addColumn<bool>("running");
        QTest::newRow("held, 0640") << true << 0640 << 0L << true;
        QTest::newRow("lock let go") << false << 0640 << 0L << false;
        QTest::newRow("group may write") << true << 0660 << 0L << false;
        QTest::newRow("others may write") << true << 0602 << 0L << false;
        QTest::newRow("another pid inside") << true << 0640 << 1L << false;
    }
    void runningNeedsAHeldLockAndATrustedFile()
    {
        QFETCH(bool, held);
        QFETCH(int, mode);
        QFETCH(long, pidShift);
        QFETCH(bool, running);
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        const std::string stem = folder + "/run-" + std::to_string(::getpid());
        const int lock = ::open((stem + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
        QVERIFY(lock >= 0);
        if (held)
            QVERIFY(::flock(lock, LOCK_EX) == 0);
        zul::records::RunStatus s;
        s.pid = long(::getpid()) + pidShift;
        s.event = "E0001";
        const std::string text = zul::records::statusText(s);
        QFile f(QString::fromStdString(stem + ".status"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text.data(), qint64(text.size())) == qint64(text.size()));
        f.close();
        QVERIFY(::chmod((stem + ".status").c_str(), mode_t(mode)) == 0);
        QCOMPARE(zul::records::runningRuns(folder, "E0001").size(), std::size_t(running ? 1 : 0));
        QVERIFY(zul::records::runningRuns(folder, "E0002").empty());
        ::close(lock);
        QCOMPARE(zul::records::statusNameFor("run-12-0a9f.lock"), std::string("run-12-0a9f.status"));
        for (const char* name : {"run-.lock", "run-x1.lock", "event-12.lock", "run-12-.lock", "run-12-XY.lock"})
            QCOMPARE(zul::records::statusNameFor(name), std::string());
    }

    // The member "v" of each document, read as each conversion reads it.
    void json_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("string");
        QTest::addColumn<int>("toInt");
        QTest::addColumn<qint64>("toInteger");
        QTest::addColumn<QString>("text");

        QTest::newRow("plain string") << QByteArray("{\"v\":\"abc\"}") << true << "abc" << 0 << qint64(0) << "abc";
        QTest::newRow("escapes") << QByteArray("{\"v\":\"a\\\"b\\\\c\\/d\\n\\t\\u00e9\"}") << true << "a\"b\\c/d\n\t\u00e9" << 0
                                 << qint64(0) << "a\"b\\c/d\n\t\u00e9";
        QTest::newRow("a pair of halves") << QByteArray("{\"v\":\"\\ud83d\\ude00\"}") << true
                                          << QString::fromUtf8("\xf0\x9f\x98\x80") << 0 << qint64(0)
                                          << QString::fromUtf8("\xf0\x9f\x98\x80");
        QTest::newRow("raw UTF-8") << QByteArray("{\"v\":\"\xc3\xbc\"}") << true << QString::fromUtf8("\xc3\xbc") << 0
                                   << qint64(0) << QString::fromUtf8("\xc3\xbc");
        QTest::newRow("integer") << QByteArray("{\"v\":42}") << true << "" << 42 << qint64(42) << "42";
        QTest::newRow("whole double") << QByteArray("{\"v\":3.0}") << true << "" << 3 << qint64(3) << "3";
        QTest::newRow("fraction") << QByteArray("{\"v\":1.5}") << true << "" << 0 << qint64(0) << "1.5";
        QTest::newRow("beyond int") << QByteArray("{\"v\":12345678901}") << true << "" << 0 << qint64(12345678901)
                                    << "12345678901";
        QTest::newRow("exponent") << QByteArray("{\"v\":1e2}") << true << "" << 100 << qint64(100) << "100";
        QTest::newRow("negative") << QByteArray("{\"v\":-7}") << true << "" << -7 << qint64(-7) << "-7";
        QTest::newRow("bool") << QByteArray("{\"v\":false}") << true << "" << 0 << qint64(0) << "false";
        QTest::newRow("null") << QByteArray("{\"v\":null}") << true << "" << 0 << qint64(0) << "";
        QTest::newRow("object") << QByteArray("{\"v\":{\"a\":1}}") << true << "" << 0 << qint64(0) << "";
        QTest::newRow("the last of two") << QByteArray("{\"v\":\"a\",\"v\":\"b\"}") << true << "b" << 0 << qint64(0) << "b";
        QTest::newRow("blanks around") << QByteArray(" {\r\n\"v\" : \"x\" } \n") << true << "x" << 0 << qint64(0) << "x";
        QTest::newRow("missing") << QByteArray("{\"w\":1}") << true << "" << 0 << qint64(0) << "";
        QTest::newRow("cut short") << QByteArray("{\"v\":\"abc") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("glued to the next") << QByteArray("{\"v\":1}{\"v\":2}") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("control character") << QByteArray("{\"v\":\"a\x01\"}") << true << "a\x01" << 0 << qint64(0)
                                           << "a\x01";
        QTest::newRow("unknown escape") << QByteArray("{\"v\":\"\\x\"}") << true << "x" << 0 << qint64(0) << "x";
        QTest::newRow("bad UTF-8") << QByteArray("{\"v\":\"\xc3\x28\"}") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("overlong UTF-8") << QByteArray("{\"v\":\"\xc0\xaf\"}") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("bad hex") << QByteArray("{\"v\":\"\\u00zz\"}") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("leading zero") << QByteArray("{\"v\":01}") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("trailing comma") << QByteArray("{\"v\":1,}") << false << "" << 0 << qint64(0) << "";
        QTest::newRow("a bare value") << QByteArray("\"v\"") << false << "" << 0 << qint64(0) << "";
    }
    void json()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, valid);
        QFETCH(QString, string);
        QFETCH(int, toInt);
        QFETCH(qint64, toInteger);
        QFETCH(QString, text);
        const Json j = Json::parse(std::string_view(document.constData(), std::size_t(document.size())));
        QCOMPARE(j.isObject(), valid);
        // Where Qt reads the same document, it agrees.
        QJsonParseError error;
        const QJsonDocument qt = QJsonDocument::fromJson(document, &error);
        QCOMPARE(error.error == QJsonParseError::NoError && qt.isObject(), valid);
        const Json& v = j["v"];
        QCOMPARE(QString::fromStdString(v.string()), string);
        QCOMPARE(v.toInt(), toInt);
        QCOMPARE(v.toInteger(), toInteger);
        QCOMPARE(QString::fromStdString(v.text()), text);
        if (valid) {
            QCOMPARE(QString::fromStdString(v.string()), qt.object().value("v").toString());
            QCOMPARE(v.toInt(), qt.object().value("v").toInt());
            QCOMPARE(v.toInteger(), qt.object().value("v").toInteger());
        }
    }

    void jsonString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << "E0042";
        QTest::newRow("quotes and backslashes") << "a\"b\\c";
        QTest::newRow("control characters") << QString::fromLatin1("tab\there\nnew\x01\x1f\b\f\r");
        QTest::newRow("beyond ASCII") << QString::fromUtf8("\xc3\xbc \xf0\x9f\x98\x80 /slash");
    }
    // Written as Qt writes a string, byte for byte.
    void jsonString()
    {
        QFETCH(QString, text);
        std::string out;
        appendJsonString(out, text.toStdString());
        const QByteArray qt = QJsonDocument(QJsonObject{{"k", text}}).toJson(QJsonDocument::Compact);
        QCOMPARE(QByteArray::fromStdString("{\"k\":" + out + "}"), qt);
    }

    // A systemd calendar time as a crontab line says it, or why it cannot.
    void cronFields_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QString>("fields"); // empty: refused
        QTest::addColumn<QString>("why");
        QTest::newRow("daily") << "daily" << "0 0 * * *" << "";
        QTest::newRow("weekly") << "weekly" << "0 0 * * 1" << "";
        QTest::newRow("quarterly") << "quarterly" << "0 0 1 1,4,7,10 *" << "";
        QTest::newRow("working days") << "Mon..Fri 02:30" << "30 2 * * 1-5" << "";
        QTest::newRow("weekend wraps to Sunday 0") << "Sat,Sun *-*-* 06:00:00" << "0 6 * * 0,6" << "";
        QTest::newRow("list and step") << "*-*-* 8..17:0/15" << "0-59/15 8-17 * * *" << "";
        QTest::newRow("month and day") << "*-12-24 18:05" << "5 18 24 12 *" << "";
        QTest::newRow("date without year") << "06-01 00:00" << "0 0 1 6 *" << "";
        QTest::newRow("a year") << "2027-01-01 00:00" << "" << "no years";
        QTest::newRow("seconds") << "*-*-* 02:30:15" << "" << "seconds";
        QTest::newRow("weekday and day") << "Mon *-*-01 00:00" << "" << "either a weekday or a day";
        QTest::newRow("time zone") << "*-*-* 02:00 Europe/Berlin" << "" << "time zone";
        QTest::newRow("hour out of range") << "*-*-* 25:00" << "" << "cannot say";
        QTest::newRow("descending weekdays") << "Fri..Mon 02:00" << "" << "";
    }
    void cronFields()
    {
        QFETCH(QString, when);
        QFETCH(QString, fields);
        QFETCH(QString, why);
        std::string reason;
        const auto got = zul::history::cronFields(when.toStdString(), &reason);
        QCOMPARE(got ? QString::fromStdString(*got) : QString(), fields);
        QVERIFY2(QString::fromStdString(reason).contains(why), reason.c_str());
    }

    // The package's service and a timer that schedule writes, as systemd
    // reads them: no unknown key, no bad value (the program is not installed here).
    void unitsAsSystemdReadsThem()
    {
        if (QStandardPaths::findExecutable("systemd-analyze").isEmpty())
            QSKIP("no systemd-analyze here (package systemd)");
        QTemporaryDir dir;
        const QString service = ZUL_SOURCE_DIR "/packaging/systemd/zul-run@.service";
        QVERIFY(QFile::copy(service, dir.filePath("zul-run@E0001.service")));
        QFile timer(dir.filePath("zul-run@E0001.timer"));
        QVERIFY(timer.open(QIODevice::WriteOnly));
        timer.write(QByteArray::fromStdString(timerUnit("E0001", "Mon..Fri 02:30")));
        timer.close();
        QProcess verify;
        verify.setWorkingDirectory(dir.path());
        verify.start("systemd-analyze", {"verify", "--man=no", "./zul-run@E0001.timer", "./zul-run@E0001.service"});
        QVERIFY(verify.waitForFinished(60000));
        QStringList said = QString::fromUtf8(verify.readAllStandardError() + verify.readAllStandardOutput())
                               .split('\n', Qt::SkipEmptyParts)
                               .filter(QRegularExpression("^(?!.*/usr/bin/qorvhost is not executable)"));
        QVERIFY2(said.isEmpty(), qPrintable(said.join('\n')));
    }

    // Sizes and durations as Qt's fixed notation shows them, halves
    // included: 359,250 bytes are "359.3 kB".
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
        std::vector<qint64> bytes = {0, 999, 1000, 1049, 1050, 1150, 359'250, 999'949, 999'950, 999'999'950,
                                     1'250'000'000, 1'255'000'000, 1'005'000'000};
        QRandomGenerator random(16);
        for (int i = 0; i < 20000; ++i)
            bytes.push_back(qint64(random.bounded(200000)) * (i % 2 ? 50 : 5000) + (i % 3 == 0 ? random.bounded(50) : 0));
        for (const qint64 b : bytes)
            QCOMPARE(QString::fromStdString(shownTransfer(2, b)), QStringLiteral("2 files, ") + size(b));
        QCOMPARE(QString::fromStdString(shownTransfer(1, 5)), QStringLiteral("1 file, 5 B"));
        for (qint64 ms = 0; ms < 60'000; ms += 7)
            QCOMPARE(QString::fromStdString(shownDuration(ms)),
                     QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1));
        for (qint64 ms = 0; ms < 60'000; ms += 50)
            QCOMPARE(QString::fromStdString(shownDuration(ms)),
                     QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1));
        QCOMPARE(QString::fromStdString(shownDuration(-1)), QStringLiteral("-"));
        QCOMPARE(QString::fromStdString(shownDuration(245'000)), QStringLiteral("4 min 05 s"));
        QCOMPARE(QString::fromStdString(shownDuration(3'660'000)), QStringLiteral("1 h 01 min"));
    }

    // A runner that died: how long it ran as its record tells, "unknown" when
    // no sign of life came after its start.
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
        const auto run = RunLog::fromRunRecord(
            ("{\"event\":\"E0001\",\"start\":\"2026-12-05T02:00:00.000+0000\",\"end\":\"" + end +
             "\",\"exit\":13,\"outcome\":\"interrupted: the run ended without finishing\"}")
                .toStdString());
        QVERIFY(run);
        QCOMPARE(run->result, Run::Result::Unfinished);
        QCOMPARE(QString::fromStdString(shownDuration(*run)), shown);
    }
};

QTEST_GUILESS_MAIN(HistoryCoreTest)
#include "tst_history_core.moc"
