#pragma once

#include <stdint.h>

/* What the stand-in libping32.so saw in its latest call, and what it answers. */
struct FakePingState {
    int calls;
    char address[512];
    int16_t answer;
};

#ifdef __cplusplus
extern "C" {
#endif
typedef struct FakePingState* (*FakePingStateFunction)(void);
#ifdef __cplusplus
}
#endif
