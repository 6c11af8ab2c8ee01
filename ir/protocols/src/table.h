// SPDX-License-Identifier: MIT
// The protocol table's row types, shared by the rows, the encoder and the decoder.
//
// A row describes a protocol as the IRP notation does: a frame is a list of items (marks,
// spaces, a lead-out, fields of parameter bits, constants, computed checks); consecutive
// fields form a bit stream that the row's coding turns into marks and spaces, k bits per
// symbol. Two marks or two spaces in a row merge into one. The encoder walks the items and
// writes durations; the decoder walks the same items and reads them back.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "ir/protocols.h"

namespace ir::protocols::detail {

inline constexpr std::size_t kMaxParams = 8;
using Values = std::array<uint64_t, kMaxParams>;

/// A computed field: its value from the parameters (indexed as the row lists them).
using CheckFn = uint64_t (*)(const Values &p);

enum class Op : uint8_t {
    Mark,    ///< carrier on for `us`
    Space,   ///< carrier off for `us`
    Extent,  ///< carrier off until `us` have passed since the frame began
    Bits,    ///< `width` bits of parameter `param`, from bit `shift` up
    Const,   ///< `width` bits of `value`
    Check,   ///< `width` bits of check(parameters)
};

struct Item {
    Op op = Op::Mark;
    float us = 0;
    uint8_t param = 0;
    uint8_t width = 0;
    uint8_t shift = 0;
    bool invert = false;   ///< the bits are sent complemented
    bool reverse = false;  ///< the field goes in the other bit order than the row's
    uint8_t coding = 0;    ///< index into the row's codings
    uint64_t value = 0;
    CheckFn check = nullptr;
};

constexpr Item mark(double us) {
    return {.op = Op::Mark, .us = float(us)};
}
constexpr Item space(double us) {
    return {.op = Op::Space, .us = float(us)};
}
constexpr Item extent(double us) {
    return {.op = Op::Extent, .us = float(us)};
}
constexpr Item bits(uint8_t param, uint8_t width, uint8_t shift = 0) {
    return {.op = Op::Bits, .param = param, .width = width, .shift = shift};
}
constexpr Item inv(uint8_t param, uint8_t width, uint8_t shift = 0) {
    return {.op = Op::Bits, .param = param, .width = width, .shift = shift, .invert = true};
}
constexpr Item rev(uint8_t param, uint8_t width, uint8_t shift = 0) {
    return {.op = Op::Bits, .param = param, .width = width, .shift = shift, .reverse = true};
}
constexpr Item konst(uint64_t value, uint8_t width) {
    return {.op = Op::Const, .width = width, .value = value};
}
constexpr Item check(CheckFn fn, uint8_t width) {
    return {.op = Op::Check, .width = width, .check = fn};
}
/// The same item in another of the row's codings.
constexpr Item coded(Item item, uint8_t coding) {
    item.coding = coding;
    return item;
}

/// One symbol: up to six durations in µs, marks positive, spaces negative.
struct Symbol {
    std::array<float, 6> us{};
    uint8_t n = 0;
};

constexpr Symbol sym(double a, double b) {
    return {{float(a), float(b)}, 2};
}
constexpr Symbol sym(double a, double b, double c, double d) {
    return {{float(a), float(b), float(c), float(d)}, 4};
}

/// How bits become durations: 2, 4 or 16 symbols carry 1, 2 or 4 bits each. A non-zero
/// `imon_checks` selects the iMON coding instead: each bit is a check half (a mark only
/// where the mask has the bit and this and the previous bit are 0) and a data half (a mark
/// for 0), each `imon_unit_us` long.
struct Coding {
    std::span<const Symbol> symbols{};
    uint64_t imon_checks = 0;
    float imon_unit_us = 0;
};

/// How an omitted parameter is filled in. Fixed: the row only sends `value` (rows of one
/// name that differ in it are one protocol's variants, Zenith's field widths).
enum class Fallback : uint8_t { Required, Value, Complement, Copy, Fixed };

struct ParamSpec {
    std::string_view name{};
    uint8_t bits = 8;
    Fallback fallback = Fallback::Required;
    uint8_t from = 0;    ///< Complement/Copy: the parameter it derives from
    uint64_t value = 0;  ///< Value: the value
    bool toggle = false;
};

constexpr ParamSpec param(std::string_view name, uint8_t bits) {
    return {name, bits};
}
constexpr ParamSpec param_or(std::string_view name, uint8_t bits, uint64_t value) {
    return {name, bits, Fallback::Value, 0, value};
}
constexpr ParamSpec param_not(std::string_view name, uint8_t bits, uint8_t from) {
    return {name, bits, Fallback::Complement, from};
}
constexpr ParamSpec param_copy(std::string_view name, uint8_t bits, uint8_t from) {
    return {name, bits, Fallback::Copy, from};
}
constexpr ParamSpec param_fixed(std::string_view name, uint8_t bits, uint64_t value) {
    return {name, bits, Fallback::Fixed, 0, value};
}
constexpr ParamSpec toggle(std::string_view name, uint8_t bits) {
    return {name, bits, Fallback::Value, 0, 0, true};
}

/// How frames follow each other while the button is held.
enum class Repeat : uint8_t {
    Star,   ///< the frame, again and again; the once part is empty
    Ditto,  ///< the intro once, then the repeat frame again and again
    Once,   ///< the intro once, no repeat
};

/// Every row, in preference order: a signal that fits two rows equally well is named after
/// the earlier one.
enum class Id : uint8_t {
    Apple,
    NEC1,
    NEC2,
    Pioneer,
    NECx1,
    NECx2,
    NEC1_rnc,
    NEC1_f16,
    Sanyo,
    Aiwa,
    NEC42,
    NEC42ext,
    Samsung20,
    Samsung36,
    Sony12,
    Sony15,
    Sony20,
    Sony8,
    RC5,
    RC5x,
    RC5_7F,
    RC6,
    RC6_6_20,
    RC6_6_24,
    MCE,
    RC6_6_32,
    JVC,
    Panasonic,
    Panasonic2,
    Denon_K,
    JVC_48,
    Mitsubishi_K,
    Kaseikyo,
    Denon,
    Sharp,
    Mitsubishi,
    RCA,
    RCA_38,
    XMP_1,
    XMP_2,
    XMP,
    Nokia32,
    RC_MM_32,
    RC_MM_24,
    RC_MM_12,
    Dish_Network,
    GI_Cable,
    Grundig16,
    Thomson,
    Bose,
    Epson,
    Xbox_DVD,
    iMON,
    Zenith5,
    Zenith6,
    Zenith7,
    Zenith8,
    Count
};

struct Row {
    Id id{};
    std::string_view name{};
    std::string_view aliases{};  ///< blank-separated other names
    double carrier_hz = 38000;
    double unit_us = 0;  ///< smallest duration step; merged runs round to it
    bool msb = false;    ///< fields go most significant bit first
    float rel_tol = 0.2f;
    float abs_tol_us = 150;
    std::span<const ParamSpec> params{};
    std::span<const Coding> codings{};
    std::span<const Item> intro{};
    std::span<const Item> repeat{};  ///< Ditto: the repeat frame
    Repeat repeats = Repeat::Star;
    uint8_t kernel_family = 0;  ///< kernel scancode forms (kernel.cpp), 0: none
    uint8_t twin = 0;           ///< rows with the same non-zero twin differ only in their carrier
};

std::span<const Row> rows();
inline const Row &row(Id id) {
    return rows()[std::size_t(id)];
}

/// Scancode bits [at, at + width) are parameter bits [from, from + width), complemented
/// when `invert`.
struct ScanField {
    uint8_t param = 0;
    uint8_t width = 0;
    uint8_t at = 0;
    uint8_t from = 0;
    bool invert = false;
};

/// One kernel protocol's scancode: which row sends it, how its bits map to the row's
/// parameters, and (for decoding) when a decode of a row of its family takes this form.
/// A family's forms are tried in table order; the first that fits names the decode.
struct KernelForm {
    std::string_view name{};
    uint32_t mask = 0;
    Id row{};
    uint8_t family = 0;
    std::array<ScanField, 4> fields{};
    uint8_t nfields = 0;
    uint32_t fixed = 0;                      ///< bits every scancode of this form has
    bool (*fits)(const Values &) = nullptr;  ///< null: every decode of the family fits
};

std::span<const KernelForm> kernel_forms();

/// Parameter values of one row, with a mask of the bits known (decoding) or given
/// (encoding).
struct State {
    Values value{};
    Values known{};
};

inline constexpr uint64_t mask_of(unsigned width) {
    return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
}

/// Fills omitted parameters from their fallbacks (complements and copies of given ones).
void fill_fallbacks(const Row &row, State &state);

/// The kernel code of a decode, when the row's family has a form that fits the values.
std::optional<KernelCode> kernel_code(const Row &row, const Values &values);

/// Parameters of a kernel scancode for its form's row; false when the scancode has bits
/// outside the mask or the form does not fit the values it gives.
bool kernel_values(const KernelForm &form, uint64_t scancode, State &state);

}  // namespace ir::protocols::detail
