// SPDX-License-Identifier: MIT
/*
 * What the fake driver library records of its last KRVXLearnIR() call; tests fetch it
 * with fakeKrvxLastLearn (looked up with dlsym, since vintrel loads the library itself),
 * and its model of the driver: whether the hook is registered, and an own learn that no
 * later call has ended yet (fakeKrvxFinishBurst).
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
    int32_t hooked;          /* the fake's hook is registered after the call */
} FakeLearnCall;

typedef void (*FakeLastLearnFn)(FakeLearnCall *out);
/* Finishes the own learn no later call has ended yet with `code`, as the driver does after
 * its abort word said -1 with a burst captured: the code goes into its buffer and the word
 * goes back to 0 from that -1. Does nothing when there is no such learn or its word is not
 * -1. Returns non-zero when it finished one. */
typedef int32_t (*FakeFinishBurstFn)(const char *code);

#endif
