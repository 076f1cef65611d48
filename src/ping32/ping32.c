#define _GNU_SOURCE
#include "ping32.h"
#include "address.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum {
    DATA_MAX = 65000,    /* fits one IPv4 or IPv6 datagram */
    TIMEOUT_MAX = 60000, /* a caller's mistake must not hang the host for long */
    ADDRESSES_MAX = 8
};

#define ICMP_ECHO_REQUEST 8
#define ICMP_ECHO_REPLY 0
#define ICMP6_ECHO_REQUEST_TYPE 128
#define ICMP6_ECHO_REPLY_TYPE 129

static atomic_uint g_sequence;

static int ends_with_invalid_domain(const char* host, size_t len)
{
    /* Names under "invalid" never resolve; answer without asking anyone. */
    static const char suffix[] = "invalid";
    const size_t n = sizeof suffix - 1;
    if (len > 0 && host[len - 1] == '.')
        --len;
    if (len < n || strncasecmp(host + len - n, suffix, n) != 0)
        return 0;
    return len == n || host[len - n - 1] == '.';
}

static long long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static int remaining_ms(long long deadline)
{
    const long long left = deadline - now_ms();
    return left > 0 ? (int)left : 0;
}

static uint16_t checksum(const unsigned char* data, size_t len)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2)
        sum += (uint32_t)(data[i] << 8 | data[i + 1]);
    if (len & 1)
        sum += (uint32_t)(data[len - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return (uint16_t)~sum;
}

static int same_host(const struct sockaddr_storage* from, const struct sockaddr* target)
{
    if (from->ss_family != target->sa_family)
        return 0;
    if (target->sa_family == AF_INET)
        return ((const struct sockaddr_in*)from)->sin_addr.s_addr ==
               ((const struct sockaddr_in*)target)->sin_addr.s_addr;
    return memcmp(&((const struct sockaddr_in6*)from)->sin6_addr, &((const struct sockaddr_in6*)target)->sin6_addr,
                  sizeof(struct in6_addr)) == 0;
}

/* One echo request through a raw or a datagram ICMP socket. Returns
 * PING32_NO_METHOD when the socket may not be opened. */
static int echo(const struct sockaddr* target, socklen_t target_len, int raw, int size, long long deadline)
{
    const int v4 = target->sa_family == AF_INET;
    const int fd =
        socket(target->sa_family, (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, v4 ? IPPROTO_ICMP : IPPROTO_ICMPV6);
    if (fd < 0)
        return PING32_NO_METHOD;

    const size_t len = 8 + (size_t)size;
    const size_t in_cap = len + 128; /* room for an IPv4 header with options */
    unsigned char* out = malloc(len);
    unsigned char* in = malloc(in_cap);
    if (!out || !in) {
        free(out);
        free(in);
        close(fd);
        return PING32_NO_MEMORY;
    }

    /* The id is ours only on raw sockets (the kernel picks it on datagram
     * ones), so a cookie in the data tells our replies apart as well. */
    const unsigned seq = atomic_fetch_add(&g_sequence, 1u);
    const uint16_t id = (uint16_t)(getpid() ^ (seq >> 16));
    const uint32_t cookie = (uint32_t)now_ms() ^ ((uint32_t)getpid() << 16) ^ seq;
    memset(out, 0, len);
    out[0] = v4 ? ICMP_ECHO_REQUEST : ICMP6_ECHO_REQUEST_TYPE;
    out[4] = (unsigned char)(id >> 8);
    out[5] = (unsigned char)id;
    out[6] = (unsigned char)(seq >> 8);
    out[7] = (unsigned char)seq;
    for (size_t i = 8; i < len; ++i)
        out[i] = (unsigned char)('A' + (i - 8) % 26);
    if (size >= 4)
        memcpy(out + 8, &cookie, 4);
    if (v4) {
        /* The kernel fills the ICMPv6 checksum itself, not the ICMPv4 one. */
        const uint16_t sum = checksum(out, len);
        out[2] = (unsigned char)(sum >> 8);
        out[3] = (unsigned char)sum;
    }

    int result = PING32_NO_ANSWER;
    ssize_t sent;
    do
        sent = sendto(fd, out, len, 0, target, target_len);
    while (sent < 0 && errno == EINTR);

    while (sent == (ssize_t)len) {
        struct pollfd pfd = {fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, remaining_ms(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        struct sockaddr_storage from;
        socklen_t from_len = sizeof from;
        const ssize_t got = recvfrom(fd, in, in_cap, 0, (struct sockaddr*)&from, &from_len);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;
        }
        size_t offset = 0;
        if (v4 && raw) {
            /* Raw IPv4 sockets see the IP header too. */
            if (got < 20)
                continue;
            offset = (size_t)(in[0] & 0x0f) * 4;
        }
        if ((size_t)got < offset + 8)
            continue;
        const unsigned char* icmp = in + offset;
        const size_t icmp_len = (size_t)got - offset;
        const int reply_type = v4 ? ICMP_ECHO_REPLY : ICMP6_ECHO_REPLY_TYPE;
        if (icmp[0] != reply_type || icmp[1] != 0 || icmp[6] != out[6] || icmp[7] != out[7])
            continue;
        if (raw && (icmp[4] != out[4] || icmp[5] != out[5]))
            continue;
        if (size >= 4 && (icmp_len < 12 || memcmp(icmp + 8, &cookie, 4) != 0))
            continue;
        if (!same_host(&from, target))
            continue;
        result = PING32_ANSWERED;
        break;
    }
    free(out);
    free(in);
    close(fd);
    return result;
}

/* The last resort: a TCP connection to the partner's port (given, or its scheme's). */
static int connect_port(const struct sockaddr* target, socklen_t target_len, unsigned port, long long deadline)
{
    struct sockaddr_storage addr;
    memcpy(&addr, target, target_len);
    if (target->sa_family == AF_INET)
        ((struct sockaddr_in*)&addr)->sin_port = htons((uint16_t)port);
    else
        ((struct sockaddr_in6*)&addr)->sin6_port = htons((uint16_t)port);

    const int fd = socket(target->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return PING32_NO_METHOD;
    int result = PING32_NO_ANSWER;
    int rc;
    do
        rc = connect(fd, (const struct sockaddr*)&addr, target_len);
    while (rc < 0 && errno == EINTR);
    if (rc == 0) {
        result = PING32_ANSWERED;
    } else if (errno == EINPROGRESS) {
        struct pollfd pfd = {fd, POLLOUT, 0};
        int ready;
        do
            ready = poll(&pfd, 1, remaining_ms(deadline));
        while (ready < 0 && errno == EINTR);
        int err = 0;
        socklen_t err_len = sizeof err;
        if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) == 0 && err == 0)
            result = PING32_ANSWERED;
    }
    close(fd);
    return result;
}

/* An IPv4 address written as IPv6 ("::ffff:127.0.0.1") is asked over IPv4. */
static socklen_t unmap(const struct addrinfo* ai, struct sockaddr_storage* out)
{
    const struct sockaddr_in6* six = (const struct sockaddr_in6*)ai->ai_addr;
    if (ai->ai_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&six->sin6_addr)) {
        struct sockaddr_in four;
        memset(&four, 0, sizeof four);
        four.sin_family = AF_INET;
        memcpy(&four.sin_addr, &six->sin6_addr.s6_addr[12], 4);
        memcpy(out, &four, sizeof four);
        return sizeof four;
    }
    memcpy(out, ai->ai_addr, ai->ai_addrlen);
    return ai->ai_addrlen;
}

PING32_API int16_t ping(const char* address, char* buffer, int size, int32_t* reply, int timeout, int flags)
{
    if (!address)
        return PING32_BAD_ADDRESS;
    char host[PING32_HOST_MAX + 1];
    unsigned port = PING32_DEFAULT_PORT;
    if (ping32_parse_address(address, host, &port) != 0)
        return PING32_BAD_ADDRESS;
    if (ends_with_invalid_domain(host, strlen(host)))
        return PING32_UNKNOWN_HOST;

    if (size < 0)
        size = 0;
    if (size > DATA_MAX)
        size = DATA_MAX;
    if (timeout <= 0)
        timeout = 2000;
    if (timeout > TIMEOUT_MAX)
        timeout = TIMEOUT_MAX;
    const long long start = now_ms();
    const long long deadline = start + timeout;

    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; /* one entry per address */
    struct addrinfo* found = NULL;
    if (getaddrinfo(host, NULL, &hints, &found) != 0 || !found)
        return PING32_UNKNOWN_HOST;

    int result = PING32_NO_METHOD;
    int tried = 0;
    for (const struct addrinfo* ai = found; ai && tried < ADDRESSES_MAX && result != PING32_ANSWERED;
         ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
            continue;
        if (tried++ > 0 && remaining_ms(deadline) == 0)
            break;
        struct sockaddr_storage target;
        const socklen_t target_len = unmap(ai, &target);
        const struct sockaddr* to = (const struct sockaddr*)&target;

        int r = PING32_NO_METHOD;
        if (!(flags & PING32_NO_RAW))
            r = echo(to, target_len, 1, size, deadline);
        if (r == PING32_NO_METHOD && !(flags & PING32_NO_DATAGRAM))
            r = echo(to, target_len, 0, size, deadline);
        if (r == PING32_NO_METHOD && !(flags & PING32_NO_CONNECT))
            r = connect_port(to, target_len, port, deadline);
        if (r == PING32_ANSWERED || result == PING32_NO_METHOD)
            result = r;

        if (r == PING32_ANSWERED) {
            if (reply)
                *reply = (int32_t)(now_ms() - start);
            if (buffer) {
                char text[INET6_ADDRSTRLEN] = "";
                const void* raw_addr = to->sa_family == AF_INET
                                           ? (const void*)&((const struct sockaddr_in*)to)->sin_addr
                                           : (const void*)&((const struct sockaddr_in6*)to)->sin6_addr;
                inet_ntop(to->sa_family, raw_addr, text, sizeof text);
                /* The caller's buffer holds 16 bytes. */
                text[15] = '\0';
                memcpy(buffer, text, strlen(text) + 1);
            }
        }
    }
    freeaddrinfo(found);
    return (int16_t)result;
}
