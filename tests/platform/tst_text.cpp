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

    void instrIsOneBased_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("hay");
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<int>("pos");
        QTest::newRow("first char") << 1 << QByteArray("open x") << QByteArray("open") << 1;
        QTest::newRow("from 5 finds blank at 5") << 5 << QByteArray("get a.txt b") << QByteArray(" ") << 10;
        QTest::newRow("leading blank: blank at 5") << 5 << QByteArray(" get a b") << QByteArray(" ") << 5;
        QTest::newRow("none") << 1 << QByteArray("abc") << QByteArray("x") << 0;
        QTest::newRow("start past end") << 9 << QByteArray("abc") << QByteArray("c") << 0;
        QTest::newRow("start just past end, empty needle") << 4 << QByteArray("abc") << QByteArray("") << 4;
        QTest::newRow("start 0 means 1") << 0 << QByteArray("abc") << QByteArray("a") << 1;
    }
    void instrIsOneBased()
    {
        QFETCH(int, start);
        QFETCH(QByteArray, hay);
        QFETCH(QByteArray, needle);
        QFETCH(int, pos);
        QCOMPARE(int(instr(std::size_t(start), hay.toStdString(), needle.toStdString())), pos);
    }

    void midLeftUpper()
    {
        QCOMPARE(mid("**E000101=&/x&", 3, 7), std::string("E000101"));
        QCOMPARE(mid("abc", 4), std::string());
        QCOMPARE(mid("abc", 2), std::string("bc"));
        QCOMPARE(left("abc", 9), std::string("abc"));
        QCOMPARE(upper("get\xe9x"), std::string("GET\xe9X")); // code-page letters stay as they are
    }

    void fitAndDigits()
    {
        QCOMPARE(fitLeft("RZ", 4), std::string("RZ  "));
        QCOMPARE(fitLeft("abcdef", 3), std::string("abc"));
        QCOMPARE(twoDigits(1), std::string("01"));
        QCOMPARE(twoDigits(99), std::string("99"));
        QCOMPARE(twoDigits(100), std::string("100"));
    }
};

QTEST_GUILESS_MAIN(TextTest)
#include "tst_text.moc"
