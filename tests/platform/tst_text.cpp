#include "platform/CodePage.h"
#include "platform/Text.h"

#include <QTest>

using namespace zul::platform;

class TextTest : public QObject {
    Q_OBJECT
private slots:
    void trimBlanksOnly_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("both ends") << QByteArray("  get a  ") << QByteArray("get a");
        QTest::newRow("tab stays") << QByteArray("\tget\t") << QByteArray("\tget\t");
        QTest::newRow("cr lf stay") << QByteArray(" x\r\n ") << QByteArray("x\r\n");
        QTest::newRow("inner blanks stay") << QByteArray("a   b") << QByteArray("a   b");
        QTest::newRow("only blanks") << QByteArray("     ") << QByteArray("");
        QTest::newRow("empty") << QByteArray("") << QByteArray("");
    }
    void trimBlanksOnly()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QCOMPARE(QByteArray::fromStdString(trim(in.toStdString())), out);
    }

    // Code-page letters above 127 stay; the allocation-free comparison agrees with upper(left(...)) ==.
    void upperLeavesCodePageLetters()
    {
        QCOMPARE(upper("get\xe9x"), std::string("GET\xe9X"));
        for (const std::string_view s : {"put a b", "PuT", "pu", "", "\xe9ut", "**e0001=&", "**E00"})
            for (const std::string_view word : {"PUT", "**E0001", "**E00", ""})
                for (const std::size_t len : {std::size_t(3), std::size_t(5), std::size_t(7)})
                    QCOMPARE(upperLeftEquals(s, len, word), upper(left(s, len)) == word);
    }

    void codePage_data()
    {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("roundTrip");
        QTest::newRow("ascii") << QByteArray("put a.txt b") << QByteArray("put a.txt b") << true;
        QTest::newRow("latin letters") << QByteArray("caf\xc3\xa9") << QByteArray("caf\xe9") << true;
        QTest::newRow("euro and quotes") << QByteArray("\xe2\x82\xac \xe2\x80\x9cx\xe2\x80\x9d")
                                         << QByteArray("\x80 \x93x\x94") << true;
        QTest::newRow("no-break space") << QByteArray("open\xc2\xa0\xc2\xa0h") << QByteArray("open\xa0\xa0h") << true;
        QTest::newRow("undefined byte") << QByteArray("\xc2\x81") << QByteArray("\x81") << true;
        QTest::newRow("outside the code page")
            << QByteArray("put \xe6\x96\x87.txt b") << QByteArray("put ?.txt b") << false;
        QTest::newRow("outside the basic plane: one ?")
            << QByteArray("a\xf0\x9f\x98\x80") + "b" << QByteArray("a?b") << false;
        QTest::newRow("not utf-8") << QByteArray("a\xff") + "b\xe6\x96" << QByteArray("a?b??") << false;
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80") << QByteArray("???") << false;
    }
    void codePage()
    {
        QFETCH(QByteArray, utf8);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, roundTrip);
        QCOMPARE(QByteArray::fromStdString(codePageFromUtf8(utf8.toStdString())), bytes);
        if (roundTrip)
            QCOMPARE(QByteArray::fromStdString(utf8FromCodePage(bytes.toStdString())), utf8);
    }

    void everyCodePageByteSurvivesAnEdit()
    {
        std::string all;
        for (int b = 0; b < 256; ++b)
            all += static_cast<char>(b);
        QCOMPARE(codePageFromUtf8(utf8FromCodePage(all)), all);
    }
};

QTEST_GUILESS_MAIN(TextTest)
#include "tst_text.moc"
