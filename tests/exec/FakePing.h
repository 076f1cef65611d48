#pragma once

#include <stdint.h>

/* What the stand-in libping32.so saw in its latest call, and what it answers. */
struct FakePingState {
    int calls;
    int addressWasNull;
    char address[512];
    char buffer[64];
    int size;
    int32_t reply;
    int timeout;
    int flags;
    int16_t answer;
};

#ifdef __cplusplus
extern "C" {
#endif
typedef struct FakePingState* (*FakePingStateFunction)(void);
#ifdef __cplusplus
}
#endif
