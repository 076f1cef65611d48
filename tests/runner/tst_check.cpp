#include "support/Files.h"
#include "support/Rows.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace zul::test;

// VelundZUL --check as CI runs it: a real process over real files.
class CheckTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // Every file under the folder with its size and time, to see that nothing changed.
    QStringList snapshot() const
    {
        QStringList out;
        QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo fi(it.next());
            out << fi.filePath() + " " + QString::number(fi.size()) + " " +
                       QString::number(fi.lastModified().toMSecsSinceEpoch());
        }
        out.sort();
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(installBuilt("VelundZUL", m_dir.path()));
        QVERIFY(writeBytes(m_dir.filePath("good.zul"), "open 127.0.0.1\r\nuser zul pw\r\nget a.txt b.txt\r\nquit\r\n"));
        QVERIFY(writeBytes(m_dir.filePath("bad.zul"), "open h 99999\r\nuser a b\r\ngett x\r\nget\r\n"));
        QVERIFY(writeBytes(m_dir.filePath("warn.zul"), "open sftp://h\r\nuser a b\r\nascii\r\n"));
        QVERIFY(writeBytes(m_dir.filePath("reopen.zul"), "lcd /data/reopen\r\nopen h\r\nuser a b\r\nquit\r\n"));
    }

    void check_data()
    {
        // confMode 0: no VelundZUL.conf beside the program; out: with DIR/ for the folder, each line begins so
        const auto row = columns<QStringList, int, int, QStringList, QString>();
        const QStringList bad{"DIR/bad.zul:1: error: bad port '99999' (1 to 65535) [bad-port]",
                              "DIR/bad.zul:3: error: unknown command 'gett' [unknown-command]",
                              "DIR/bad.zul:4: error: wrong number of arguments for 'get' (1 or 2 expected, 0 given) "
                              "[arguments]"};
        row("clean", {"good.zul"}, 0, 0, {}, "");
        row("warnings only", {"warn.zul"}, 0, 0,
            {"DIR/warn.zul:3: warning: 'ascii' over SFTP: files go as they are, line ends are not converted "
             "[ascii-over-sftp]"},
            "");
        row("the partner check reads an earlier line", {"reopen.zul"}, 0, 0,
            {"DIR/reopen.zul:1: warning: the partner check before a run will read '\\x0Aopen h' as the partner "
             "address, "
             "not the host 'h' of the open line on line 2: the first 'open' in small letters is on line 1; runs will "
             "fail with \"partner did not answer\". Write 'open' in small letters and let no line before the open line "
             "hold 'open' [partner-address]"},
            "");
        row("problems, every one on its line", {"good.zul", "bad.zul"}, 0, 1, bad, "");
        row("unreadable file wins", {"bad.zul", "missing.zul"}, 0, 2, bad, "DIR/missing.zul: error: cannot read");
        row("a folder is no script", {"."}, 0, 2, {}, "DIR/.: error: cannot read");
        row("no file", {}, 0, 2, {}, "usage: VelundZUL --check FILE...");
        // The settings beside the program, read as a run reads them.
        row("bad settings are warnings", {"good.zul"}, 0600, 0,
            {"DIR/VelundZUL.conf:1: warning: RETRIES = 'three' is not a whole number of 0 or more; the default is used "
             "[bad-setting]",
             "DIR/VelundZUL.conf:3: warning: [slow] TLS_MAX = '1.0' is not 1.2 or 1.3; the default is used "
             "[bad-setting]"},
            "");
        row("settings a run refuses are an error", {"good.zul"}, 0666, 1, {"DIR/VelundZUL.conf: error: "}, "");
    }
    void check()
    {
        const auto [files, confMode, status, out, err] = fetch<QStringList, int, int, QStringList, QString>();
        const QString conf = m_dir.filePath("VelundZUL.conf");
        if (confMode)
            QVERIFY(writeBytes(conf, "RETRIES = three\n[slow]\nTLS_MAX = 1.0\n") &&
                    ::chmod(conf.toLocal8Bit().constData(), mode_t(confMode)) == 0);
        const QStringList before = snapshot();
        QStringList args{"--check"};
        for (const auto& f : files)
            args << m_dir.filePath(f);
        QProcess p;
        p.start(m_dir.filePath("VelundZUL"), args);
        QVERIFY(p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit);
        const QStringList got = QString::fromLocal8Bit(p.readAllStandardOutput())
                                    .replace(m_dir.path(), "DIR")
                                    .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(got.size(), out.size());
        for (int i = 0; i < out.size(); ++i)
            QVERIFY2(got[i].startsWith(out[i]), qPrintable(got[i]));
        const QString errors = QString::fromLocal8Bit(p.readAllStandardError()).replace(m_dir.path(), "DIR");
        QVERIFY2(err.isEmpty() ? errors.isEmpty() : errors.startsWith(err), qPrintable(errors));
        QCOMPARE(p.exitCode(), status);
        // No transcript, no run record, no lock: nothing but the scripts was read.
        QCOMPARE(snapshot(), before);
        QFile::remove(conf);
    }
};

QTEST_GUILESS_MAIN(CheckTest)
#include "tst_check.moc"
