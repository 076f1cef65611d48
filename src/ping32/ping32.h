#pragma once

#include <stdint.h> /* NOLINT(modernize-deprecated-headers): C callers include this header too */

#ifdef __cplusplus
extern "C" {
#endif

#define PING32_API __attribute__((visibility("default")))

/* Results of ping: 0 means the partner answered. */
enum {
    PING32_ANSWERED = 0,
    PING32_BAD_ADDRESS = 1,  /* NULL, empty or malformed address text */
    PING32_UNKNOWN_HOST = 2, /* the name does not resolve */
    PING32_NO_ANSWER = 3,    /* nothing came back within the timeout */
    PING32_NO_METHOD = 4,    /* no way of asking was permitted */
    PING32_NO_MEMORY = 5
};

/* Bits of flags; 0 tries every way in turn. */
enum {
    PING32_NO_RAW = 1,      /* skip the raw ICMP socket */
    PING32_NO_DATAGRAM = 2, /* skip the unprivileged ICMP datagram socket */
    PING32_NO_CONNECT = 4   /* skip the TCP connection to the FTP port */
};

/*
 * Asks whether the partner answers. address: a host name or a numeric
 * address, optionally followed by a blank and a port ("host 2121"), blanks
 * around it allowed. An ICMP echo request with size bytes of data is sent
 * through a raw socket, or else an ICMP datagram socket; when neither may be
 * opened, a TCP connection to the port (21 unless given) counts as an answer.
 * Waits up to timeout milliseconds (2000 when not positive).
 * On an answer, reply receives the round trip in milliseconds and buffer
 * (16 bytes) the numeric address that answered, cut to 15 characters; both
 * may be NULL.
 */
PING32_API int16_t ping(const char* address, char* buffer, int size, int32_t* reply, int timeout, int flags);

#ifdef __cplusplus
}
#endif
