#include "com/HostComponents.h"
#include "com/Registry.h"
#include "support/Rows.h"

#include <QTest>

using namespace zul::com;

namespace {
class Dummy : public IFileUtility {
public:
    std::string GetExtension(std::string&) override { return "x"; }
    std::string GetTargetFNP(std::string&) override { return "y"; }
};
} // namespace

class ComTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { clearRegistry(); }

    void variantKeepsItsKind()
    {
        QCOMPARE(Variant(msg(3281)).kind(), Variant::Kind::Int16);
        QCOMPARE(Variant(std::int32_t{3281}).kind(), Variant::Kind::Int32);
        QVERIFY(!(Variant(msg(3281)) == Variant(std::int32_t{3281})) && !(Variant(true) == Variant(std::int16_t{-1})));
        QVERIFY(!(Variant("1") == Variant(std::int16_t{1})) && Variant("D") == Variant(std::string("D")));
        QCOMPARE(Variant(false).toText(), std::string("False"));
        QCOMPARE(Variant(std::int32_t{-7}).toText(), std::string("-7"));
        QCOMPARE(Variant().toText(), std::string());
    }

    void toInt16_data()
    {
        const auto row = zul::test::columns<Variant, bool, int>();
        row("text", Variant("12"), true, 12);
        row("blanks around", Variant("  7 "), true, 7);
        row("half to even down", Variant("2.5"), true, 2);
        row("half to even up", Variant("3.5"), true, 4);
        row("max", Variant("32767"), true, 32767);
        row("overflow", Variant("32768"), false, 0);
        row("min", Variant(std::int32_t{-32768}), true, -32768);
        row("int32 overflow", Variant(std::int32_t{40000}), false, 0);
        row("not a number", Variant("Mon"), false, 0);
        row("blank text", Variant("  "), false, 0);
        row("hex is not a number", Variant("0x10"), false, 0);
        row("true is -1", Variant(true), true, -1);
        row("empty is 0", Variant(), true, 0);
    }
    void toInt16()
    {
        auto [value, ok, result] = zul::test::fetch<Variant, bool, int>();
        const auto r = value.toInt16();
        QCOMPARE(r.has_value(), ok);
        if (ok)
            QCOMPARE(int(*r), result);
    }

    void registryCreatesByProgId()
    {
        int made = 0;
        registerClass(kFileUtilityProgId, [&] {
            ++made;
            return std::make_shared<Dummy>();
        });
        QVERIFY(isRegistered("qorvutil.fileutility"));
        auto a = CreateObjectAs<IFileUtility>("QORVUTIL.FILEUTILITY");
        auto b = CreateObjectAs<IFileUtility>(kFileUtilityProgId);
        QVERIFY(a && b && a != b);
        QCOMPARE(made, 2);
        // Failed creates give nothing.
        QVERIFY(!CreateObject("Not.Registered"));
        registerClass("Throws.Class", []() -> ObjectPtr { throw std::runtime_error("boom"); });
        QVERIFY(!CreateObject("Throws.Class"));
        registerClass(kErrorMessagesProgId, [] { return std::make_shared<Dummy>(); });
        // Registered, but not the interface asked for.
        QVERIFY(CreateObject(kErrorMessagesProgId) && !CreateObjectAs<IErrorMessages>(kErrorMessagesProgId));
        unregisterClass(kErrorMessagesProgId);
        QVERIFY(!isRegistered(kErrorMessagesProgId));
    }
};

QTEST_GUILESS_MAIN(ComTest)
#include "tst_com.moc"
