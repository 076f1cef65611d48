#include "exec/Pinng.h"

#include "ExecTestSupport.h"
#include "platform/Yield.h"
#include "support/TempAppFolder.h"

#include <QtTest>

using namespace zul;
using Call = std::tuple<QByteArray, int, bool>;

class TestPinng : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempAppFolder> m_app;

    FakePingState* installFake(const char* lib = FAKE_PING_LIB) { return test::installFakePing(m_app->path(), lib); }

private slots:
    void init() { m_app = std::make_unique<test::TempAppFolder>(); }
    void cleanup()
    {
        platform::setYieldHook({});
        m_app.reset();
    }

    void callAndResult_data()
    {
        QTest::addColumn<Call>("row"); // address, the library's answer, the result
        QTest::newRow("0 answered") << Call{"10.1.2.3", 0, true};
        QTest::newRow("1, leading blank kept") << Call{" ftp.example.test", 1, false};
        QTest::newRow("-1, empty address") << Call{"", -1, false};
        QTest::newRow("largest") << Call{"10.1.2.3", 32767, false};
    }
    void callAndResult()
    {
        QFETCH(Call, row);
        const auto& [address, answer, expected] = row;
        FakePingState* fake = installFake();
        QVERIFY(fake);
        fake->answer = static_cast<std::int16_t>(answer);
        int yields = 0;
        platform::setYieldHook([&] { ++yields; });
        QCOMPARE(Pinng::PingPartner(address.toStdString()), expected);
        QCOMPARE(yields, 1);
        QCOMPARE(fake->calls, 1);
        QCOMPARE(QByteArray(fake->address), address);
    }

    void missingLibraryIsSilentPartner()
    {
        QVERIFY(!Pinng::PingPartner("127.0.0.1"));
        // Arriving later, it is loaded at the next call.
        QVERIFY(installFake());
        QVERIFY(Pinng::PingPartner("127.0.0.1"));
    }

    void libraryWithoutFunction()
    {
        QVERIFY(installFake(FAKE_NOPING_LIB));
        QVERIFY(!Pinng::PingPartner("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(TestPinng)
#include "tst_pinng.moc"
