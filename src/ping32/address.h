#pragma once

/* How the library reads the address it is asked about. Kept apart from the
 * socket code so that a test can hold it against the script language's reading. */

#ifdef __cplusplus
extern "C" {
#endif

enum {
    PING32_HOST_MAX = 253, /* longest host name the resolver accepts */
    PING32_DEFAULT_PORT = 21
};

/* Splits "[SCHEME://]host[:port] [port]" with blanks (also CR and LF) around.
 * host receives up to PING32_HOST_MAX characters and a NUL. Returns 0 on success. */
int ping32_parse_address(const char* text, char* host, unsigned* port);

#ifdef __cplusplus
}
#endif
