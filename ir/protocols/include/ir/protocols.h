// SPDX-License-Identifier: MIT
// IR protocols: what a code means, and the code for a meaning.
//
// Every protocol is one row of a table (ir/protocols/src/rows.cpp): carrier, unit, header,
// bit coding, fields, checks, toggle, lead-out, repeat frame, tolerances, and the Linux
// kernel's name and scancode where the kernel has the protocol. One encoder and one decoder
// interpret those rows, so a code decodes to exactly the parameters it was encoded from.
//
// Names: protocols carry the names of the IRP notation used across the field (NEC1, RC5,
// Sony12, RC6-6-20, ...), parameters its letters (D device, S subdevice, F function,
// T toggle, E/X/OEM/M/N extra fields as each protocol defines them). Kernel protocols use
// the names `ir-ctl -S` and `ir-keytable` take ("nec", "rc6_mce", "sony12", ...) with
// scancodes as they print them.
//
// Decoding takes a frame or a whole capture (alternating mark/space durations in µs,
// starting with a mark; a final space may be present or not) and answers every protocol
// that explains it, the preferred first. A capture is explained by its intro frame and the
// repeat frames that follow (NEC ditto frames, Sony's repeated frames, RC5/RC6 frames with
// one toggle value).
//
// Untrusted input: decode() looks at no more than kMaxDecodeDurations durations and never
// fails on any values; encode() checks every parameter against its range and every text it
// parses is bounded.
//
// Threads: the tables are constant; every function is pure. Any thread, no locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ir/signal.h"

namespace ir::protocols {

/// One parameter of a protocol as the tables describe it.
struct ParamInfo {
    std::string_view name;      ///< "D", "S", "F", "T", "OEM1", ...
    uint64_t max = 0;           ///< largest value; the smallest is 0
    std::string_view fallback;  ///< what an omitted value becomes ("255-D", "D", "0"); empty:
                                ///< the parameter is required
    bool toggle = false;        ///< changes from one press to the next (T)
    bool fixed = false;         ///< this variant of the protocol has only the fallback's
                                ///< value (protocols with variants list one entry each,
                                ///< under one name: Zenith's field width D)
};

/// A protocol as the tables describe it. Objects live as long as the program; compare
/// them by address.
struct ProtocolInfo {
    std::string_view name;              ///< "NEC1"
    double carrier_hz = 0;              ///< nominal carrier; 0 for an unmodulated protocol
    std::span<const ParamInfo> params;  ///< in the order decodes list them
    std::string_view kernel;            ///< kernel protocol names this decodes as ("nec necx"),
                                        ///< empty when the kernel has no such protocol
    double rel_tolerance = 0;           ///< a measured duration fits when it is within
    double abs_tolerance_us = 0;        ///< rel_tolerance × expected + abs_tolerance_us
};

/// Every protocol, in preference order (a decode that fits two protocols equally well
/// names the earlier one first).
std::span<const ProtocolInfo> all();

/// The protocol of that name: its IRP name or an alias, ignoring case and the characters
/// '-', '_', '.' and ' ' ("nec1", "RC6-6-20", "gicable"). Null when none is known.
const ProtocolInfo *find(std::string_view name);

/// A kernel protocol as `ir-ctl -S` takes it.
struct KernelProtocolInfo {
    std::string_view name;           ///< "nec", "rc6_mce", ...
    uint32_t scancode_mask = 0;      ///< bits a scancode may have
    const ProtocolInfo *protocol{};  ///< the protocol a kernel scancode encodes as
};

/// Every kernel protocol known here.
std::span<const KernelProtocolInfo> kernel_protocols();

/// The kernel protocol of that name, ignoring case, '-', '_' and ' ' as ir-ctl does
/// ("rc-6-mce" finds "rc6_mce"). Null when none is known.
const KernelProtocolInfo *find_kernel(std::string_view name);

/// A parameter's value.
struct Param {
    std::string_view name;  ///< points into the tables
    uint64_t value = 0;
    friend bool operator==(const Param &, const Param &) = default;
};

/// A kernel protocol name and scancode, as `ir-ctl -S name:0xSCANCODE` takes them.
struct KernelCode {
    std::string_view protocol;  ///< "nec"
    uint32_t scancode = 0;
    std::string text() const;  ///< "nec:0x0408" (at least four hex digits, lower case)
    friend bool operator==(const KernelCode &, const KernelCode &) = default;
};

/// One protocol that explains a capture.
struct Decode {
    const ProtocolInfo *protocol{};
    std::vector<Param> params;         ///< every parameter of the protocol, in its order
    std::optional<KernelCode> kernel;  ///< absent when the kernel has no such protocol
    int frames = 0;                    ///< frames explained: intro and repeat frames
    std::optional<uint64_t> toggle;    ///< the toggle's value, for protocols with one
    bool complete = false;             ///< every duration of the capture was explained

    /// The value of a parameter; nullopt when the protocol has no such parameter.
    std::optional<uint64_t> param(std::string_view name) const;
    /// "NEC1 D=4 S=251 F=8", parameters in decimal.
    std::string text() const;
};

/// The best decode as one line: "NEC1 D=4 S=251 F=8  (nec 0x0408)"; "" when there is none.
std::string describe(std::span<const Decode> decodes);

/// Durations decode() looks at: longer input is cut (a frame of the longest protocol is
/// under 200 durations; this holds many repeats).
inline constexpr std::size_t kMaxDecodeDurations = 4096;

/// Every protocol that explains `durations_us` (alternating mark/space, starting with a
/// mark), best first. `carrier_hz` is the measured carrier, 0 when unknown; it orders
/// protocols that differ only in their carrier (NEC2 and Pioneer, RCA and RCA-38).
/// Preference: decodes that explain the whole input before those that explain a leading
/// part of it; then the order of all(). Empty when nothing fits.
std::vector<Decode> decode(std::span<const uint32_t> durations_us, double carrier_hz = 0);

/// decode() of a code as it is sent: the once part followed by the repeat part twice (so
/// that the repeat rule shows). The signal's carrier orders the decodes.
std::vector<Decode> decode(const Signal &signal);

struct EncodeResult {
    Signal signal;      ///< once part: intro frame(s); repeat part: what is sent while held
    std::string error;  ///< e.g. "NEC1: F=256 is out of range (at most 255)"
    bool ok() const { return error.empty(); }
};

/// The signal of a protocol with these parameters. Omitted parameters take their
/// fallback; an unknown name, a missing required parameter, a value out of range or a
/// parameter given twice is an error. A fixed parameter picks the protocol's variant of
/// that name with that value.
EncodeResult encode(const ProtocolInfo &protocol, std::span<const Param> params);

/// The signal the kernel protocol sends for `scancode`. A scancode with bits outside the
/// protocol's mask, or one the protocol cannot carry (a "necx" scancode whose address
/// bytes are complements of each other), is an error.
EncodeResult encode(const KernelProtocolInfo &protocol, uint64_t scancode);

/// A protocol code as text, in either form:
///   "NEC1 D=4 F=8"   protocol name, then NAME=VALUE words (decimal, or hex with 0x)
///   "nec:0x0408"     kernel protocol name and scancode (hex with 0x, or decimal)
/// Words are separated by blanks; at most kMaxCodeTextChars characters. Errors name the
/// word at fault: "unknown protocol 'NEX1'", "'D=x' is not NAME=VALUE with a number".
EncodeResult encode(std::string_view code_text);

/// Longest protocol code text encode() reads.
inline constexpr std::size_t kMaxCodeTextChars = 512;

/// True when the text starts like a protocol code (a known protocol or kernel protocol
/// name as its first word) rather than Pronto hex, so callers that take either form can
/// tell them apart before parsing.
bool is_protocol_code(std::string_view code_text);

}  // namespace ir::protocols
