#include "ping32.h"

#include <QtTest>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool socketPermitted(int family, int type)
{
    const int fd = ::socket(family, type, family == AF_INET ? int(IPPROTO_ICMP) : int(IPPROTO_ICMPV6));
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// A TCP listener on a loopback address; port 0 until it listens.
struct Listener {
    int fd = -1;
    int port = 0;

    explicit Listener(int family, bool listening = true)
    {
        fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage addr{};
        socklen_t len = 0;
        if (family == AF_INET) {
            auto* a = reinterpret_cast<sockaddr_in*>(&addr);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            len = sizeof *a;
        }
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0)
            return;
        if (listening && ::listen(fd, 4) != 0)
            return;
        socklen_t got = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &got);
        port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&addr)->sin_port
                                       : reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    }
    ~Listener()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::int16_t callPing(const QByteArray& address, int flags = 0, int size = 32)
{
    char buffer[] = "                ";
    std::int32_t reply = 0;
    return ping(address.constData(), buffer, size, &reply, 2000, flags);
}

} // namespace

class TestPing32 : public QObject {
    Q_OBJECT

private slots:
    void loopbackAnswers_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("answeredBy");
        QTest::newRow("IPv4") << QByteArray("127.0.0.1") << QByteArray("127.0.0.1");
        QTest::newRow("IPv6") << QByteArray("::1") << QByteArray("::1");
        QTest::newRow("blanks around") << QByteArray("  127.0.0.1 \t") << QByteArray("127.0.0.1");
        QTest::newRow("with a port") << QByteArray(" 127.0.0.1 2121 ") << QByteArray("127.0.0.1");
        QTest::newRow("bracketed IPv6") << QByteArray("[::1]") << QByteArray("::1");
        QTest::newRow("IPv4 written as IPv6") << QByteArray("::ffff:127.0.0.1") << QByteArray("127.0.0.1");
        QTest::newRow("name") << QByteArray("localhost") << QByteArray();
    }
    void loopbackAnswers()
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, answeredBy);
        char buffer[] = "                ";
        std::int32_t reply = -1;
        QCOMPARE(ping(address.constData(), buffer, 32, &reply, 2000, 0), std::int16_t{PING32_ANSWERED});
        QVERIFY(reply >= 0);
        if (!answeredBy.isEmpty())
            QCOMPARE(QByteArray(buffer), answeredBy);
    }

    void refusedWithoutCrash_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << QByteArray("") << int(PING32_BAD_ADDRESS);
        QTest::newRow("blanks only") << QByteArray(" \t ") << int(PING32_BAD_ADDRESS);
        QTest::newRow("unresolvable") << QByteArray("no-such-host.invalid") << int(PING32_UNKNOWN_HOST);
        QTest::newRow("unresolvable, root dot") << QByteArray("NO-SUCH.INVALID.") << int(PING32_UNKNOWN_HOST);
        QTest::newRow("port not a number") << QByteArray("127.0.0.1 ftp") << int(PING32_BAD_ADDRESS);
        QTest::newRow("port 0") << QByteArray("127.0.0.1 0") << int(PING32_BAD_ADDRESS);
        QTest::newRow("port too big") << QByteArray("127.0.0.1 65536") << int(PING32_BAD_ADDRESS);
        QTest::newRow("third word") << QByteArray("127.0.0.1 21 x") << int(PING32_BAD_ADDRESS);
        QTest::newRow("shell text") << QByteArray("127.0.0.1;reboot") << int(PING32_BAD_ADDRESS);
        QTest::newRow("open bracket") << QByteArray("[::1") << int(PING32_BAD_ADDRESS);
        QTest::newRow("control bytes") << QByteArray("\x01\x7f\xff\xfe") << int(PING32_BAD_ADDRESS);
        QTest::newRow("very long") << QByteArray(100000, 'a') << int(PING32_BAD_ADDRESS);
        QTest::newRow("very long port") << QByteArray("127.0.0.1 ") + QByteArray(5000, '9') << int(PING32_BAD_ADDRESS);
    }
    void refusedWithoutCrash()
    {
        QFETCH(QByteArray, address);
        QFETCH(int, expected);
        char buffer[] = "                ";
        std::int32_t reply = 7;
        QCOMPARE(int(ping(address.constData(), buffer, 32, &reply, 2000, 0)), expected);
        QCOMPARE(QByteArray(buffer), QByteArray("                "));
        QCOMPARE(reply, 7);
    }

    void nullArguments()
    {
        QCOMPARE(int(ping(nullptr, nullptr, 32, nullptr, 2000, 0)), int(PING32_BAD_ADDRESS));
        QCOMPARE(int(ping("127.0.0.1", nullptr, 32, nullptr, 2000, 0)), int(PING32_ANSWERED));
    }

    void echoSizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("no data") << 0;
        QTest::newRow("odd") << 33;
        QTest::newRow("large") << 8000;
        QTest::newRow("negative") << -5;
    }
    void echoSizes()
    {
        QFETCH(int, size);
        QCOMPARE(int(callPing("127.0.0.1", 0, size)), int(PING32_ANSWERED));
        QCOMPARE(int(callPing("::1", 0, size)), int(PING32_ANSWERED));
    }

    void eachWay_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("address");
        QTest::newRow("raw IPv4") << AF_INET << int(SOCK_RAW) << QByteArray("127.0.0.1");
        QTest::newRow("raw IPv6") << AF_INET6 << int(SOCK_RAW) << QByteArray("::1");
        QTest::newRow("datagram IPv4") << AF_INET << int(SOCK_DGRAM) << QByteArray("127.0.0.1");
        QTest::newRow("datagram IPv6") << AF_INET6 << int(SOCK_DGRAM) << QByteArray("::1");
    }
    void eachWay()
    {
        QFETCH(int, family);
        QFETCH(int, type);
        QFETCH(QByteArray, address);
        if (!socketPermitted(family, type))
            QSKIP("this way of asking is not permitted here");
        const int only = type == SOCK_RAW ? PING32_NO_DATAGRAM | PING32_NO_CONNECT : PING32_NO_RAW | PING32_NO_CONNECT;
        QCOMPARE(int(callPing(address, only)), int(PING32_ANSWERED));
    }

    void connectionCountsAsAnswer_data()
    {
        QTest::addColumn<int>("family");
        QTest::addColumn<QByteArray>("host");
        QTest::newRow("IPv4") << AF_INET << QByteArray("127.0.0.1");
        QTest::newRow("IPv6") << AF_INET6 << QByteArray("::1");
    }
    void connectionCountsAsAnswer()
    {
        QFETCH(int, family);
        QFETCH(QByteArray, host);
        const int tcpOnly = PING32_NO_RAW | PING32_NO_DATAGRAM;
        {
            Listener server(family);
            QVERIFY(server.port > 0);
            QCOMPARE(int(callPing(host + ' ' + QByteArray::number(server.port), tcpOnly)), int(PING32_ANSWERED));
        }
        Listener closed(family, false); // bound, not listening: refused
        QVERIFY(closed.port > 0);
        QCOMPARE(int(callPing(host + ' ' + QByteArray::number(closed.port), tcpOnly)), int(PING32_NO_ANSWER));
    }

    void noWayLeft()
    {
        QCOMPARE(int(callPing("127.0.0.1", PING32_NO_RAW | PING32_NO_DATAGRAM | PING32_NO_CONNECT)),
                 int(PING32_NO_METHOD));
    }
};

QTEST_GUILESS_MAIN(TestPing32)
#include "tst_ping32.moc"
