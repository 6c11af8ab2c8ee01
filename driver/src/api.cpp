// SPDX-License-Identifier: MIT
// The exported KRVX* functions: argument checks, errno, and the handle's call lock around
// each request.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "handles.h"
#include "ir/pronto.h"
#include "krvxdrv.h"
#include "last_error.h"
#include "wire/sendable.h"
#include "wire/socket_path.h"
#include "wire/status.h"

using krvxdrv::Connection;
using krvxdrv::HandleTable;

// Each status that crosses the socket is the error code a caller sees.
static_assert(ERR_DEVICE_NOT_FOUND == wire::to_int(wire::Status::DeviceNotFound));
static_assert(ERR_COMM_FAILED == wire::to_int(wire::Status::CommFailed));
static_assert(ERR_DRIVER_NOT_FOUND == wire::to_int(wire::Status::DriverNotFound));
static_assert(ERR_FIRMWARE_MISMATCH == wire::to_int(wire::Status::FirmwareMismatch));
static_assert(ERR_LEARN_BUSY == wire::to_int(wire::Status::LearnBusy));
static_assert(ERR_INVALID_CODE == wire::to_int(wire::Status::InvalidCode));
static_assert(ERR_INVALID_HANDLE == wire::to_int(wire::Status::InvalidHandle));
static_assert(ERR_TRANSMIT_FAILED == wire::to_int(wire::Status::TransmitFailed));
static_assert(ERR_NOT_SUPPORTED == wire::to_int(wire::Status::NotSupported));
static_assert(ERR_INVALID_ARGUMENT == wire::to_int(wire::Status::InvalidArgument));
static_assert(ERR_SERVICE_BUSY == wire::to_int(wire::Status::ServiceBusy));
static_assert(KRVX_MAX_LEARN_TIMEOUT_MS == wire::kMaxLearnTimeoutMs);

namespace {

using krvxdrv::fail;

// Result of a request answered by a plain Reply: 1 with errno 0, or 0 with the cause.
int32_t finishReply(const std::optional<wire::Message> &reply, int32_t error) {
    if (!reply)
        return fail(error);
    const auto *r = std::get_if<wire::Reply>(&reply->body);
    if (r == nullptr)
        return fail(ERR_COMM_FAILED);
    if (r->status != wire::Status::Ok)
        return fail(wire::to_int(r->status));
    errno = 0;
    return 1;
}

// Bounded view of caller text: at most ir::kMaxProntoChars + 1 bytes are read, enough to
// tell an over-long code from a valid one.
std::string_view bounded(const char *text) {
    return {text, ::strnlen(text, ir::kMaxProntoChars + 1)};
}

}  // namespace

extern "C" {

KRVXDRV_API int32_t KRVXGetDrvInfo(uint32_t *info) {
    if (info == nullptr)
        return fail(ERR_INVALID_ARGUMENT);
    *info = KRVX_DRV_INFO;
    return 1;
}

KRVXDRV_API int32_t KRVXGetDrvVersion(uint32_t *version) {
    if (version == nullptr)
        return fail(ERR_INVALID_ARGUMENT);
    *version = KRVX_DRV_VERSION;
    return 1;
}

KRVXDRV_API int32_t KRVXOpen(void) {
    auto result = Connection::open(wire::default_socket_path());
    if (!result.connection) {
        krvxdrv::note_failure(result.failure);
        fail(wire::to_int(result.failure.status));
        return -1;
    }
    const int32_t handle = HandleTable::instance().add(std::move(result.connection));
    errno = 0;
    return handle;
}

KRVXDRV_API int32_t KRVXClose(int32_t handle) {
    auto h = HandleTable::instance().remove(handle);
    if (!h)
        return fail(ERR_INVALID_HANDLE);
    // Not under the call lock: a send in progress on another thread is ended, not awaited.
    h->connection->shutdown();
    errno = 0;
    return 1;
}

KRVXDRV_API int32_t KRVXGetKRVXInfo(int32_t handle, DeviceInfo *info) {
    auto h = HandleTable::instance().find(handle);
    if (!h)
        return fail(ERR_INVALID_HANDLE);
    if (info == nullptr)
        return fail(ERR_INVALID_ARGUMENT);
    int32_t error = 0;
    std::optional<wire::Message> reply;
    {
        std::lock_guard lock(h->call_mutex);
        reply = h->connection->request(wire::GetInfo{}, krvxdrv::kAnswerTimeout, error);
    }
    if (!reply)
        return fail(error);
    const auto *r = std::get_if<wire::InfoReply>(&reply->body);
    if (r == nullptr)
        return fail(ERR_COMM_FAILED);
    if (r->status != wire::Status::Ok)
        return fail(wire::to_int(r->status));
    info->firmwareVersion = r->firmware;
    info->protocolVersion = r->protocol;
    info->firmwareDateDay = r->day;
    info->firmwareDateMonth = r->month;
    info->firmwareDateYear = r->year;
    info->reserved = 0;
    errno = 0;
    return 1;
}

KRVXDRV_API int32_t KRVXTransmitIR(int32_t handle, const char *code, int32_t format,
                                   int32_t repeatCount, int32_t inactivityWaitTime,
                                   void *completionEvent, void *reserved0, void *reserved1) {
    (void)inactivityWaitTime;
    (void)completionEvent;
    (void)reserved0;
    (void)reserved1;
    auto h = HandleTable::instance().find(handle);
    if (!h)
        return fail(ERR_INVALID_HANDLE);
    if (code == nullptr || format != FMT_PRONTO)
        return fail(ERR_INVALID_ARGUMENT);
    const std::string_view text = bounded(code);
    const wire::Sendable sendable = wire::check_sendable(text, repeatCount);
    if (!sendable.signal) {
        krvxdrv::note_failure(sendable.refusal);
        return fail(wire::to_int(sendable.refusal.status));
    }
    const int32_t repeat = sendable.repeat;
    int32_t error = 0;
    std::optional<wire::Message> reply;
    {
        std::lock_guard lock(h->call_mutex);
        // Until the service says when the send will have ended, it must answer within the
        // usual time; then within 2 s of that end.
        reply = h->connection->request(wire::Transmit{repeat, std::string(text)},
                                       krvxdrv::kAnswerTimeout, error);
    }
    return finishReply(reply, error);
}

KRVXDRV_API int32_t KRVXLearnIR(int32_t handle, int32_t format, char *buffer,
                                KRVXLearnCallback callback, void *userData, int32_t *abortWord,
                                int32_t param1, int32_t reserved0, int32_t reserved1) {
    (void)reserved0;
    (void)reserved1;
    auto h = HandleTable::instance().find(handle);
    if (!h)
        return fail(ERR_INVALID_HANDLE);
    if (buffer == nullptr || abortWord == nullptr || (format != FMT_PRONTO && format != FMT_UNHOOK))
        return fail(ERR_INVALID_ARGUMENT);

    std::lock_guard lock(h->call_mutex);
    // The earlier learn ends before the command word is read: see Connection.
    const auto call = h->connection->begin_learn_call(buffer, format, param1);
    if (!call)
        return fail(ERR_INVALID_ARGUMENT);
    int32_t status = 0;
    switch (*call) {
        case krvxdrv::LearnCall::Unhook:
            status = h->connection->remove_hook();
            break;
        case krvxdrv::LearnCall::Hook:
            status = h->connection->set_hook(buffer, abortWord, callback, userData);
            break;
        case krvxdrv::LearnCall::Learn:
            status = h->connection->start_learn(buffer, abortWord, callback, userData,
                                                static_cast<uint32_t>(param1));
            if (status == 0) {
                errno = ERROR_IO_PENDING;
                return 1;
            }
            break;
    }
    if (status != 0)
        return fail(status);
    errno = 0;
    return 1;
}

KRVXDRV_API int32_t KRVXLearnedCodeOrigin(int32_t handle) {
    auto h = HandleTable::instance().find(handle);
    if (!h) {
        errno = ERR_INVALID_HANDLE;
        return -1;
    }
    static_assert(KRVX_CODE_LEARNED == wire::LearnEnd::None &&
                  KRVX_CODE_INJECTED == wire::LearnEnd::Injected &&
                  KRVX_CODE_BURST_ACCEPTED == wire::LearnEnd::BurstAccepted);
    errno = 0;
    return h->connection->last_code().answer;
}

KRVXDRV_API int32_t KRVXGetLearnReport(int32_t handle, KRVXLearnReport *report) {
    auto h = HandleTable::instance().find(handle);
    if (!h) {
        errno = ERR_INVALID_HANDLE;
        return 0;
    }
    if (report == nullptr) {
        errno = ERR_INVALID_ARGUMENT;
        return 0;
    }
    static_assert(KRVX_SHAPE_UNSAID == wire::LearnEnd::Unsaid &&
                  KRVX_SHAPE_SNAPPED == wire::LearnEnd::Snapped &&
                  KRVX_SHAPE_AVERAGED == wire::LearnEnd::Averaged);
    static_assert(wire::kMaxDecode < KRVX_DECODE_TEXT_SIZE);
    const krvxdrv::LearnedCode code = h->connection->last_code();
    *report = KRVXLearnReport{};
    report->origin = code.answer;
    report->shape = code.shape;
    code.decode.copy(report->decode, code.decode.size());  // the wire bounds it
    errno = 0;
    return 1;
}

KRVXDRV_API int32_t KRVXSetReceiveCallback(int32_t handle, KRVXReceiveCallback callback,
                                           void *userData) {
    auto h = HandleTable::instance().find(handle);
    if (!h)
        return fail(ERR_INVALID_HANDLE);
    std::lock_guard lock(h->call_mutex);
    // Installed before the service is asked to send codes, removed before it is told to stop.
    const bool receiving = h->connection->set_receive_callback(callback, userData);
    int32_t error = 0;
    auto reply =
        h->connection->request(wire::SetReceive{receiving}, krvxdrv::kAnswerTimeout, error);
    return finishReply(reply, error);
}

KRVXDRV_API int32_t KRVXSetReceiveFrameCallback(int32_t handle, KRVXReceiveFrameCallback callback,
                                                void *userData) {
    auto h = HandleTable::instance().find(handle);
    if (!h)
        return fail(ERR_INVALID_HANDLE);
    std::lock_guard lock(h->call_mutex);
    const bool receiving = h->connection->set_frame_callback(callback, userData);
    int32_t error = 0;
    auto reply =
        h->connection->request(wire::SetReceive{receiving}, krvxdrv::kAnswerTimeout, error);
    return finishReply(reply, error);
}

KRVXDRV_API int32_t KRVXConvertProntoCode(const char *code, char *out, int32_t *outValue,
                                          int32_t reserved0, int32_t reserved1) {
    (void)reserved0;
    (void)reserved1;
    if (out != nullptr)
        out[0] = '\0';
    if (outValue != nullptr)
        *outValue = 0;
    if (code == nullptr)
        return 0;
    const std::string_view text = bounded(code);
    if (text.size() > ir::kMaxProntoChars)
        return 0;
    const auto parsed = ir::parse_pronto(text);
    if (!parsed.ok())
        return 0;
    // The canonical form of the text: each word as four upper-case digits, single blanks.
    // It is never longer than the valid input, so it fits the 2049 bytes.
    std::string canonical;
    int32_t words = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0)
            ++i;
        if (i >= text.size())
            break;
        if (!canonical.empty())
            canonical.push_back(' ');
        for (int k = 0; k < 4 && i < text.size(); ++k, ++i)
            canonical.push_back(
                static_cast<char>(std::toupper(static_cast<unsigned char>(text[i]))));
        ++words;
    }
    if (out != nullptr) {
        const std::size_t n = std::min(canonical.size(), std::size_t{KRVX_LEARN_BUFFER_SIZE - 1});
        std::memcpy(out, canonical.data(), n);
        out[n] = '\0';
    }
    if (outValue != nullptr)
        *outValue = words;
    return 1;
}

KRVXDRV_API const char *KRVXErrorText(int32_t code) {
    if (const char *why = krvxdrv::failure_text(code))
        return why;
    switch (code) {
        case 0:
            return "no error";
        case ERROR_IO_PENDING:
            return "the learn goes on in the background";
        case ERR_DEVICE_NOT_FOUND:
            return "the service has no device";
        case ERR_COMM_FAILED:
            return "the device or the service stopped answering";
        case ERR_DRIVER_NOT_FOUND:
            return "the device service krvxd is not running";
        case ERR_FIRMWARE_MISMATCH:
            return "the device's protocol or firmware is not served";
        case ERR_LEARN_BUSY:
            return "another application is learning on the device";
        case ERR_INVALID_CODE:
            return "the code is not a valid Pronto code";
        case ERR_INVALID_HANDLE:
            return "the handle is not open";
        case ERR_TRANSMIT_FAILED:
            return "the device failed to send the code";
        case ERR_NOT_SUPPORTED:
            return "the device or this library cannot do this";
        case ERR_INVALID_ARGUMENT:
            return "a null pointer, an unknown format or a value out of range";
        case ERR_SERVICE_BUSY:
            return "krvxd serves as much as it may at once; try again later";
        case LEARN_FAIL_NOTHING_SEEN:
            return "no IR arrived before the learn timed out";
        case LEARN_FAIL_NOISE:
            return "IR arrived, but nothing that looked like a remote";
        case LEARN_FAIL_PARTIAL:
            return "the burst was too short to learn";
        case LEARN_FAIL_CARRIER:
            return "the measured carrier is out of range";
        case LEARN_FAIL_DEVICE_LOST:
            return "the device was lost during the learn";
        case LEARN_FAIL_SERVICE_GONE:
            return "the connection to krvxd was lost";
        case LEARN_FAIL_CANCELLED:
            return "the learn was cancelled with nothing captured";
        case LEARN_FAIL_ANSWERED_EMPTY:
            return "the burst was accepted with nothing captured";
        case LEARN_FAIL_CANNOT_LEARN:
            return "the device cannot learn (no raw IR receiver, or it refused the learn settings)";
        default:
            return "unknown error";
    }
}

}  // extern "C"
