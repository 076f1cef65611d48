/* A stand-in for libping32.so that records its arguments. Built once with
 * ping and once without it, for a library that lacks the function. */
#include "FakePing.h"

#include <string.h>

#define FAKE_API __attribute__((visibility("default")))

static struct FakePingState g_state;

FAKE_API struct FakePingState* fake_ping_state(void)
{
    return &g_state;
}

#ifndef FAKE_PING_WITHOUT_PING
FAKE_API int16_t ping(const char* address, char* buffer, int size, int32_t* reply, int timeout, int flags)
{
    ++g_state.calls;
    g_state.addressWasNull = address == NULL;
    if (address)
        strncpy(g_state.address, address, sizeof g_state.address - 1);
    if (buffer)
        strncpy(g_state.buffer, buffer, sizeof g_state.buffer - 1);
    g_state.size = size;
    g_state.reply = reply ? *reply : -12345;
    g_state.timeout = timeout;
    g_state.flags = flags;
    return g_state.answer;
}
#endif
