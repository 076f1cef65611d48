/* A stand-in for libping32.so that records the address it was asked about.
 * Built once with ping and once without it, for a library that lacks the function. */
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
    (void)buffer, (void)size, (void)reply, (void)timeout, (void)flags;
    ++g_state.calls;
    if (address)
        strncpy(g_state.address, address, sizeof g_state.address - 1);
    return g_state.answer;
}
#endif
