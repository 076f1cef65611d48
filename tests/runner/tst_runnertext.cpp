// Text that reaches the runner from outside: server names, commands, replies, netrc files, settings.
#include "platform/Text.h"
#include "runner/Checksum.h"
#include "runner/LocalFiles.h"
#include "runner/Masking.h"
#include "runner/Netrc.h"
#include "runner/SafeName.h"
#include "runner/Script.h"
#include "runner/Settings.h"
#include "runner/SftpSession.h"

#include <QTemporaryFile>
#include <QTest>

using namespace zul::runner;

namespace {
const char* const kKey = "AAAAC3NzaC1lZDI1NTE5AAAAIGv3+Qmd5aCpM0T0gE0o7yA4l9X1JQOEsPqKk0B2fxMe";

// A name as "ssh-keygen -H" writes it: HMAC-SHA1 under the salt "0123456789abcdefghij".
const char* const kHashedNoPort = "|1|MDEyMzQ1Njc4OWFiY2RlZmdoaWo=|P3NuU2vwRAeUmJ41UlgmewUXwQs=";
} // namespace

class RunnerTextTest : public QObject {
    Q_OBJECT

private slots:
    // Names that the hostile server's listing tries end to end are rows of tst_hostile.
    void safeNames_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("local"); // empty: skipped
        QTest::newRow("dots inside a name stay") << QByteArray("a..b.txt") << QByteArray("a..b.txt");
        QTest::newRow("hidden name stays") << QByteArray(".profile") << QByteArray(".profile");
        QTest::newRow("code-page byte stays") << QByteArray("caf\xe9.txt") << QByteArray("caf\xe9.txt");
        QTest::newRow("dot dot after a folder") << QByteArray("a\\..") << QByteArray();
        QTest::newRow("empty") << QByteArray("") << QByteArray();
        QTest::newRow("carriage return") << QByteArray("a\r.txt") << QByteArray();
        QTest::newRow("delete byte") << QByteArray("a\x7f") << QByteArray();
        QTest::newRow("UTF-8 letter stays") << QByteArray("caf\xc3\xa9.txt") << QByteArray("caf\xc3\xa9.txt");
        QTest::newRow("too long") << QByteArray(256, 'n') << QByteArray();
        QTest::newRow("just long enough") << QByteArray(255, 'n') << QByteArray(255, 'n');
    }
    void safeNames()
    {
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, local);
        std::string why;
        const auto got = safeLocalName(server.toStdString(), &why);
        QCOMPARE(QByteArray::fromStdString(got.value_or("")), local);
        QCOMPARE(why.empty(), got.has_value());
    }

    // Masking in the transcript itself is checked by tst_runner and tst_hostile; here the edges.
    void masking_data()
    {
        QTest::addColumn<int>("kind"); // 0 command sent, 1 text that may echo one, 2 script line
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("acct") << 0 << QByteArray("acct a b") << QByteArray("acct ****");
        QTest::newRow("quote's ignore-failure star") << 0 << QByteArray("*PASS pw") << QByteArray("*PASS ****");
        QTest::newRow("other command") << 0 << QByteArray("PASV") << QByteArray("PASV");
        QTest::newRow("echo in a reply") << 1 << QByteArray("500 'Pass pw12': unknown")
                                         << QByteArray("500 'Pass ****': unknown");
        QTest::newRow("echo in a message") << 1 << QByteArray("line 4: acct x1: QUOT command failed")
                                           << QByteArray("line 4: acct **** QUOT command failed");
        QTest::newRow("masked already") << 1 << QByteArray("line 4: ACCT ****: QUOT command failed")
                                        << QByteArray("line 4: ACCT ****: QUOT command failed");
        QTest::newRow("password as a word stays") << 1 << QByteArray("the password for zul comes from /n")
                                                  << QByteArray("the password for zul comes from /n");
        QTest::newRow("bypass is no PASS") << 1 << QByteArray("bypass x") << QByteArray("bypass x");
        QTest::newRow("quote other") << 2 << QByteArray("quote SITE x") << QByteArray("quote SITE x");
    }
    void masking()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, written);
        const std::string t = text.toStdString();
        const std::string got = kind == 0 ? maskCommand(t) : kind == 1 ? maskEchoedCommands(t) : maskLine(t);
        QCOMPARE(QByteArray::fromStdString(got), written);
    }

    void controlBytesAreEscaped_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("C0, DEL, NUL; tab kept") << QByteArray("a\x1b[31mb\x07\tc\x7f\0", 12) << QByteArray("\t")
                                               << QByteArray("a\\x1B[31mb\\x07\tc\\x7F\\x00");
        QTest::newRow("tab and newline escaped too") << QByteArray("a\tb\nc\r") << QByteArray()
                                                     << QByteArray("a\\x09b\\x0Ac\\x0D");
        QTest::newRow("newline kept") << QByteArray("a\nb\r\n") << QByteArray("\t\n") << QByteArray("a\nb\\x0D\n");
        QTest::newRow("C1 in UTF-8: CSI, OSC")
            << QByteArray("x\xc2\x9b") + "2J\xc2\x9d" + "0;t" << QByteArray("\t") << QByteArray("x\\u009B2J\\u009D0;t");
        QTest::newRow("latin-1 byte is not UTF-8") << QByteArray("caf\xe9") << QByteArray() << QByteArray("caf\\xE9");
        QTest::newRow("UTF-8 stays") << QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80") << QByteArray()
                                     << QByteArray("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
        QTest::newRow("overlong and surrogate") << QByteArray("\xc0\xaf\xed\xa0\x80") << QByteArray()
                                                << QByteArray("\\xC0\\xAF\\xED\\xA0\\x80");
        QTest::newRow("cut sequence") << QByteArray("a\xe2\x82") << QByteArray() << QByteArray("a\\xE2\\x82");
        QTest::newRow("raw C1 byte") << QByteArray("x\x9b") + "2J" << QByteArray() << QByteArray("x\\x9B2J");
    }
    void controlBytesAreEscaped()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, escaped);
        const std::string out = zul::platform::escapeControls(text.toStdString(), kept.toStdString());
        QCOMPARE(QByteArray::fromStdString(out), escaped);
    }

    // Before escaping, in any letter case, split by control bytes, whatever the length.
    void secretsAreMaskedAsEchoed_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("masked");
        QTest::newRow("as given") << QByteArray("530 bad Pw-Secret1") << QByteArray("530 bad ****");
        QTest::newRow("upper-cased") << QByteArray("530 bad PW-SECRET1!") << QByteArray("530 bad ****!");
        QTest::newRow("split by NUL and ESC") << QByteArray("530 Pw-S\0ecr\x1b", 13) + "et1" << QByteArray("530 ****");
        QTest::newRow("split by a C1 control") << QByteArray("pw-se\xc2\x9b") + "cret1" << QByteArray("****");
        QTest::newRow("short one") << QByteArray("echo: Q7, q7") << QByteArray("echo: ****, ****");
        QTest::newRow("nothing to mask") << QByteArray("230 Welcome") << QByteArray("230 Welcome");
    }
    void secretsAreMaskedAsEchoed()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, masked);
        QCOMPARE(QByteArray::fromStdString(maskSecrets(text.toStdString(), {"Pw-Secret1", "q7"})), masked);
    }

    // Local hashes as the partners' commands give them, compared as servers really write them.
    void hashes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("algorithm");
        QTest::addColumn<QString>("sent"); // as a server might send it
        QTest::addColumn<bool>("same");
        QTest::newRow("SHA-256, upper case") << QByteArray("abc") << "SHA-256"
                                             << "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"
                                             << true;
        QTest::newRow("SHA-1") << QByteArray("abc") << "SHA-1" << "a9993e364706816aba3e25717850c26c9cd0d89d" << true;
        QTest::newRow("MD5, one digit off") << QByteArray("abc") << "MD5" << "900150983cd24fb0d6963f7d28e17f73"
                                            << false;
        QTest::newRow("CRC32") << QByteArray("123456789") << "CRC32" << "CBF43926" << true;
        QTest::newRow("CRC32 without its leading zeros") << QByteArray("x31") << "CRC32" << "1685F0" << true;
        QTest::newRow("CRC32 of nothing") << QByteArray() << "CRC32" << "0" << true;
    }
    void hashes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, algorithm);
        QFETCH(QString, sent);
        QFETCH(bool, same);
        QTemporaryFile f;
        QVERIFY(f.open());
        f.write(content);
        f.flush();
        const std::string ours = zul::runner::fileHash(f.handle(), algorithm.toStdString());
        QVERIFY(!ours.empty());
        QCOMPARE(zul::runner::sameHash(ours, sent.toStdString()), same);
        QVERIFY(!zul::runner::sameHash(ours, ""));
    }

    void partFileNames()
    {
        const std::string p = partFilePrefix(std::string(255, 'n'));
        QCOMPARE(p.size(), std::size_t(26));
        QVERIFY(p.starts_with(".zulpart-") && p.ends_with("-"));
        for (char c : p.substr(9, 16))
            QVERIFY((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        QCOMPARE(partFilePrefix("a.txt"), partFilePrefix("a.txt"));
        QVERIFY(partFilePrefix("a.txt") != partFilePrefix("b.txt"));
        QVERIFY(isPartFileName(p + "AbC123") && isPartFileName(".a.txt.part-AbC123") && !isPartFileName("a.txt"));
    }

    // known_hosts as OpenSSH reads it; the plain cases (port, change, revocation, hashing) are tst_secure's runs.
    void knownHosts_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("verdict");
        const QByteArray key = QByteArray(kKey);
        const auto row = [](const char* tag, const QByteArray& file, int port, KnownHost v) {
            QTest::newRow(tag) << file << port << int(v);
        };
        row("no port, port 22", "127.0.0.1 ssh-ed25519 " + key + "\n", 22, KnownHost::Known);
        row("revoked for all hosts", "@revoked * ssh-ed25519 " + key + "\n", 21222, KnownHost::Revoked);
        row("pattern list, wildcard", "other,[127.0.0.*]:21222 ssh-ed25519 " + key + "\n", 21222, KnownHost::Known);
        row("negated", "[127.0.0.*]:21222,![127.0.0.1]:21222 ssh-ed25519 " + key + "\n", 21222, KnownHost::Unknown);
        row("hashed, no port", QByteArray(kHashedNoPort) + " ssh-ed25519 " + key + "\n", 21222, KnownHost::Unknown);
        row("cert authority trusts no plain key", "@cert-authority * ssh-ed25519 " + key + "\n", 21222,
            KnownHost::Unknown);
        row("comments, blanks, CR LF", "# x\r\n\r\n  [127.0.0.1]:21222\tssh-ed25519 " + key + " c\r\n", 21222,
            KnownHost::Known);
    }
    void knownHosts()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, port);
        QFETCH(int, verdict);
        const QByteArray blob = QByteArray::fromBase64(kKey);
        QCOMPARE(int(lookUpKnownHost(file.toStdString(), "127.0.0.1", port,
                                     reinterpret_cast<const unsigned char*>(blob.constData()), std::size_t(blob.size()))),
                 verdict);
    }

    void netrc_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("password"); // empty: none
        const QByteArray two = "machine a.example login zul password one\nmachine b.example login zul password two\n";
        const auto row = [](const char* tag, const QByteArray& text, const char* host, const char* password) {
            QTest::newRow(tag) << text << QByteArray(host) << QByteArray(password);
        };
        row("first machine", two, "a.example", "one");
        row("second machine, other case", two, "B.Example", "two");
        row("no entry", two, "c.example", "");
        row("default after machines", two + "default login zul password dflt", "c.example", "dflt");
        row("machine wins over an earlier default", "default login zul password dflt\n" + two, "b.example", "two");
        row("other login skipped", "machine h login bob password b\nmachine h login zul password z\n", "h", "z");
        row("entry without login", "machine h password any", "h", "any");
        row("one line, tabs, account", "machine\th\tlogin zul\taccount acc password pw", "h", "pw");
        row("quoted password", "machine h login zul password \"a b\\\"c\"", "h", "a b\"c");
        row("macdef body skipped",
            "macdef init\nmachine h login zul password fake\n\nmachine h login zul password real\n", "h", "real");
        row("password named macdef", "machine h login zul password macdef\n", "h", "macdef");
        row("comment line", "# machine h login zul password c\nmachine h login zul password p", "h", "p");
        row("truncated entry", "machine h login zul password", "h", "");
        row("password that begins with #", "machine h login zul password #Xy9", "h", "#Xy9");
    }
    void netrc()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, password);
        const auto got = netrcFind(text.toStdString(), host.toStdString(), "zul");
        QCOMPARE(QByteArray::fromStdString(got.value_or("")), password);
    }
};

QTEST_GUILESS_MAIN(RunnerTextTest)
#include "tst_runnertext.moc"
