#include "com/Registry.h"
#include "host/EventStore.h"
#include "host/EventStruct.h"
#include "host/FileUtility.h"
#include "host/Host.h"
#include "host/MessageService.h"
#include "host/ZembDB.h"
#include "support/Files.h"
#include "support/Rows.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace zul;
using namespace zul::host;
using host::ZembDB;
using test::columns;
using test::fetch;

namespace {
class AnsweringPresenter : public MessagePresenter {
public:
    void display(const std::string& text) override { shown << QString::fromStdString(text); }
    bool confirm(const std::string& title, const std::string& text) override
    {
        asked << QString::fromStdString(title + "|" + text);
        return answer;
    }
    QStringList shown, asked;
    bool answer = true;
};

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

// The host's stand-ins; the Fast Path database's record order and deletion by search are checked through the dialog.
class HostComponentsTest : public QObject {
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
        m_db = ZembDB::open(m_dir->path().toStdString());
        QVERIFY(m_db);
    }
    void cleanup()
    {
        m_db.reset();
        m_dir.reset();
    }

    void messageShapes()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath("messages.jsonl");
        auto presenter = std::make_shared<AnsweringPresenter>();
        MessageService svc(log.toStdString(), presenter);

        // Confirmation: the title and the event's fields fill the question.
        auto reply = svc.HandleMessages({true, com::msg(5001), "C", std::int32_t{4}, "Please Confirm", "E0007", "PAY"});
        QVERIFY(reply == com::Variant(true));
        QCOMPARE(presenter->asked.size(), 1);
        QVERIFY2(presenter->asked[0].startsWith("Please Confirm|") && presenter->asked[0].contains("E0007") &&
                     presenter->asked[0].contains("PAY"),
                 qPrintable(presenter->asked[0]));

        // Display of a text and of a number with a further text.
        svc.HandleMessages({false, "Disk full", "D"});
        svc.HandleMessages({false, com::msg(3281), "D", "File '/x/E01ZUL.zul' not found."});
        QCOMPARE(presenter->shown.size(), 2);
        QCOMPARE(presenter->shown[0], QString("Disk full"));
        QVERIFY(presenter->shown[1].endsWith("File '/x/E01ZUL.zul' not found."));

        // Run log: not shown, logged with every argument and its type.
        svc.HandleMessages({false, com::msg(4124), com::msg(4125), "L", "E0001", "ZUL", std::int16_t{3}, "12/05/2026",
                            "14:00:00", "90", "127.0.0.1"});
        QCOMPARE(presenter->shown.size(), 2);

        const QList<QJsonObject> lines = zul::test::jsonLines(log);
        QVERIFY(lines.size() == 4 && zul::test::readBytes(log).endsWith('\n'));
        const QJsonObject& l = lines[3];
        QCOMPARE(l["kind"].toString(), QString("L"));
        QCOMPARE(l["numbers"].toArray(), QJsonArray({4124, 4125}));
        const QJsonArray args = l["args"].toArray();
        QCOMPARE(args.size(), 11);
        QCOMPARE(args[1].toObject()["type"].toString(), QString("int16"));
        QCOMPARE(args[6].toObject()["type"].toString(), QString("int16"));
        QCOMPARE(args[10].toObject()["value"].toString(), QString("127.0.0.1"));
        const QJsonObject& c = lines[0];
        QCOMPARE(c["args"].toArray()[3].toObject()["type"].toString(), QString("int32"));
        QCOMPARE(c["reply"].toObject()["value"].toBool(), true);
    }

    // No kind, the first not boolean, a kind that is no text, too short.
    void malformedCallsFail()
    {
        for (const com::Args& shape : std::vector<com::Args>{
                 {false, com::msg(1), com::msg(2)}, {"x", com::msg(1), "D"}, {false, com::msg(1), true}, {false}})
            QVERIFY_THROWS_EXCEPTION(com::ComError, parseMessageCall(shape));
    }

    void fileUtility_data()
    {
        const auto row = columns<QString, QString, QString>(); // the line, its extension and target
        row("absolute target", "get a.txt /in/b.csv", "csv", "/in/b.csv");
        row("relative target", "GET a.txt in/b.dat", "dat", "/app/in/b.dat");
        row("no target: remote's name", "get /out/x/report.pdf", "pdf", "/app/report.pdf");
        row("no extension", "get a.txt /in/README", "", "/in/README");
        row("quoted with blanks", "get \"my file.txt\" \"/in/my copy.txt\"", "txt", "/in/my copy.txt");
        row("data set name", "get 'PROD.PAY.DATA'", "DATA", "/app/PROD.PAY.DATA");
        row("dot in folder only", "get a /in.d/file", "", "/in.d/file");
        row("hidden-style name", "get a /in/.profile", "", "/in/.profile");
        row("extra blanks", "get   a.txt    /in/b.txt  ", "txt", "/in/b.txt");
        row("command only", "get", "", "");
    }
    void fileUtility()
    {
        const auto [line, ext, target] = fetch<QString, QString, QString>();
        FileUtility util("/app");
        std::string l = line.toStdString();
        QCOMPARE(QString::fromStdString(util.GetExtension(l)), ext);
        QCOMPARE(QString::fromStdString(util.GetTargetFNP(l)), target);
        QCOMPARE(QString::fromStdString(l), line); // by reference, not changed
    }

    void eventStructFieldsByName()
    {
        EventStruct e;
        e.SetField("baevent", std::string("E0001"));
        QCOMPARE(e.text("BAEvent"), std::string("E0001"));
        QCOMPARE(e.Field("BARUNDAY").kind(), com::Variant::Kind::Int16);
        QVERIFY_THROWS_EXCEPTION(com::ComError, e.Field("BAFLAG3"));
        QVERIFY_THROWS_EXCEPTION(com::ComError, e.SetField("Nope", std::string()));
    }

    void eventStore()
    {
        QTemporaryDir dir;
        EventStore store;
        const mode_t mask = ::umask(022);
        QVERIFY2(store.open(dir.path().toStdString()), store.lastError().c_str());
        ::umask(mask);
        QCOMPARE(zul::test::fileMode(dir.filePath("host.db")), 0600); // it holds the Fast Path passwords
        // Ids, fields and deletion through qorvhost are checked in tst_qorvhost and tst_events_window.
        EventRecord r;
        r.id = "E0001", r.runDay = 7;
        QVERIFY(store.put(r));
        auto ev = toEventStruct(*store.find("E0001"));
        QCOMPARE(ev->Field("BARUNDAY").asInt16(), std::int16_t{7});
        QCOMPARE(fromEventStruct(*ev).runDay, 7);
        QVERIFY(store.remove("E0001") && !store.remove("E0001"));
    }

    void databaseFileIsTheOwnersAlone()
    {
        add(*m_db, {"US", "bob", "secret"});
        QCOMPARE(zul::test::fileMode(m_dir->filePath("host.db")), 0600);

        // A host.db that the events store made first is tightened too.
        QTemporaryDir other;
        const QString loose = other.filePath("host.db");
        QVERIFY(test::writeBytes(loose, QByteArray()));
        QVERIFY(
            QFile::setPermissions(loose, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(ZembDB::open(other.path().toStdString()));
        QCOMPARE(zul::test::fileMode(loose), 0600);

        // Never through a link: SQLite would create the file where it points, readable by all.
        QTemporaryDir linked;
        QVERIFY(QFile::link(linked.filePath("elsewhere.db"), linked.filePath("host.db")));
        std::string why;
        QVERIFY(!ZembDB::open(linked.path().toStdString(), &why));
        QVERIFY2(why.find("symbolic link") != std::string::npos, why.c_str());
        QVERIFY(!QFile::exists(linked.filePath("elsewhere.db")));
    }

    void seekMatchesEmptyOrOmittedKeys_data()
    {
        const auto row = columns<QString, QString, QString, QString>(); // code or two null: omitted
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
        const auto [code, one, two, found] = fetch<QString, QString, QString, QString>();
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
        m_db->closeConnection();
        QCOMPARE(errorNumber([&] { m_db->RecordCount("FastZUL"); }), static_cast<int>(0x80010108u));
        QCOMPARE(errorNumber([&] { m_db->AddRecord("FastZUL"); }), static_cast<int>(0x80010108u));
        QCOMPARE(errorNumber([&] { m_db->SeekByAllPKeys("FastZUL", "IP", "1.2.3.4", "0"); }),
                 static_cast<int>(0x80010108u));
    }

    void hostRegistersTheComponent()
    {
        host::Host host(m_dir->path().toStdString(), nullptr);
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

QTEST_GUILESS_MAIN(HostComponentsTest)
#include "tst_host_components.moc"
