// Two accounts of one group share an installed folder: bob's links, script and lock turn none of alice's runs.
#include "support/Files.h"
#include "support/FtpServer.h"
#include "support/Rows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zul::test;

namespace {
const char* const kGroup = "zulshared";
const char* const kAlice = "zulshareda"; // runs the events
const char* const kBob = "zulsharedb";   // the other member of the group
} // namespace

class SharedFoldersTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    FtpServer m_server;
    QStringList m_madeUsers;
    bool m_madeGroup = false;
    gid_t m_gid = 0;

    QString path(const QString& rel) const { return m_dir.filePath(rel); }
    static uid_t uidOf(const char* user) { return ::getpwnam(user) ? ::getpwnam(user)->pw_uid : uid_t(-1); }
    // Gives a file or folder to owner (root when null) and the group, with mode.
    bool own(const QString& rel, const char* owner, mode_t mode) const
    {
        const QByteArray p = QFile::encodeName(path(rel));
        return ::chown(p.constData(), owner ? uidOf(owner) : 0, m_gid) == 0 && ::chmod(p.constData(), mode) == 0;
    }

    // program with args as user (its groups, the test group first), umask 022 unless told.
    int runAs(const char* user, const QString& program, const QStringList& args, QByteArray* out = nullptr,
              mode_t mask = 022) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(path(""));
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path(QString("home-") + user));
        env.insert("ZUL_RUNNER_RETRIES", "0");
        env.insert("ZUL_RUNNER_CONNECT_TIMEOUT", "10");
        p.setProcessEnvironment(env);
        p.setChildProcessModifier([mask] { ::umask(mask); });
        p.start("setpriv",
                QStringList{"--reuid=" + QString(user), "--regid=" + QString(kGroup), "--init-groups", "--", program} +
                    args);
        p.waitForFinished(60000);
        if (out)
            *out = p.readAll();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    int shAs(const char* user, const QString& command) const { return runAs(user, "/bin/sh", {"-c", command}); }
    int hostAs(const char* user, const QStringList& args, mode_t mask = 022) const
    {
        QByteArray out;
        const int status = runAs(
            user, qEnvironmentVariable("ZUL_BIN_DIR") + "/qorvhost",
            QStringList{"--data", path(QString("data-") + user), "--plugin", path("app/libzul.so")} + args, &out, mask);
        if (status != 0)
            qWarning("qorvhost %s: %s", qPrintable(args.join(' ')), out.constData());
        return status;
    }
    // A script of user's, owner-only, outside the shared folders.
    QString userScript(const char* user, const QString& name, const QByteArray& body) const
    {
        writeBytes(path("scripts/" + name), "open 127.0.0.1 " + QByteArray::number(m_server.port()) +
                                                "\r\nuser ops Secr3t-pw\r\n" + body + "quit\r\n");
        own("scripts/" + name, user, 0600);
        return path("scripts/" + name);
    }
    QList<QJsonObject> runs() const { return jsonLines(path("state/Log/runs.jsonl")); }
    static mode_t modeOf(const QString& file)
    {
        struct stat st {};
        return ::lstat(file.toLocal8Bit().constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
    }
    // The file only alice may write: untouched and not re-moded.
    void victimIsUntouched()
    {
        QCOMPARE(readBytes(path("secret/alice-only.txt")), QByteArray("alice's own\n"));
        QCOMPARE(modeOf(path("secret/alice-only.txt")), mode_t(0600));
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("needs root: it makes two local accounts in one group and runs as each");
        m_madeGroup = !::getgrnam(kGroup);
        if (m_madeGroup)
            QCOMPARE(QProcess::execute("groupadd", {kGroup}), 0);
        m_gid = ::getgrnam(kGroup)->gr_gid;
        for (const char* user : {kAlice, kBob})
            if (!::getpwnam(user)) {
                m_madeUsers << user;
                QCOMPARE(QProcess::execute("useradd", {"-M", "-N", "-g", kGroup, "-d", "/nonexistent", "-s",
                                                       "/usr/sbin/nologin", user}),
                         0);
            }

        // As packaged: a read-only folder, its writable parts linked into root's sticky, setgid state folder.
        QVERIFY(::chmod(m_dir.path().toLocal8Bit().constData(), 0755) == 0 &&
                writeBytes(path("state/Common/Rcvdchkr.txt"), ""));
        QDir d(m_dir.path());
        for (const char* sub :
             {"app", "state/ZUL", "state/Junction", "state/Log", "state/Lock", "state/Common", "scripts", "server",
              "secret", "keep", "in", "data-zulshareda", "data-zulsharedb", "home-zulshareda", "home-zulsharedb"})
            QVERIFY(d.mkpath(sub));
        for (const char* file : {"libzul.so", "VelundZUL", "libping32.so"})
            QVERIFY(installBuilt(file, path("app")));
        for (const char* shared : {"state", "state/ZUL", "state/Junction", "state/Log", "state/Lock"})
            QVERIFY(own(shared, nullptr, 03770));
        // Replaced whole by every member: not sticky.
        QVERIFY(own("state/Common", nullptr, 02770) && own("state/Common/Rcvdchkr.txt", nullptr, 0660));
        for (const char* link : {"ZUL", "Junction", "Log", "Lock", "Common/Rcvdchkr.txt", "Common/tempZUL.zul"})
            QVERIFY(QFile::link(path(QString("state/") + link),
                                path(QString("app/") + QFileInfo(QString(link)).fileName())));
        ::chmod(path("scripts").toLocal8Bit().constData(), 0755);
        for (const char* alices : {"secret", "keep", "in", "data-zulshareda", "home-zulshareda"})
            QVERIFY(own(alices, kAlice, 0755));
        QVERIFY(writeBytes(path("secret/alice-only.txt"), "alice's own\n") &&
                own("secret/alice-only.txt", kAlice, 0600));
        for (const char* bobs : {"home-zulsharedb", "data-zulsharedb"})
            QVERIFY(own(bobs, kBob, 0755));
        QVERIFY2(m_server.start(path("server"), "ops", "Secr3t-pw"), qPrintable(m_server.why()));
    }

    void cleanupTestCase()
    {
        for (const QString& user : m_madeUsers)
            QProcess::execute("userdel", {user});
        if (m_madeGroup)
            QProcess::execute("groupdel", {kGroup});
    }

    // Bob's links to alice's own file where her runner opens files: it fails or goes on, the file untouched.
    void plantedLinksAreNotFollowed_data()
    {
        const auto row = columns<QString, int, QByteArray>();
        row("event lock", "Lock/event-E0001.lock", 9, "symbolic link");
        row("run log", "Log/runs.jsonl", 0, "cannot append");
    }
    void plantedLinksAreNotFollowed()
    {
        const auto [planted, exit, said] = fetch<QString, int, QByteArray>();
        const QString link = path("state/" + planted);
        QFile::remove(link);
        QCOMPARE(shAs(kBob, "ln -s '" + path("secret/alice-only.txt") + "' '" + link + "'"), 0);
        const QString script = userScript(kAlice, "links.zul", "");
        QByteArray out;
        const int status = runAs(kAlice, path("app/VelundZUL"), {"true|" + script + "|E0001"}, &out);
        QVERIFY2(status == exit && out.contains(said), out.constData());
        victimIsUntouched();
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(::unlink(link.toLocal8Bit().constData()), 0);
    }

    // Bob cannot move alice's script away; where he can (not sticky), his script is refused and nothing sent.
    void replacedScriptIsRefused_data()
    {
        const auto row = columns<QString, QString>();
        row("readable by the group", "S0001", "640");
        row("bob's alone", "S0002", "600");
    }
    void replacedScriptIsRefused()
    {
        const auto [event, mode] = fetch<QString, QString>();
        const QString mine = userScript(kAlice, "own.zul", "");
        QVERIFY(hostAs(kAlice, {"event", "put", event}) == 0 && hostAs(kAlice, {"script", "import", event, mine}) == 0);
        const QString script = path("app/ZUL/" + event + "ZUL.zul");
        QVERIFY(QFile::exists(script) && shAs(kBob, "mv '" + script + "' '" + path("state/ZUL/gone.zul") + "'") != 0 &&
                QFile::exists(script));

        QVERIFY(own("state/ZUL", nullptr, 02770));
        const QByteArray bobs = "open 127.0.0.1 " + QByteArray::number(m_server.port()) +
                                "\r\nuser ops Secr3t-pw\r\nput " + path("secret/alice-only.txt").toLocal8Bit() +
                                " stolen.txt\r\nquit\r\n";
        QCOMPARE(shAs(kBob, "mv '" + script + "' '" + path("state/ZUL/gone-" + event + ".zul") + "' && printf '%s' '" +
                                QString::fromLatin1(bobs) + "' > '" + script + "' && chmod " + mode + " '" + script +
                                "'"),
                 0);
        QVERIFY(own("state/ZUL", nullptr, 03770));

        const int before = runs().size();
        // Records spooled by earlier rows may come first.
        const auto ofEvent = [&, &event = event] {
            QList<QJsonObject> out;
            for (const QJsonObject& r : runs().mid(before))
                if (r.value("event") == event)
                    out << r;
            return out;
        };
        if (mode == "600") {
            // Unreadable to alice: the run ends before the runner, in the host's log.
            QVERIFY(hostAs(kAlice, {"run", event}) != 0);
            const QByteArray log = readBytes(path("data-zulshareda/messages.jsonl"));
            QVERIFY2(log.contains(script.toLocal8Bit()), log.right(600).constData());
        } else {
            // The runner only records the refusal: the host says the run failed.
            QCOMPARE(hostAs(kAlice, {"run", event}), 1);
            QTRY_VERIFY2_WITH_TIMEOUT(!ofEvent().isEmpty(),
                                      readBytes(path("data-zulshareda/messages.jsonl")).right(800).constData(), 30000);
            const QString outcome = ofEvent().first().value("outcome").toString();
            QVERIFY2(ofEvent().first().value("exit") == 1 && outcome.contains("refused") && outcome.contains(script) &&
                         outcome.contains("chown"),
                     qPrintable(outcome));
        }
        QTest::qWait(200);
        QVERIFY(ofEvent().size() == (mode == "600" ? 0 : 1) && !QFile::exists(path("server/stolen.txt")));
        victimIsUntouched();
    }

    // Bob's lock names a part file elsewhere and a run that never was: nothing removed, no run recorded.
    void forgedLockFileIsNotBelieved()
    {
        QVERIFY(writeBytes(path("keep/.x.part-KEEP"), "keep me") && own("keep/.x.part-KEEP", kAlice, 0644));
        const QString forged = path("state/Lock/run-999999.lock"),
                      bobsPart = path("state/Junction/.zulpart-0123456789abcdef-bobbob");
        QCOMPARE(shAs(kBob, "printf 'pid 999999\\nsince 1\\nevent FORGED\\nstart then\\ntranscript \\npart " +
                                path("keep/.x.part-KEEP") + "\\n' > '" + forged + "' && : > '" + bobsPart +
                                "' && touch -d 2001-01-01 '" + bobsPart + "'"),
                 0);
        const QString script = userScript(kAlice, "forged.zul", "");
        QCOMPARE(runAs(kAlice, path("app/VelundZUL"), {"true|" + script + "|E0003"}), 0);
        QVERIFY(readBytes(path("keep/.x.part-KEEP")) == "keep me" && QFile::exists(forged) && QFile::exists(bobsPart) &&
                runs().last().value("event") == "E0003");
        for (const QJsonObject& run : runs())
            QVERIFY(run.value("event") != "FORGED");
        // Bob's own runs may settle his locks (he can write the run log anyway): not part of what follows.
        QVERIFY(QFile::remove(forged));
    }

    // Whatever alice's umask (000 here), what her runs create is never writable by others.
    void modesWhateverTheUmask()
    {
        QVERIFY(writeBytes(path("server/fetched.txt"), "fetched"));
        const QString event = "M0001";
        const QString mine =
            userScript(kAlice, "modes.zul", "get fetched.txt " + path("in/fetched.txt").toLocal8Bit() + "\r\n");
        QVERIFY(hostAs(kAlice, {"event", "put", event}, 0) == 0 &&
                hostAs(kAlice, {"script", "import", event, mine}, 0) == 0);
        const int before = runs().size();
        QCOMPARE(hostAs(kAlice, {"run", event}, 0), 0);
        QTRY_VERIFY_WITH_TIMEOUT(runs().size() > before, 30000);
        const QJsonObject run = runs().at(before);
        QVERIFY2(run.value("exit") == 0 && readBytes(path("in/fetched.txt")) == "fetched",
                 qPrintable(run.value("outcome").toString()));
        QCOMPARE(
            QList<mode_t>({modeOf(path("in/fetched.txt")), modeOf(run.value("transcript").toString()),
                           modeOf(path("data-zulshareda/messages.jsonl")), modeOf(path("state/ZUL/M0001ZUL.zul"))}),
            QList<mode_t>({0660, 0640, 0600, 0600}));
        const QString name = QFileInfo(run.value("transcript").toString()).fileName();
        QVERIFY2(QRegularExpression("^M0001_\\d{8}-\\d{6}_\\d+-[0-9a-f]{12}\\.log$").match(name).hasMatch(),
                 qPrintable(name));
    }

    // Sticky folders still let members run one after the other: alice's leftovers stop no run of bob's.
    void membersRunOneAfterTheOther()
    {
        const QString script =
            userScript(kBob, "bob.zul", "put " + path("scripts/bob.zul").toLocal8Bit() + " bob.txt\r\n");
        QVERIFY(hostAs(kBob, {"event", "put", "B0001"}) == 0 &&
                hostAs(kBob, {"script", "import", "B0001", script}) == 0);
        for (const char* user : {kAlice, kBob}) {
            const int before = runs().size();
            QCOMPARE(hostAs(user, {"run", user == kAlice ? "M0001" : "B0001"}), 0);
            QTRY_VERIFY_WITH_TIMEOUT(runs().size() > before, 30000);
            const QJsonObject run = runs().at(before);
            QVERIFY2(run.value("exit").toInt() == 0, qPrintable(run.value("outcome").toString()));
        }
        QVERIFY(QFile::exists(path("server/bob.txt")));
    }
};

QTEST_GUILESS_MAIN(SharedFoldersTest)
#include "tst_shared.moc"
