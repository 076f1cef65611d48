#include "com/Registry.h"
#include "host/Host.h"
#include "host/ZembDB.h"
#include "support/Files.h"

#include <QFile>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <tuple>

using namespace zul;
using host::ZembDB;

namespace {

struct Row {
    std::string code, one, two;
};

void add(com::IZembDB& db, const Row& r)
{
    db.setFACODE(r.code);
    db.setFAFLDONE(r.one);
    db.setFAFLDTWO(r.two);
    db.AddRecord("FastZUL");
    db.ResetVar();
}

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

int errorNumber(const std::function<void()>& call)
{
    try {
        call();
    } catch (const com::ComError& e) {
        return e.number();
    }
    return 0;
}

} // namespace

using SeekRow = std::tuple<QString, QString, QString, QString>;

// Record order and deletion by search are checked through the Fast Path dialog; here what it does not reach.

class ZembDBTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<ZembDB> m_db;

    void fill()
    {
        for (const Row& r : std::vector<Row>{{"US", "alice", "pw1"},
                                             {"IP", "10.1.1.5", "0"},
                                             {"US", "alice", "pw2"},
                                             {"SS", "alice", "0"},
                                             {"XX", "other", "0"}})
            add(*m_db, r);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = ZembDB::open(m_dir->path());
        QVERIFY(m_db);
    }
    void cleanup()
    {
        m_db.reset();
        m_dir.reset();
    }

    void databaseFileIsTheOwnersAlone()
    {
        add(*m_db, {"US", "bob", "secret"});
        QCOMPARE(modeOf(m_dir->filePath("host.db")), 0600);

        // A host.db that the events store made first is tightened too.
        QTemporaryDir other;
        const QString loose = other.filePath("host.db");
        QVERIFY(test::writeBytes(loose, QByteArray()));
        QVERIFY(
            QFile::setPermissions(loose, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(ZembDB::open(other.path()));
        QCOMPARE(modeOf(loose), 0600);
    }

    void seekMatchesEmptyOrOmittedKeys_data()
    {
        QTest::addColumn<SeekRow>("row");
        const auto row = [](const char* tag, QString code, QString one, QString two, QString found) {
            QTest::newRow(tag) << SeekRow{code, one, two, found};
        };
        row("all three", "US", "alice", "pw2", "US:alice:pw2");
        row("empty second: any password", "US", "alice", "", "US:alice:pw1");
        row("omitted code: any kind", QString(), "alice", "", "US:alice:pw1");
        row("empty code", "", "10.1.1.5", "0", "IP:10.1.1.5:0");
        row("omitted second", "SS", "alice", QString(), "SS:alice:0");
        row("values compared exactly", "US", "Alice", "", "");
        row("blanks count", "IP", " 10.1.1.5", "0", "");
        row("no such second", "US", "alice", "pw3", "");
    }
    void seekMatchesEmptyOrOmittedKeys()
    {
        QFETCH(SeekRow, row);
        auto [code, one, two, found] = row; // code or two null: omitted
        fill();
        m_db->setFACODE("before");
        const auto key = [](const QString& k) {
            return k.isNull() ? std::nullopt : std::optional<std::string>(k.toStdString());
        };
        const bool hit = m_db->SeekByAllPKeys("fAsTzUl", key(code), one.toStdString(), key(two));
        QCOMPARE(hit, !found.isEmpty());
        if (hit)
            QCOMPARE(QString::fromStdString(m_db->FACODE() + ":" + m_db->FAFLDONE() + ":" + m_db->FAFLDTWO()), found);
        else
            QCOMPARE(m_db->FACODE(), std::string("before"));
    }

    void failures()
    {
        add(*m_db, {"IP", "1.2.3.4", "0"});
        std::int16_t beyond = 1;
        QCOMPARE(errorNumber([&] { m_db->GetRecord("FastZUL", beyond); }), 3021);
        QCOMPARE(errorNumber([&] { m_db->RecordCount("Events"); }), 3078);
        QVERIFY(!ZembDB::open("/proc/no-such-folder"));

        // A lost connection is the disconnected error, for every call.
        QSqlDatabase::database(m_db->connectionName(), false).close();
        QCOMPARE(errorNumber([&] { m_db->RecordCount("FastZUL"); }), static_cast<int>(0x80010108u));
        QCOMPARE(errorNumber([&] { m_db->AddRecord("FastZUL"); }), static_cast<int>(0x80010108u));
        QCOMPARE(errorNumber([&] { m_db->SeekByAllPKeys("FastZUL", "IP", "1.2.3.4", "0"); }),
                 static_cast<int>(0x80010108u));
    }

    void hostRegistersTheComponent()
    {
        host::Host host(m_dir->path(), nullptr);
        host.registerComponents();
        auto db = com::CreateObjectAs<com::IZembDB>("ZembDBdll.ClsZembDB");
        QVERIFY(db);
        const std::string bytes = "caf\xe9 \x80\x9f\xff"; // code-page bytes come back as they went in
        add(*db, {"US", bytes, " "});
        QVERIFY(m_db->SeekByAllPKeys("FastZUL", "US", bytes, ""));
        QCOMPARE(m_db->FAFLDONE(), bytes);
        QCOMPARE(m_db->FAFLDTWO(), std::string(" "));
        com::clearRegistry();
    }
};

QTEST_GUILESS_MAIN(ZembDBTest)
#include "tst_zembdb.moc"
