#pragma once

/* Shared with FakePing.c: C, so stdint.h, typedef and (void). */
/* NOLINTBEGIN(modernize-deprecated-headers,modernize-use-using,modernize-redundant-void-arg) */
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
/* NOLINTEND(modernize-deprecated-headers,modernize-use-using,modernize-redundant-void-arg) */
