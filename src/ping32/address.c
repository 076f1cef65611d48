#include "address.h"

#include <string.h>
#include <strings.h>

static int is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* A character that can appear in a host name or a numeric address (with an
 * IPv6 scope). Anything else is rejected before the resolver sees it, so odd
 * text never turns into a name server query. */
static int is_host_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == ':' || c == '%';
}

/* The schemes an open line may name, with the port each listens on by default. */
static const struct {
    const char* name;
    unsigned port;
} SCHEMES[] = {{"ftp", 21}, {"ftpes", 21}, {"ftps", 990}, {"sftp", 22}};

static int parse_port(const char** p, unsigned* port)
{
    unsigned value = 0;
    int digits = 0;
    while (**p >= '0' && **p <= '9' && digits < 5) {
        value = value * 10 + (unsigned)(**p - '0');
        ++digits;
        ++*p;
    }
    if (digits == 0 || value == 0 || value > 65535)
        return -1;
    *port = value;
    return 0;
}

int ping32_parse_address(const char* text, char* host, unsigned* port)
{
    const char* p = text;
    while (*p && is_blank(*p))
        ++p;
    *port = PING32_DEFAULT_PORT;
    const char* sep = strstr(p, "://");
    const char* word_end = p;
    while (*word_end && !is_blank(*word_end))
        ++word_end;
    if (sep && sep >= word_end)
        sep = NULL; /* "://" in a later word names no scheme */
    if (sep) {
        const size_t n = (size_t)(sep - p);
        size_t i = 0;
        while (i < sizeof SCHEMES / sizeof SCHEMES[0] &&
               (strlen(SCHEMES[i].name) != n || strncasecmp(SCHEMES[i].name, p, n) != 0))
            ++i;
        if (i == sizeof SCHEMES / sizeof SCHEMES[0])
            return -1;
        *port = SCHEMES[i].port;
        p = sep + 3;
    }
    const char* h = p;
    while (*p && !is_blank(*p))
        ++p;
    size_t len = (size_t)(p - h);
    if (len > 0 && h[len - 1] == '/' && sep)
        --len;
    int url_port = 0;
    if (len >= 2 && h[0] == '[') {
        const char* close = memchr(h, ']', len);
        if (!close)
            return -1;
        if ((size_t)(close - h) + 1 < len) {
            const char* q = close + 1;
            if (*q != ':')
                return -1;
            ++q;
            if (parse_port(&q, port) != 0 || q != h + len)
                return -1;
            url_port = 1;
        }
        len = (size_t)(close - h) - 1;
        ++h;
    } else {
        /* A single colon separates the port, as in a URL; a bare IPv6 address has several. */
        const char* colon = memchr(h, ':', len);
        if (colon && !memchr(colon + 1, ':', len - (size_t)(colon + 1 - h))) {
            const char* q = colon + 1;
            if (parse_port(&q, port) != 0 || q != h + len)
                return -1;
            url_port = 1;
            len = (size_t)(colon - h);
        }
    }
    if (len == 0 || len > PING32_HOST_MAX)
        return -1;
    for (size_t i = 0; i < len; ++i)
        if (!is_host_char(h[i]))
            return -1;
    memcpy(host, h, len);
    host[len] = '\0';

    while (*p && is_blank(*p))
        ++p;
    if (*p) {
        if (url_port || parse_port(&p, port) != 0 || (*p && !is_blank(*p)))
            return -1;
        while (*p && is_blank(*p))
            ++p;
        if (*p)
            return -1;
    }
    return 0;
}
