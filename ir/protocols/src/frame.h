// SPDX-License-Identifier: MIT
// Frames of a row: the bit stream of consecutive fields, and the frame encoder and
// matcher that encode.cpp and decode.cpp build on.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ir/signal.h"
#include "table.h"

namespace ir::protocols::detail {

inline bool is_field(Op op) {
    return op == Op::Bits || op == Op::Const || op == Op::Check;
}

/// End of the run of fields starting at `i`: consecutive field items of one coding.
inline std::size_t run_end(std::span<const Item> items, std::size_t i) {
    std::size_t j = i;
    while (j < items.size() && is_field(items[j].op) && items[j].coding == items[i].coding) {
        ++j;
    }
    return j;
}

/// Bits a symbol of the coding carries (1 for iMON).
inline unsigned bits_per_symbol(const Coding &c) {
    if (c.imon_checks != 0) {
        return 1;
    }
    return c.symbols.size() >= 16 ? 4 : c.symbols.size() >= 4 ? 2 : 1;
}

/// Whether a field goes most significant bit first.
inline bool msb_first(const Row &row, const Item &item) {
    return row.msb != item.reverse;
}

/// The value an item sends, `width` bits wide.
inline uint64_t field_value(const Item &item, const Values &v) {
    const uint64_t m = mask_of(item.width);
    switch (item.op) {
        case Op::Const:
            return item.value & m;
        case Op::Check:
            return item.check(v) & m;
        default: {
            const uint64_t x = (v[item.param] >> item.shift) & m;
            return item.invert ? ~x & m : x;
        }
    }
}

/// Bits in the order they are sent.
struct BitStream {
    static constexpr std::size_t kMax = 128;
    std::array<uint64_t, 2> word{};
    std::size_t n = 0;

    bool at(std::size_t i) const { return ((word[i / 64] >> (i % 64)) & 1) != 0; }
    void push(bool b) {
        if (n < kMax) {
            word[n / 64] |= uint64_t(b) << (n % 64);
            ++n;
        }
    }
    void append(const Row &row, const Item &item, uint64_t value) {
        const bool msb = msb_first(row, item);
        for (unsigned j = 0; j < item.width; ++j) {
            push(((value >> (msb ? item.width - 1 - j : j)) & 1) != 0);
        }
    }
    /// The value of `width` bits starting at `from`, read as the item sends them.
    uint64_t read(const Row &row, const Item &item, std::size_t from) const {
        const bool msb = msb_first(row, item);
        uint64_t value = 0;
        for (unsigned j = 0; j < item.width && from + j < n; ++j) {
            value |= uint64_t(at(from + j)) << (msb ? item.width - 1 - j : j);
        }
        return value;
    }
};

/// One frame's bursts (alternating on/off, ending with the frame's lead-out).
std::vector<Burst> encode_frame(const Row &row, std::span<const Item> items, const Values &v);

/// Every row that explains the durations, best first (decode.cpp).
std::vector<Decode> decode_rows(std::span<const uint32_t> durations_us, double carrier_hz);

/// The public form of a row's decode (api.cpp).
Decode make_decode(const Row &row, const Values &values, int frames, bool complete);

}  // namespace ir::protocols::detail
