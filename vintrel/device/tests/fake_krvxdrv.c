// SPDX-License-Identifier: MIT
/*
 * A fake driver library for vintrel's tests. Each call reads its behaviour from the
 * environment at the time of the call, so one test program can walk through many cases:
 *   FAKE_KRVX_LOG             file each call appends one line to ("KRVXOpen -> 7", ...)
 *   FAKE_KRVX_INFO_RESULT     result of KRVXGetDrvInfo (1)     FAKE_KRVX_INFO     value (256)
 *   FAKE_KRVX_VERSION_RESULT  result of KRVXGetDrvVersion (1)  FAKE_KRVX_VERSION  value (2700)
 *   FAKE_KRVX_OPEN            handle KRVXOpen returns (7)      FAKE_KRVX_OPEN_ERRNO errno (0)
 *   FAKE_KRVX_DEVINFO         "fw,prot,day,month,year" for KRVXGetKRVXInfo, or "fail"
 *   FAKE_KRVX_TRANSMIT_RESULT result of KRVXTransmitIR (1)
 *   FAKE_KRVX_LEARN_ERRNO     errno an own learn leaves (997, ERROR_IO_PENDING)
 *   FAKE_KRVX_FINISH_BURST    code a stopped own learn is finished with at the latest moment
 *                             a driver may still write it: just before the next learn call
 * KRVXConvertProntoCode accepts exactly the texts that start with "0000 ".
 * KRVXErrorText(code) gives "fake text for <code>".
 * fakeKrvxLastLearn() gives the arguments and buffer bytes 0..9 of the last KRVXLearnIR.
 * fakeKrvxSetTransmitHook() names a function KRVXTransmitIR calls while it "sends".
 * Built once more with FAKE_KRVX_NO_VERSION to lack KRVXGetDrvVersion, and with
 * FAKE_KRVX_NO_LEARN to lack KRVXLearnIR.
 */
#define KRVXDRV_BUILDING 1
#include <krvxdrv.h>

#include "fake_krvxdrv.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static long setting(const char *name, long fallback) {
    const char *value = getenv(name);
    if (value == NULL || *value == '\0') {
        return fallback;
    }
    return strtol(value, NULL, 0);
}

static void logLine(const char *format, ...) {
    const char *path = getenv("FAKE_KRVX_LOG");
    if (path == NULL || *path == '\0') {
        return;
    }
    FILE *file = fopen(path, "a");
    if (file == NULL) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

KRVXDRV_API int32_t KRVXGetDrvInfo(uint32_t *info) {
    logLine("KRVXGetDrvInfo");
    if (info != NULL) {
        *info = (uint32_t)setting("FAKE_KRVX_INFO", 256);
    }
    return (int32_t)setting("FAKE_KRVX_INFO_RESULT", 1);
}

#ifndef FAKE_KRVX_NO_VERSION
KRVXDRV_API int32_t KRVXGetDrvVersion(uint32_t *version) {
    logLine("KRVXGetDrvVersion");
    if (version != NULL) {
        *version = (uint32_t)setting("FAKE_KRVX_VERSION", 2700);
    }
    return (int32_t)setting("FAKE_KRVX_VERSION_RESULT", 1);
}
#endif

KRVXDRV_API int32_t KRVXOpen(void) {
    const int32_t handle = (int32_t)setting("FAKE_KRVX_OPEN", 7);
    logLine("KRVXOpen -> %d", (int)handle);
    errno = (int)setting("FAKE_KRVX_OPEN_ERRNO", 0);
    return handle;
}

KRVXDRV_API int32_t KRVXClose(int32_t handle) {
    logLine("KRVXClose %d", (int)handle);
    return 1;
}

KRVXDRV_API int32_t KRVXGetKRVXInfo(int32_t handle, DeviceInfo *info) {
    logLine("KRVXGetKRVXInfo %d", (int)handle);
    const char *value = getenv("FAKE_KRVX_DEVINFO");
    if (value != NULL && strcmp(value, "fail") == 0) {
        errno = ERR_COMM_FAILED;
        return 0;
    }
    unsigned fw = 258, prot = 259, day = 15, month = 6, year = 4;
    if (value != NULL) {
        sscanf(value, "%u,%u,%u,%u,%u", &fw, &prot, &day, &month, &year);
    }
    if (info != NULL) {
        info->firmwareVersion = fw;
        info->protocolVersion = prot;
        info->firmwareDateDay = (uint8_t)day;
        info->firmwareDateMonth = (uint8_t)month;
        info->firmwareDateYear = (uint8_t)year;
    }
    return 1;
}

typedef void (*FakeTransmitHook)(void);
static FakeTransmitHook g_transmitHook;

KRVXDRV_API void fakeKrvxSetTransmitHook(FakeTransmitHook hook) {
    g_transmitHook = hook;
}

KRVXDRV_API int32_t KRVXTransmitIR(int32_t handle, const char *code, int32_t format,
                                   int32_t repeatCount, int32_t inactivityWaitTime,
                                   void *completionEvent, void *reserved0, void *reserved1) {
    (void)inactivityWaitTime;
    (void)completionEvent;
    (void)reserved0;
    (void)reserved1;
    logLine("KRVXTransmitIR %d %s %d %d", (int)handle, code != NULL ? code : "(null)", (int)format,
            (int)repeatCount);
    if (g_transmitHook != NULL) {
        g_transmitHook();
    }
    const int32_t result = (int32_t)setting("FAKE_KRVX_TRANSMIT_RESULT", 1);
    if (result == 0) {
        errno = ERR_TRANSMIT_FAILED;
    }
    return result;
}

static FakeLearnCall g_lastLearn;
/* The driver's state as the fake models it. */
static char *g_ownBuffer; /* the own learn no later call has ended yet, or NULL */
static int32_t *g_ownAbort;

KRVXDRV_API void fakeKrvxLastLearn(FakeLearnCall *out) {
    if (out != NULL) {
        *out = g_lastLearn;
    }
}

KRVXDRV_API int32_t fakeKrvxFinishBurst(const char *code) {
    if (g_ownBuffer == NULL || code == NULL ||
        __atomic_load_n(g_ownAbort, __ATOMIC_ACQUIRE) != -1) {
        return 0;
    }
    const size_t n = strnlen(code, KRVX_LEARN_BUFFER_SIZE - 1);
    memcpy(g_ownBuffer, code, n);
    g_ownBuffer[n] = '\0';
    int32_t seen = -1;
    __atomic_compare_exchange_n(g_ownAbort, &seen, 0, 0, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
    return 1;
}

#ifndef FAKE_KRVX_NO_LEARN
static int32_t g_hooked;

KRVXDRV_API int32_t KRVXLearnIR(int32_t handle, int32_t format, char *buffer,
                                KRVXLearnCallback callback, void *userData, int32_t *abortWord,
                                int32_t param1, int32_t reserved0, int32_t reserved1) {
    const char *burst = getenv("FAKE_KRVX_FINISH_BURST");
    if (burst != NULL && *burst != '\0') {
        (void)fakeKrvxFinishBurst(burst);
    }
    g_ownBuffer = NULL; /* every call ends the earlier own learn */
    g_ownAbort = NULL;
    const int32_t calls = g_lastLearn.calls + 1;
    memset(&g_lastLearn, 0, sizeof g_lastLearn);
    g_lastLearn.calls = calls;
    g_lastLearn.handle = handle;
    g_lastLearn.format = format;
    g_lastLearn.buffer = buffer;
    g_lastLearn.callback = callback;
    g_lastLearn.userData = userData;
    g_lastLearn.abortWord = abortWord;
    g_lastLearn.param1 = param1;
    g_lastLearn.reserved0 = reserved0;
    g_lastLearn.reserved1 = reserved1;
    char word[10] = {0};
    if (buffer != NULL) {
        memcpy(g_lastLearn.bytes, buffer, sizeof g_lastLearn.bytes);
        memcpy(word, buffer, 9);
    }
    logLine("KRVXLearnIR %d %d %s", (int)handle, (int)format, word);
    if (strcmp(word, HOOK_COMMAND) == 0 || strcmp(word, UNHOOK_COMMAND) == 0) {
        g_hooked = strcmp(word, HOOK_COMMAND) == 0;
        errno = 0;
    } else {
        g_ownBuffer = buffer;
        g_ownAbort = abortWord;
        errno = (int)setting("FAKE_KRVX_LEARN_ERRNO", ERROR_IO_PENDING);
    }
    g_lastLearn.hooked = g_hooked;
    return 1;
}
#endif

KRVXDRV_API int32_t KRVXSetReceiveCallback(int32_t handle, KRVXReceiveCallback callback,
                                           void *userData) {
    (void)userData;
    logLine("KRVXSetReceiveCallback %d %s", (int)handle, callback != NULL ? "set" : "null");
    return 1;
}

KRVXDRV_API int32_t KRVXConvertProntoCode(const char *code, char *out, int32_t *outValue,
                                          int32_t reserved0, int32_t reserved1) {
    (void)reserved0;
    (void)reserved1;
    const int valid = code != NULL && strncmp(code, "0000 ", 5) == 0;
    logLine("KRVXConvertProntoCode %s -> %d", code != NULL ? code : "(null)", valid);
    if (out != NULL) {
        out[0] = '\0';
    }
    if (outValue != NULL) {
        *outValue = 0;
    }
    return valid;
}

KRVXDRV_API const char *KRVXErrorText(int32_t code) {
    static char text[64];
    snprintf(text, sizeof text, "fake text for %ld", (long)code);
    return text;
}
