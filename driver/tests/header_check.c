// SPDX-License-Identifier: MIT
/* Compiled as C11: the public header must be valid C and keep its record layout. */
#include <stddef.h>

#include "krvxdrv.h"

_Static_assert(sizeof(DeviceInfo) == 12, "DeviceInfo size");
_Static_assert(offsetof(DeviceInfo, firmwareVersion) == 0, "firmwareVersion offset");
_Static_assert(offsetof(DeviceInfo, protocolVersion) == 4, "protocolVersion offset");
_Static_assert(offsetof(DeviceInfo, firmwareDateDay) == 8, "firmwareDateDay offset");
_Static_assert(offsetof(DeviceInfo, firmwareDateMonth) == 9, "firmwareDateMonth offset");
_Static_assert(offsetof(DeviceInfo, firmwareDateYear) == 10, "firmwareDateYear offset");
_Static_assert(sizeof(HOOK_COMMAND) == 10 && sizeof(UNHOOK_COMMAND) == 10, "command words");
/* The frame record on the 64-bit targets we build for: four u32, then five pointers. */
_Static_assert(sizeof(void *) != 8 || sizeof(KRVXReceivedFrame) == 56, "KRVXReceivedFrame size");
_Static_assert(offsetof(KRVXReceivedFrame, structSize) == 0, "structSize offset");
_Static_assert(offsetof(KRVXReceivedFrame, kernelScancode) == 4, "kernelScancode offset");
_Static_assert(offsetof(KRVXReceivedFrame, carrierHz) == 8, "carrierHz offset");
_Static_assert(offsetof(KRVXReceivedFrame, durationCount) == 12, "durationCount offset");
_Static_assert(offsetof(KRVXReceivedFrame, code) == 16, "code offset");
_Static_assert(sizeof(void *) != 8 || offsetof(KRVXReceivedFrame, durationsUs) == 48,
               "durationsUs offset");

/* Called from the C++ test so that the object is linked and its view of the API checked. */
int krvx_header_check_c(void) {
    KRVXLearnCallback learn = NULL;
    KRVXReceiveCallback receive = NULL;
    int32_t (*open_fn)(void) = KRVXOpen;
    (void)learn;
    (void)receive;
    (void)open_fn;
    return (int)sizeof(DeviceInfo) + FMT_PRONTO + KRVX_LEARN_BUFFER_SIZE;
}
