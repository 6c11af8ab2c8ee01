// SPDX-License-Identifier: MIT
/*
 * krvxdrv.h - C API of the Korvex IR transceiver driver library (libkrvxdrv.so.1).
 *
 * Overview
 *   The library reaches the device through the device service krvxd over a Unix socket
 *   (KRVX_SOCKET, else $XDG_RUNTIME_DIR/krvxd.sock, else /tmp/krvxd-<uid>/krvxd.sock, in a
 *   folder private to the user). It talks only to a service that runs as the same user as
 *   the process or as root. Each successful KRVXOpen() is a client of its own with its own
 *   connection: two handles in one process behave like two applications. Handles are
 *   positive numbers.
 *
 * Deadlines
 *   Every call that waits for krvxd gives up after 2 s without an answer (a send: 2 s
 *   beyond the end of its air time that the service announced) and fails with
 *   ERR_COMM_FAILED. Such a timeout also ends the handle's connection, so that the request
 *   cannot be carried out later when the service wakes up: every later call on the handle
 *   fails with ERR_COMM_FAILED until it is closed and the device opened again.
 *
 * Threads
 *   Every function may be called from any thread; calls on one handle are serialised by
 *   the library. Callbacks run on a thread owned by the library (one per handle), never
 *   on the caller's thread, and must return quickly: they hold up every later event of
 *   their handle. A callback may not call KRVXClose() on its own handle.
 *
 * Last-error value
 *   The thread's last-error value is errno. A function documents what it sets errno to;
 *   functions that do not mention errno leave it unspecified. KRVXErrorText() gives a
 *   sentence for each value, naming the socket, the user or the limit involved where the
 *   thread's last failure knew them.
 *
 * Memory the library keeps
 *   KRVXLearnIR() keeps the buffer and abort-word addresses it is given until the learn
 *   (or hook) ends, is superseded by a later learn call on the same handle, or the handle
 *   is closed. The caller keeps that memory valid and at the same address until then.
 *   Abort words are aligned int32_t that the application writes with release stores
 *   (C11 atomic_store_explicit / C++20 std::atomic_ref) and the library reads with acquire
 *   loads, at least every 10 ms while a learn or hook is active and never otherwise.
 *
 * Repeat count
 *   KRVXTransmitIR(..., repeatCount N, ...) sends the once part of the code and then its
 *   repeat part N times; a code without a repeat part is sent N times (its once part).
 *   N = 0 is taken as 1. N is at most 1000, and one send takes at most 120 s on air.
 */
#ifndef KRVXDRV_H
#define KRVXDRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KRVXDRV_BUILDING)
#define KRVXDRV_API __attribute__((visibility("default")))
#else
#define KRVXDRV_API
#endif

/* ---- Constants ------------------------------------------------------------------------ */

/** Interface info value reported by KRVXGetDrvInfo(). */
#define KRVX_DRV_INFO 256u
/** Library version reported by KRVXGetDrvVersion(): major*1000 + minor*100 + patch*10. */
#define KRVX_DRV_VERSION 2700u

/** Code formats. FMT_PRONTO: Pronto hex text. FMT_UNHOOK: the format of the unhook call. */
#define FMT_PRONTO 16
#define FMT_UNHOOK 5

/** Size of every learn buffer handed to KRVXLearnIR(): 2048 characters and a 0 byte. */
#define KRVX_LEARN_BUFFER_SIZE 2049
/** Length of a receive code (without its 0 byte). */
#define KRVX_RECEIVE_CODE_LENGTH 12

/**
 * Hook command words: 9 ASCII characters, written to bytes 0..8 of the learn buffer with
 * a 0 in byte 9 before a KRVXLearnIR() call with FMT_PRONTO (hook) or FMT_UNHOOK (unhook).
 */
#define HOOK_COMMAND "KRVX+HOOK"
#define UNHOOK_COMMAND "KRVX-HOOK"

/** Special progress values passed to a learn callback. */
#define LEARN_PROGRESS_BEGIN 0x4000 /* hooked: another client began a learn */
#define LEARN_PROGRESS_END 0x4001   /* hooked: that learn ended; its code is in the buffer */
#define LEARN_PROGRESS_DONE 255     /* own learn: the code is in the buffer */

/**
 * Negative progress values end an own learn without a code; the value says why.
 * Byte 0 of the buffer is 0 when one of these is reported.
 */
#define LEARN_FAIL_NOTHING_SEEN (-1)   /* no IR arrived before the learn timeout */
#define LEARN_FAIL_NOISE (-2)          /* IR arrived, but no frame looked like a remote's */
#define LEARN_FAIL_PARTIAL (-3)        /* a burst started but too few consistent frames */
#define LEARN_FAIL_CARRIER (-4)        /* the measured carrier is outside 20..500 kHz */
#define LEARN_FAIL_DEVICE_LOST (-5)    /* the device stopped answering or was unplugged */
#define LEARN_FAIL_SERVICE_GONE (-6)   /* the connection to krvxd was lost */
#define LEARN_FAIL_CANCELLED (-7)      /* aborted (-1) with nothing usable captured */
#define LEARN_FAIL_ANSWERED_EMPTY (-8) /* a hook accepted the burst, but nothing was captured */
#define LEARN_FAIL_CANNOT_LEARN                             \
    (-9) /* the device cannot learn (no raw receiver, or it \
            refused the settings a learn needs) */

/** Longest learn KRVXLearnIR() may ask for (param1), in milliseconds: ten minutes. */
#define KRVX_MAX_LEARN_TIMEOUT_MS 600000

/** How the code of an own learn came about (KRVXLearnedCodeOrigin()). */
#define KRVX_CODE_LEARNED 0        /* the device learned it */
#define KRVX_CODE_INJECTED 1       /* a hooked application answered with its code */
#define KRVX_CODE_BURST_ACCEPTED 2 /* a hooked application accepted the burst so far */

/** How a learned code was built (KRVXLearnReport.shape). */
#define KRVX_SHAPE_UNSAID 0   /* not said: no code, an injected code, or an older service */
#define KRVX_SHAPE_SNAPPED 1  /* its frames decoded alike: the protocol's own encoding */
#define KRVX_SHAPE_AVERAGED 2 /* its frames match no protocol: their average, cleaned */

/** Size of KRVXLearnReport.decode, with its 0 byte. */
#define KRVX_DECODE_TEXT_SIZE 128

/** Last-error values (errno) set by the library. */
#define ERROR_IO_PENDING 997             /* KRVXLearnIR(): the learn goes on in the background */
#define ERR_DEVICE_NOT_FOUND 0x20000001  /* service up, but it has no device */
#define ERR_COMM_FAILED 0x20000002       /* device or service stopped answering */
#define ERR_DRIVER_NOT_FOUND 0x20000003  /* service not reachable */
#define ERR_FIRMWARE_MISMATCH 0x20000004 /* protocol or firmware version not served */
#define ERR_LEARN_BUSY 0x20000005        /* another client's learn is running on the device */
#define ERR_INVALID_CODE 0x20000006      /* the code text is not a valid code of its format */
#define ERR_INVALID_HANDLE 0x20000007    /* the handle is not open */
#define ERR_TRANSMIT_FAILED 0x20000008   /* the device refused or failed the send */
#define ERR_NOT_SUPPORTED 0x20000009     /* the device cannot do this (e.g. receive-only) */
#define ERR_INVALID_ARGUMENT 0x2000000A  /* a null pointer, an unknown format, out of range */
#define ERR_SERVICE_BUSY 0x2000000B      /* krvxd serves as many clients or presses as it may */

/* ---- Types ---------------------------------------------------------------------------- */

/** Device information record: 12 bytes, little-endian. */
typedef struct DeviceInfo {
    uint32_t firmwareVersion; /* major = value / 256, minor = value % 256 */
    uint32_t protocolVersion; /* major = value / 256, minor = value % 256 */
    uint8_t firmwareDateDay;
    uint8_t firmwareDateMonth;
    uint8_t firmwareDateYear; /* years after 2000 */
    uint8_t reserved;
} DeviceInfo;

#ifdef __cplusplus
static_assert(sizeof(DeviceInfo) == 12, "DeviceInfo is 12 bytes");
#else
_Static_assert(sizeof(DeviceInfo) == 12, "DeviceInfo is 12 bytes");
#endif

/**
 * The richer report of an own learn (KRVXGetLearnReport()): how its code came about, how
 * it was built, and what it decodes as when it was snapped to a protocol.
 */
typedef struct KRVXLearnReport {
    int32_t origin;                     /* KRVX_CODE_* (as KRVXLearnedCodeOrigin()) */
    int32_t shape;                      /* KRVX_SHAPE_* */
    char decode[KRVX_DECODE_TEXT_SIZE]; /* SNAPPED: "NEC1 D=4 F=8", 0-ended; else "" */
} KRVXLearnReport;

#ifdef __cplusplus
static_assert(sizeof(KRVXLearnReport) == 136, "KRVXLearnReport is 136 bytes");
#else
_Static_assert(sizeof(KRVXLearnReport) == 136, "KRVXLearnReport is 136 bytes");
#endif

/**
 * Learn callback. Runs on the library's thread of the handle that made the learn call.
 * progress: 0..100 while an own learn runs; LEARN_PROGRESS_DONE when the code is in the
 * buffer; a negative LEARN_FAIL_* when it ended without one. While hooked: BEGIN when
 * another client's learn starts, that learn's progress reports, END when it ended.
 * sigQuality: 0..100. carrierHz: the measured carrier, 0 while none is known.
 * Reports of one learn arrive in order; END/DONE/failure is the last report of a learn
 * and arrives once. userData is the pointer given to KRVXLearnIR().
 * When the connection to krvxd is lost (the service ended, or it left a request of a
 * running learn unanswered for 2 s), an own learn and a hook each get
 * LEARN_FAIL_SERVICE_GONE once with buffer[0] = 0 (a hook whether or not it was seeing a
 * learn at that moment); the hook is then no longer registered.
 * A hook whose answer the service refuses (an injected text that is not a valid code) is
 * told so by one more progress report that repeats the last values it got for that learn
 * (0, 0, 0 when there were none), after its abort word went back to 0 (see KRVXLearnIR()).
 */
typedef void (*KRVXLearnCallback)(int32_t progress, int32_t sigQuality, int32_t carrierHz,
                                  void *userData);

/**
 * Receive callback. Runs on the library's thread of the handle. codeText points to the
 * received code: 12 characters, NUL-terminated and padded with zero bytes to at least 16
 * bytes; the memory is valid only while the callback runs.
 */
typedef void (*KRVXReceiveCallback)(const char *codeText, void *userData);

/**
 * Extension: a received frame and what it is, for KRVXSetReceiveFrameCallback(). Every
 * pointer is valid, and every text NUL-terminated, only while the callback runs; copy what
 * is kept. Fields may be added at the end in later versions: structSize says how many
 * bytes this one has.
 */
typedef struct KRVXReceivedFrame {
    uint32_t structSize;        /* sizeof(KRVXReceivedFrame) of the library */
    uint32_t kernelScancode;    /* the kernel's scancode; 0 when kernelProtocol is "" */
    uint32_t carrierHz;         /* the frame's measured carrier; 0 when not measured */
    uint32_t durationCount;     /* durations at durationsUs (at most 512; longer are cut) */
    const char *code;           /* the 12-character code the receive callback gets */
    const char *protocol;       /* "NEC1", "RC5", ...; "" when no known protocol fits */
    const char *params;         /* "D=4 S=251 F=8": the protocol's parameters, decimal */
    const char *kernelProtocol; /* "nec", as ir-ctl and ir-keytable name it; "" if none */
    const uint32_t *durationsUs; /* mark, space, ..., mark in microseconds */
} KRVXReceivedFrame;

/**
 * Frame callback. Runs on the library's thread of the handle, once for each frame the
 * service reports (the first frame of each burst the receiver sees), before the receive
 * callback of the same frame when both are set; frames arrive in order. It must return
 * quickly and may not call the library for the same handle (the library's thread would
 * wait for itself); copying the data and posting it elsewhere is what it is for. A device
 * that decodes codes itself (a Linux device in scancode mode) reports codes without
 * frames: then only the receive callback runs. userData is the pointer given to
 * KRVXSetReceiveFrameCallback().
 */
typedef void (*KRVXReceiveFrameCallback)(const KRVXReceivedFrame *frame, void *userData);

/* ---- Functions ------------------------------------------------------------------------ */

/** Interface info: stores KRVX_DRV_INFO (256). Returns non-zero; 0 if info is NULL. */
KRVXDRV_API int32_t KRVXGetDrvInfo(uint32_t *info);

/** Library version: stores KRVX_DRV_VERSION. Returns non-zero; 0 if version is NULL. */
KRVXDRV_API int32_t KRVXGetDrvVersion(uint32_t *version);

/**
 * Connects to krvxd and opens its device. Returns a positive handle, or -1 with errno
 * ERR_DRIVER_NOT_FOUND (no service: no socket, nobody listening, or no permission),
 * ERR_DEVICE_NOT_FOUND (no device), ERR_COMM_FAILED (no answer within 2 s, or the socket
 * is served by another user), ERR_FIRMWARE_MISMATCH (protocol or firmware not served) or
 * ERR_SERVICE_BUSY (the service has as many clients as it takes).
 */
KRVXDRV_API int32_t KRVXOpen(void);

/**
 * Ends everything of the handle (learn, hook, receive callback) and closes it. After it
 * returns, no callback for the handle runs. Returns non-zero; 0 with errno
 * ERR_INVALID_HANDLE for a handle that is not open.
 */
KRVXDRV_API int32_t KRVXClose(int32_t handle);

/**
 * Fills *info with the device information. Returns non-zero; 0 with errno
 * ERR_INVALID_HANDLE, ERR_INVALID_ARGUMENT or ERR_COMM_FAILED.
 */
KRVXDRV_API int32_t KRVXGetKRVXInfo(int32_t handle, DeviceInfo *info);

/**
 * Sends a code and returns when the device has sent it. The code is checked locally
 * first. repeatCount: see "Repeat count" above; inactivityWaitTime, completionEvent and
 * the reserved arguments are ignored. Returns non-zero; 0 with errno ERR_INVALID_CODE,
 * ERR_INVALID_HANDLE, ERR_INVALID_ARGUMENT (also: a negative or too large repeat count,
 * more than 120 s on air), ERR_TRANSMIT_FAILED, ERR_NOT_SUPPORTED or ERR_COMM_FAILED (no
 * answer within 2 s beyond the code's air time).
 */
KRVXDRV_API int32_t KRVXTransmitIR(int32_t handle, const char *code, int32_t format,
                                   int32_t repeatCount, int32_t inactivityWaitTime,
                                   void *completionEvent, void *reserved0, void *reserved1);

/**
 * Learn, hook and unhook. Returns at once.
 *
 * Every call first ends the handle's earlier own learn and only then reads buffer[0..9]:
 * once a call has begun, nothing more is written into an earlier learn's buffer or abort
 * word and nothing more is reported for it (a report already under way may still arrive).
 *
 * Own learn: format FMT_PRONTO and no hook command word in buffer[0..9]. Starts a learn
 * and sets errno to ERROR_IO_PENDING (return 1). param1: how long the learn may take in
 * milliseconds, 1..KRVX_MAX_LEARN_TIMEOUT_MS, or 0 for the service's default (10 s); a learn
 * that has not completed by then fails with the LEARN_FAIL_* that says why. The
 * callback gets progress reports; at the end the code is written to buffer as canonical
 * Pronto text with a 0 byte (at most 2048 characters) before LEARN_PROGRESS_DONE is
 * reported; a failure reports a negative LEARN_FAIL_* with buffer[0] = 0. *abortWord: 0 go
 * on; -1 stop: with a usable burst captured the learn finishes with it (code written, DONE,
 * and *abortWord set back to 0 by a compare-and-swap from that -1: a value the application
 * stored meanwhile stays); without one it ends with LEARN_FAIL_CANCELLED and *abortWord
 * stays -1. Until its end is reported (or a later call ends it), the buffer is the
 * library's: an application that writes into it earlier races with the code.
 * Fails (return 0) at once with errno ERR_LEARN_BUSY while another client's learn runs.
 *
 * Hook: format FMT_PRONTO and HOOK_COMMAND in buffer[0..9]. Registers the handle as a hook
 * and returns (errno 0, return 1). For every learn another client runs: BEGIN, that
 * learn's progress reports, then the code that client received (empty if none) is
 * written into buffer and END is reported. *abortWord is set to 0 before BEGIN is reported
 * and read only while that learn runs, so an answer counts only when stored after BEGIN:
 * -2 answers it with the 0-ended text in buffer (at most 2048 bytes read), -1 accepts the
 * burst captured so far. With several hooks the first answer wins. An answer the service
 * refuses leaves the learn open: *abortWord goes back to 0 (by compare-and-swap from the
 * value answered with) and the callback gets the report described at KRVXLearnCallback;
 * the learn may then be answered again. A client is never told of its own learns.
 *
 * Unhook: format FMT_UNHOOK and UNHOOK_COMMAND in buffer[0..9]. Removes the hook.
 *
 * While a learn runs or a hook observes one, the library hears from the service at least
 * every half second or asks it for a sign of life; a service silent for 2 s after such a
 * request counts as gone (see KRVXLearnCallback). param1 (for the own learn) and the
 * reserved arguments are otherwise ignored. Returns 0 with errno ERR_INVALID_HANDLE,
 * ERR_INVALID_ARGUMENT (also for param1 out of range) or ERR_COMM_FAILED.
 */
KRVXDRV_API int32_t KRVXLearnIR(int32_t handle, int32_t format, char *buffer,
                                KRVXLearnCallback callback, void *userData, int32_t *abortWord,
                                int32_t param1, int32_t reserved0, int32_t reserved1);

/**
 * Registers (or with NULL removes) the receive callback of the handle. Returns non-zero;
 * 0 with errno ERR_INVALID_HANDLE or ERR_COMM_FAILED.
 */
KRVXDRV_API int32_t KRVXSetReceiveCallback(int32_t handle, KRVXReceiveCallback callback,
                                           void *userData);

/**
 * Extension: registers (or with NULL removes) the frame callback of the handle, beside or
 * instead of the receive callback; the service reports received codes while either is
 * set. Returns non-zero; 0 with errno ERR_INVALID_HANDLE or ERR_COMM_FAILED.
 */
KRVXDRV_API int32_t KRVXSetReceiveFrameCallback(int32_t handle, KRVXReceiveFrameCallback callback,
                                                void *userData);

/**
 * Checks a Pronto code locally; needs no device or service. Returns non-zero exactly for
 * a valid code. When out is not NULL the canonical form of the code (0-ended, at most
 * KRVX_LEARN_BUFFER_SIZE bytes, never more) is written to it, or "" for an invalid code.
 * When outValue is not NULL it receives the number of words of the canonical code.
 */
KRVXDRV_API int32_t KRVXConvertProntoCode(const char *code, char *out, int32_t *outValue,
                                          int32_t reserved0, int32_t reserved1);

/**
 * Extension: how the code of the handle's last own learn came about: KRVX_CODE_LEARNED,
 * KRVX_CODE_INJECTED (its DONE report then carries quality 0 and the carrier of the
 * injected code) or KRVX_CODE_BURST_ACCEPTED. Meaningful after LEARN_PROGRESS_DONE was
 * reported; KRVX_CODE_LEARNED before. Returns -1 with errno ERR_INVALID_HANDLE for a handle
 * that is not open.
 */
KRVXDRV_API int32_t KRVXLearnedCodeOrigin(int32_t handle);

/**
 * Extension: fills *report with the richer report of the handle's last own learn: its
 * origin (as KRVXLearnedCodeOrigin()), how its code was built, and its decode when snapped.
 * Meaningful after LEARN_PROGRESS_DONE was reported; all 0 before (and after a failed
 * learn). Returns non-zero; 0 with errno ERR_INVALID_HANDLE or ERR_INVALID_ARGUMENT (report
 * is NULL).
 */
KRVXDRV_API int32_t KRVXGetLearnReport(int32_t handle, KRVXLearnReport *report);

/**
 * Extension: a short English text for a last-error value or a LEARN_FAIL_* progress value
 * (the two ranges do not overlap). Never NULL. For the value of the calling thread's last
 * failed call it says why that call failed where the library knows more than the value
 * ("... runs as user 1001, not as user 0 or root: not trusted"); that text is valid until
 * the thread's next failing call. Other texts are static.
 */
KRVXDRV_API const char *KRVXErrorText(int32_t code);

#ifdef __cplusplus
}
#endif

#endif /* KRVXDRV_H */
