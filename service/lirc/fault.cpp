// SPDX-License-Identifier: MIT
#include "lirc/fault.h"

#include <cerrno>

#include "krvxdrv.h"
#include "lirc/device_io.h"

namespace krvxd::lirc {

Fault fault_from_errno(int error) {
    switch (error) {
        case 0:
            return Fault::none;
        case ENODEV:
            return Fault::device_lost;
        case ENOTTY:
            return Fault::not_supported;
        case EINVAL:
            return Fault::refused;
        default:
            return Fault::io_error;
    }
}

wire::Status send_status(Fault fault) {
    switch (fault) {
        case Fault::none:
            return wire::Status::Ok;
        case Fault::not_supported:
            return wire::Status::NotSupported;
        case Fault::invalid_code:
            return wire::Status::InvalidCode;
        case Fault::device_lost:
        case Fault::cancelled:
            return wire::Status::CommFailed;
        case Fault::refused:
        case Fault::io_error:
            return wire::Status::TransmitFailed;
    }
    return wire::Status::TransmitFailed;
}

const char *fault_name(Fault fault) {
    switch (fault) {
        case Fault::none:
            return "ok";
        case Fault::not_supported:
            return "not supported";
        case Fault::invalid_code:
            return "invalid code";
        case Fault::refused:
            return "refused";
        case Fault::device_lost:
            return "device lost";
        case Fault::io_error:
            return "I/O error";
        case Fault::cancelled:
            return "cancelled";
    }
    return "unknown";
}

Outcome outcome_from_errno(int error, const std::string &what) {
    Outcome o;
    o.fault = fault_from_errno(error);
    o.error = error;
    if (error != 0) {
        o.message = what + ": " + error_text(error);
    }
    return o;
}

}  // namespace krvxd::lirc
