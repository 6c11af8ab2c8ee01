// SPDX-License-Identifier: MIT
// How a failed step of the kernel IR backend is classified, and what a client is told.
//
//   errno from the device   fault          client error (krvxdrv.h)
//   ENODEV, POLLHUP/ERR     device_lost    ERR_COMM_FAILED (sends); new opens get
//                                          ERR_DEVICE_NOT_FOUND until the device is back
//   ENOTTY                  not_supported  ERR_NOT_SUPPORTED
//   EINVAL                  refused        ERR_TRANSMIT_FAILED
//   anything else           io_error       ERR_TRANSMIT_FAILED
//   (a code the kernel cannot send)        invalid_code   ERR_INVALID_CODE
//
// Threads: plain functions.
#pragma once

#include <cstdint>
#include <string>

#include "wire/status.h"

namespace krvxd::lirc {

enum class Fault {
    none,
    not_supported,  ///< the device lacks the feature
    invalid_code,   ///< the code cannot be sent by any kernel device as it is
    refused,        ///< the device refused a value or a write (EINVAL)
    device_lost,    ///< unplugged (ENODEV, POLLHUP, POLLERR)
    io_error,       ///< any other errno
    cancelled,      ///< stopped by the service (shutdown, client gone)
};

/// Classifies an errno value from a device call (0 gives Fault::none).
Fault fault_from_errno(int error);

/// The status a client gets for a fault of a send (Ok for none).
wire::Status send_status(Fault fault);

/// Name for logs: "device lost", "not supported", ...
const char *fault_name(Fault fault);

/// Outcome of a backend step: the fault, the errno behind it (0 when none), and a sentence
/// for the log and the client ("the device is receive-only: it cannot send IR").
struct Outcome {
    Fault fault = Fault::none;
    int error = 0;
    std::string message;
    bool ok() const { return fault == Fault::none; }
};

/// Outcome for an errno from the device, message "<what>: <error text>".
Outcome outcome_from_errno(int error, const std::string &what);

}  // namespace krvxd::lirc
