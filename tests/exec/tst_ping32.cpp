#include "ping32.h"
#include "support/Rows.h"

#include <QtTest>
#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
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

// A TCP socket bound to a loopback address, listening or not; port 0 on failure.
struct Listener {
    int fd = -1;
    int port = 0;

    Listener(const char* host, bool listening)
    {
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* ai = nullptr;
        if (::getaddrinfo(host, "0", &hints, &ai) != 0)
            return;
        fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 addr{}; // sin_port and sin6_port share their place
        socklen_t len = sizeof addr;
        if (fd >= 0 && ::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && (!listening || ::listen(fd, 4) == 0) &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin6_port);
        ::freeaddrinfo(ai);
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
    // Address reading is held against the script language's in tst_openaddress; these rows are about the answers.
    void answers_data()
    {
        // address, flags, expected, answered by (empty: not checked)
        const auto row = zul::test::columns<QByteArray, int, int, QByteArray>();
        const int answered = PING32_ANSWERED, bad = PING32_BAD_ADDRESS, unknown = PING32_UNKNOWN_HOST;
        row("IPv4", "127.0.0.1", 0, answered, "127.0.0.1");
        row("IPv6", "::1", 0, answered, "::1");
        row("IPv4 written as IPv6", "::ffff:127.0.0.1", 0, answered, "127.0.0.1");
        row("name", "localhost", 0, answered, {});
        row("no way left", "127.0.0.1", PING32_NO_RAW | PING32_NO_DATAGRAM | PING32_NO_CONNECT, PING32_NO_METHOD, {});
        row("empty", "", 0, bad, {});
        row("blanks only", " \t ", 0, bad, {});
        row("unresolvable", "no-such-host.invalid", 0, unknown, {});
        row("unresolvable, root dot", "NO-SUCH.INVALID.", 0, unknown, {});
        row("shell text", "127.0.0.1;reboot", 0, bad, {});
        row("control bytes", "\x01\x7f\xff\xfe", 0, bad, {});
        row("very long", QByteArray(100000, 'a'), 0, bad, {});
        row("scheme and host", "sftp://127.0.0.1", 0, answered, "127.0.0.1");
        row("very long port", "127.0.0.1 " + QByteArray(5000, '9'), 0, bad, {});
    }
    void answers()
    {
        const auto [address, flags, expected, answeredBy] = zul::test::fetch<QByteArray, int, int, QByteArray>();
        char buffer[] = "                ";
        std::int32_t reply = -7;
        QCOMPARE(int(ping(address.constData(), buffer, 32, &reply, 2000, flags)), expected);
        if (expected == PING32_ANSWERED) {
            QVERIFY(reply >= 0);
            if (!answeredBy.isEmpty())
                QCOMPARE(QByteArray(buffer), answeredBy);
            for (int size : {0, 33, 8000, -5}) // echo data of any size, or none
                QCOMPARE(int(callPing(address, flags, size)), expected);
        } else {
            QCOMPARE(QByteArray(buffer), QByteArray(16, ' ')); // nothing written on a refusal
            QCOMPARE(reply, -7);
        }
        // Without a buffer or a reply field.
        QCOMPARE(int(ping(expected == PING32_BAD_ADDRESS ? nullptr : address.constData(), nullptr, 32, nullptr, 2000,
                          flags)),
                 expected);
    }

    void eachWay_data()
    {
        const auto row = zul::test::columns<int, int, QByteArray>(); // family, socket type, address
        row("raw IPv4", AF_INET, SOCK_RAW, "127.0.0.1");
        row("raw IPv6", AF_INET6, SOCK_RAW, "::1");
        row("datagram IPv4", AF_INET, SOCK_DGRAM, "127.0.0.1");
        row("datagram IPv6", AF_INET6, SOCK_DGRAM, "::1");
    }
    void eachWay()
    {
        const auto [family, type, address] = zul::test::fetch<int, int, QByteArray>();
        if (!socketPermitted(family, type))
            QSKIP("this way of asking is not permitted here");
        const int only = type == SOCK_RAW ? PING32_NO_DATAGRAM | PING32_NO_CONNECT : PING32_NO_RAW | PING32_NO_CONNECT;
        QCOMPARE(int(callPing(address, only)), int(PING32_ANSWERED));
    }

    // The address as an open line gives it; %1 is the host, %2 the port of the listener.
    void connectionCountsAsAnswer_data()
    {
        const auto row = zul::test::columns<QByteArray, QString>();
        row("IPv4", QByteArray("127.0.0.1"), "%1 %2");
        row("IPv6", QByteArray("::1"), "%1 %2");
        row("explicit TLS, port word", QByteArray("127.0.0.1"), "ftpes://%1 %2");
        row("SFTP, IPv6 with port", QByteArray("::1"), "sftp://[%1]:%2");
    }
    void connectionCountsAsAnswer()
    {
        const auto [host, form] = zul::test::fetch<QByteArray, QString>();
        const int tcpOnly = PING32_NO_RAW | PING32_NO_DATAGRAM;
        for (bool listening : {true, false}) { // bound, not listening: refused
            Listener server(host.constData(), listening);
            QVERIFY(server.port > 0);
            const QByteArray address = form.arg(QString::fromLatin1(host)).arg(server.port).toLatin1();
            QCOMPARE(int(callPing(address, tcpOnly)), int(listening ? PING32_ANSWERED : PING32_NO_ANSWER));
        }
    }
};

QTEST_GUILESS_MAIN(TestPing32)
#include "tst_ping32.moc"
