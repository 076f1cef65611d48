#include "host/EventStore.h"
#include "host/EventStruct.h"
#include "host/FileUtility.h"
#include "host/MessageService.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace zul;
using namespace zul::host;

namespace {
class AnsweringPresenter : public MessagePresenter {
public:
    void display(const QString& text) override { shown << text; }
    bool confirm(const QString& title, const QString& text) override
    {
        asked << title + "|" + text;
        return answer;
    }
    QStringList shown, asked;
    bool answer = true;
};
} // namespace

class HostComponentsTest : public QObject {
    Q_OBJECT
private slots:
    void messageShapes()
    {
        QTemporaryDir dir;
        const QString log = dir.filePath("messages.jsonl");
        auto presenter = std::make_shared<AnsweringPresenter>();
        MessageService svc(log, presenter);

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

        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // four entries and the final line end
        const QJsonObject l = QJsonDocument::fromJson(lines[3]).object();
        QCOMPARE(l["kind"].toString(), QString("L"));
        QCOMPARE(l["numbers"].toArray(), QJsonArray({4124, 4125}));
        const QJsonArray args = l["args"].toArray();
        QCOMPARE(args.size(), 11);
        QCOMPARE(args[1].toObject()["type"].toString(), QString("int16"));
        QCOMPARE(args[6].toObject()["type"].toString(), QString("int16"));
        QCOMPARE(args[10].toObject()["value"].toString(), QString("127.0.0.1"));
        const QJsonObject c = QJsonDocument::fromJson(lines[0]).object();
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
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("target");
        QTest::newRow("absolute target") << "get a.txt /in/b.csv" << "csv" << "/in/b.csv";
        QTest::newRow("relative target") << "GET a.txt in/b.dat" << "dat" << "/app/in/b.dat";
        QTest::newRow("no target: remote's name") << "get /out/x/report.pdf" << "pdf" << "/app/report.pdf";
        QTest::newRow("no extension") << "get a.txt /in/README" << "" << "/in/README";
        QTest::newRow("quoted with blanks") << "get \"my file.txt\" \"/in/my copy.txt\"" << "txt"
                                            << "/in/my copy.txt";
        QTest::newRow("data set name") << "get 'PROD.PAY.DATA'" << "DATA" << "/app/PROD.PAY.DATA";
        QTest::newRow("dot in folder only") << "get a /in.d/file" << "" << "/in.d/file";
        QTest::newRow("hidden-style name") << "get a /in/.profile" << "" << "/in/.profile";
        QTest::newRow("extra blanks") << "get   a.txt    /in/b.txt  " << "txt" << "/in/b.txt";
        QTest::newRow("command only") << "get" << "" << "";
    }
    void fileUtility()
    {
        QFETCH(QString, line);
        QFETCH(QString, ext);
        QFETCH(QString, target);
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
        QVERIFY2(store.open(dir.path()), qPrintable(store.lastError()));
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath("host.db")).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600); // it holds the Fast Path passwords
        QCOMPARE(store.allocateId(), QString("E0001"));
        EventRecord r;
        r.id = "E0001", r.entity = "PAYROLL", r.runDay = 7, r.flag2 = "1";
        QVERIFY(store.put(r));
        QCOMPARE(store.allocateId(), QString("E0002"));
        const auto back = store.find("E0001");
        QVERIFY(back);
        QCOMPARE(back->entity, QString("PAYROLL"));
        QCOMPARE(back->flag2, QString("1"));

        auto ev = toEventStruct(*back);
        QCOMPARE(ev->Field("BARUNDAY").asInt16(), std::int16_t{7});
        QCOMPARE(fromEventStruct(*ev).runDay, 7);

        QVERIFY(store.remove("E0001"));
        QVERIFY(!store.remove("E0001"));
        QVERIFY(!store.find("E0001"));
    }
};

QTEST_GUILESS_MAIN(HostComponentsTest)
#include "tst_host_components.moc"
