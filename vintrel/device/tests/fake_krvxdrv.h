/*
 * What the fake driver library records of its last KRVXLearnIR() call; tests fetch it
 * with fakeKrvxLastLearn (looked up with dlsym, since vintrel loads the library itself).
 */
#ifndef VINTREL_FAKE_KRVXDRV_H
#define VINTREL_FAKE_KRVXDRV_H

#include <krvxdrv.h>

typedef struct FakeLearnCall {
    int32_t calls; /* KRVXLearnIR calls so far */
    int32_t handle;
    int32_t format;
    char *buffer;
    KRVXLearnCallback callback;
    void *userData;
    int32_t *abortWord;
    int32_t param1;
    int32_t reserved0;
    int32_t reserved1;
    unsigned char bytes[10]; /* buffer[0..9] as the call found them */
} FakeLearnCall;

typedef void (*FakeLastLearnFn)(FakeLearnCall *out);

#endif
