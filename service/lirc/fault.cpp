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

int32_t send_error_code(Fault fault) {
    switch (fault) {
        case Fault::none:
            return 0;
        case Fault::not_supported:
            return ERR_NOT_SUPPORTED;
        case Fault::invalid_code:
            return ERR_INVALID_CODE;
        case Fault::device_lost:
        case Fault::cancelled:
            return ERR_COMM_FAILED;
        case Fault::refused:
        case Fault::io_error:
            return ERR_TRANSMIT_FAILED;
    }
    return ERR_TRANSMIT_FAILED;
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
