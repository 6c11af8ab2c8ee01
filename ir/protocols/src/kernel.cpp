// SPDX-License-Identifier: MIT
// Kernel scancodes of decodes, and parameters of kernel scancodes.
#include "table.h"

namespace ir::protocols::detail {
namespace {

uint32_t scancode_of(const KernelForm &form, const Values &v) {
    uint64_t code = form.fixed;
    for (uint8_t i = 0; i < form.nfields; ++i) {
        const ScanField &f = form.fields[i];
        uint64_t bits = (v[f.param] >> f.from) & mask_of(f.width);
        if (f.invert) {
            bits = ~bits & mask_of(f.width);
        }
        code |= bits << f.at;
    }
    return uint32_t(code);
}

}  // namespace

std::optional<KernelCode> kernel_code(const Row &row, const Values &values) {
    if (row.kernel_family == 0) {
        return std::nullopt;
    }
    for (const KernelForm &form : kernel_forms()) {
        if (form.family == row.kernel_family && (form.fits == nullptr || form.fits(values))) {
            return KernelCode{form.name, scancode_of(form, values)};
        }
    }
    return std::nullopt;
}

bool kernel_values(const KernelForm &form, uint64_t scancode, State &state) {
    if ((scancode & ~uint64_t{form.mask}) != 0 || (scancode & form.fixed) != form.fixed) {
        return false;
    }
    for (uint8_t i = 0; i < form.nfields; ++i) {
        const ScanField &f = form.fields[i];
        uint64_t bits = (scancode >> f.at) & mask_of(f.width);
        if (f.invert) {
            bits = ~bits & mask_of(f.width);
        }
        state.value[f.param] |= bits << f.from;
        state.known[f.param] |= mask_of(f.width) << f.from;
    }
    fill_fallbacks(row(form.row), state);
    // A scancode the fields cannot carry (bits in no field) or of another form.
    return (form.fits == nullptr || form.fits(state.value)) &&
           scancode_of(form, state.value) == scancode;
}

}  // namespace ir::protocols::detail
