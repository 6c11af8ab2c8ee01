// SPDX-License-Identifier: MIT
// What a request or an open came to, as both ends of the socket name it.
//
// The values are the library's ERR_* codes: krvxdrv.h defines them for C callers and the
// library static_asserts that each one equals its Status here, so a status crosses the
// socket and lands in a caller's errno unchanged. Values a newer peer might send are
// carried as they are.
//
// Threads: constants and pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace wire {

enum class Status : int32_t {
    Ok = 0,
    DeviceNotFound = 0x20000001,    ///< the service is up, but it has no device
    CommFailed = 0x20000002,        ///< the device or the service stopped answering
    DriverNotFound = 0x20000003,    ///< the service cannot be reached
    FirmwareMismatch = 0x20000004,  ///< protocol or firmware version not served
    LearnBusy = 0x20000005,         ///< another client's learn runs on the device
    InvalidCode = 0x20000006,       ///< the code text is not a code the device can send
    InvalidHandle = 0x20000007,     ///< the handle is not open
    TransmitFailed = 0x20000008,    ///< the device refused or failed the send
    NotSupported = 0x20000009,      ///< the device cannot do this
    InvalidArgument = 0x2000000A,   ///< a value out of range, a null pointer, a bad format
    ServiceBusy = 0x2000000B,       ///< the service serves as much as it may: try later
};

constexpr int32_t to_int(Status status) {
    return static_cast<int32_t>(status);
}

/// The ERR_* name of a status for logs ("ERR_COMM_FAILED"; "0" for Ok; the number in hex
/// for a value this side does not know).
std::string status_name(Status status);

/// A status and the sentence that says why, for a log line and for the user. `why` is
/// empty when the status says it all.
struct Outcome {
    Status status = Status::Ok;
    std::string why;
    bool ok() const { return status == Status::Ok; }
};

}  // namespace wire
