// SPDX-License-Identifier: MIT
// The protocol table: one row per protocol, in preference order, and the kernel's
// scancode forms.
//
// Each row follows the protocol's IRP definition (carrier, unit, bit coding, frame, repeat
// frame, parameters). Durations are in µs; a row's unit is the step its durations are
// multiples of. Where the Linux kernel encodes a protocol with slightly different timings,
// the row keeps within one carrier period of both, so that either decodes and what we send
// matches `ir-ctl -S`.
#include <array>
#include <bit>

#include "table.h"

namespace ir::protocols::detail {
namespace {

// Parameter indexes: the position of the parameter in the row's params.
constexpr uint8_t D = 0, S = 1, F = 2, T = 3;

// --- NEC family: {38.4k,564}<1,-1|1,-3> --------------------------------------------------

constexpr double kNec = 564;
constexpr Symbol kNecSymbols[] = {sym(kNec, -kNec), sym(kNec, -3 * kNec)};
constexpr Coding kNecCoding[] = {{kNecSymbols}};

constexpr ParamSpec kNecParams[] = {param("D", 8), param_not("S", 8, D), param("F", 8)};
constexpr ParamSpec kNecxParams[] = {param("D", 8), param_copy("S", 8, D), param("F", 8)};
constexpr ParamSpec kNecF16Params[] = {param("D", 8), param_not("S", 8, D), param("F", 16)};

constexpr Item kNec1Frame[] = {mark(16 * kNec), space(8 * kNec), bits(D, 8), bits(S, 8),
                               bits(F, 8),      inv(F, 8),       mark(kNec), extent(108000)};
constexpr Item kNecDitto[] = {mark(16 * kNec), space(4 * kNec), mark(kNec), extent(108000)};
constexpr Item kNecxFrame[] = {mark(8 * kNec), space(8 * kNec), bits(D, 8), bits(S, 8),
                               bits(F, 8),     inv(F, 8),       mark(kNec), extent(108000)};
constexpr Item kNecxDitto[] = {mark(8 * kNec), space(8 * kNec), bits(D, 1), mark(kNec),
                               extent(108000)};
constexpr Item kNecRncFrame[] = {mark(16 * kNec), space(8 * kNec), bits(D, 8),
                                 bits(S, 8),      bits(F, 8),      inv(F, 4, 4),
                                 inv(F, 4),       mark(kNec),      extent(108000)};
constexpr Item kNecF16Frame[] = {mark(16 * kNec), space(8 * kNec), bits(D, 8),    bits(S, 8),
                                 bits(F, 16),     mark(kNec),      extent(108000)};

// Apple: NEC1 framing, S=135, a parity bit and a pairing id.
constexpr uint8_t kPairId = 2;
constexpr ParamSpec kAppleParams[] = {param_or("D", 8, 238), param("F", 7), param("PairID", 8)};
uint64_t apple_parity(const Values &p) {
    return 1 - (std::popcount(p[1]) + std::popcount(p[kPairId])) % 2;
}
constexpr Item kAppleFrame[] = {
    mark(16 * kNec), space(8 * kNec),  bits(0, 8), konst(135, 8), check(apple_parity, 1),
    bits(1, 7),      bits(kPairId, 8), mark(kNec), extent(108000)};

// Sanyo, Aiwa, NEC42: a 13-bit device and an 8-bit function, each followed by its
// complement, in NEC framing. Aiwa splits the device into D:8 and S:5.
constexpr double kSanyo = 562.5;
constexpr Symbol kSanyoSymbols[] = {sym(kSanyo, -kSanyo), sym(kSanyo, -3 * kSanyo)};
constexpr Coding kSanyoCoding[] = {{kSanyoSymbols}};
constexpr ParamSpec kD13Params[] = {param("D", 13), param("F", 8)};
constexpr Item kSanyoFrame[] = {mark(16 * kSanyo), space(8 * kSanyo), bits(0, 13),
                                inv(0, 13),        bits(1, 8),        inv(1, 8),
                                mark(kSanyo),      space(42 * kSanyo)};
constexpr Item kSanyoRepeat[] = {mark(16 * kSanyo), space(8 * kSanyo), mark(kSanyo),
                                 space(165 * kSanyo)};
constexpr double kAiwa = 550;
constexpr Symbol kAiwaSymbols[] = {sym(kAiwa, -kAiwa), sym(kAiwa, -3 * kAiwa)};
constexpr Coding kAiwaCoding[] = {{kAiwaSymbols}};
constexpr ParamSpec kAiwaParams[] = {param("D", 8), param("S", 5), param("F", 8)};
constexpr Item kAiwaFrame[] = {mark(16 * kAiwa), space(8 * kAiwa), bits(D, 8), bits(S, 5),
                               inv(D, 8),        inv(S, 5),        bits(F, 8), inv(F, 8),
                               mark(kAiwa),      space(42 * kAiwa)};
constexpr Item kAiwaRepeat[] = {mark(16 * kAiwa), space(8 * kAiwa), mark(kAiwa),
                                space(165 * kAiwa)};
constexpr Item kNec42Frame[] = {mark(16 * kNec), space(8 * kNec), bits(0, 13), inv(0, 13),
                                bits(1, 8),      inv(1, 8),       mark(kNec),  extent(108000)};
constexpr ParamSpec kNec42extParams[] = {param("D", 26), param("F", 16)};
constexpr Item kNec42extFrame[] = {mark(16 * kNec), space(8 * kNec), bits(0, 26),
                                   bits(1, 16),     mark(kNec),      extent(108000)};

// Samsung20: {38.4k,564} with the NECx header; Samsung36: a stop bit inside.
constexpr ParamSpec kSamsung20Params[] = {param("D", 6), param("S", 6), param("F", 8)};
constexpr Item kSamsung20Frame[] = {mark(8 * kNec), space(8 * kNec), bits(D, 6),    bits(S, 6),
                                    bits(F, 8),     mark(kNec),      extent(100000)};
constexpr double kSamsung36 = 560;
constexpr Symbol kSamsung36Symbols[] = {sym(kSamsung36, -kSamsung36),
                                        sym(kSamsung36, -3 * kSamsung36)};
constexpr Coding kSamsung36Coding[] = {{kSamsung36Symbols}};
constexpr ParamSpec kSamsung36Params[] = {param("D", 8), param("S", 8), param("F", 8),
                                          param("E", 4)};
constexpr Item kSamsung36Frame[] = {
    mark(4500), space(4500), bits(D, 8), bits(S, 8),       mark(kSamsung36), space(9 * kSamsung36),
    bits(3, 4), bits(F, 8),  inv(F, 8),  mark(kSamsung36), extent(108000)};

// --- Sony: {40k,600}<1,-1|2,-1> ---------------------------------------------------------

constexpr double kSony = 600;
constexpr Symbol kSonySymbols[] = {sym(kSony, -kSony), sym(2 * kSony, -kSony)};
constexpr Coding kSonyCoding[] = {{kSonySymbols}};
// Sony sends F first: its parameters are listed D, S, F all the same.
constexpr ParamSpec kSony12Params[] = {param("D", 5), param("F", 7)};
constexpr ParamSpec kSony15Params[] = {param("D", 8), param("F", 7)};
constexpr ParamSpec kSony20Params[] = {param("D", 5), param("S", 8), param("F", 7)};
constexpr ParamSpec kSony8Params[] = {param("F", 8)};
constexpr Item kSony12Frame[] = {mark(4 * kSony), space(kSony), bits(1, 7), bits(0, 5),
                                 extent(45000)};
constexpr Item kSony15Frame[] = {mark(4 * kSony), space(kSony), bits(1, 7), bits(0, 8),
                                 extent(45000)};
constexpr Item kSony20Frame[] = {mark(4 * kSony), space(kSony), bits(2, 7),
                                 bits(0, 5),      bits(1, 8),   extent(45000)};
constexpr Item kSony8Frame[] = {mark(4 * kSony), space(kSony), bits(0, 8), extent(45000)};

// --- RC5: {36k,msb,889}<1,-1|-1,1> --------------------------------------------------------

constexpr double kRc5 = 889;
constexpr Symbol kRc5Symbols[] = {sym(kRc5, -kRc5), sym(-kRc5, kRc5)};
constexpr Coding kRc5Coding[] = {{kRc5Symbols}};
constexpr ParamSpec kRc5Params[] = {param("D", 5), param("F", 7), toggle("T", 1)};
constexpr Item kRc5Frame[] = {mark(kRc5), inv(1, 1, 6), bits(2, 1),
                              bits(0, 5), bits(1, 6),   extent(114000)};
constexpr ParamSpec kRc5xParams[] = {param("D", 5), param("S", 7), param("F", 6), toggle("T", 1)};
constexpr Item kRc5xFrame[] = {mark(kRc5),      inv(S, 1, 6), bits(T, 1), bits(D, 5),
                               space(4 * kRc5), bits(S, 6),   bits(F, 6), extent(114000)};
constexpr ParamSpec kRc57fParams[] = {param("D", 6), param("F", 7), toggle("T", 1)};
constexpr Item kRc57fFrame[] = {mark(kRc5), inv(0, 1, 5), bits(2, 1),
                                bits(0, 5), bits(1, 7),   extent(114000)};

// --- RC6: {36k,444,msb}<-1,1|1,-1>, the trailer bit <-2,2|2,-2> ----------------------------

constexpr double kRc6 = 444;
constexpr Symbol kRc6Symbols[] = {sym(-kRc6, kRc6), sym(kRc6, -kRc6)};
constexpr Symbol kRc6Trailer[] = {sym(-2 * kRc6, 2 * kRc6), sym(2 * kRc6, -2 * kRc6)};
constexpr Coding kRc6Codings[] = {{kRc6Symbols}, {kRc6Trailer}};
constexpr ParamSpec kRc6Params[] = {param("D", 8), param("F", 8), toggle("T", 1)};
constexpr Item kRc6Frame[] = {mark(6 * kRc6),       space(2 * kRc6), konst(1, 1), konst(0, 3),
                              coded(bits(2, 1), 1), bits(0, 8),      bits(1, 8),  extent(107000)};
constexpr ParamSpec kRc620Params[] = {param("D", 8), param("S", 4), param("F", 8), toggle("T", 1)};
constexpr Item kRc620Frame[] = {mark(6 * kRc6), space(2 * kRc6),      konst(1, 1),
                                konst(6, 3),    coded(bits(T, 1), 1), bits(D, 8),
                                bits(S, 4),     bits(F, 8),           space(100000)};
constexpr ParamSpec kRc624Params[] = {param("D", 8), param("S", 8), param("F", 8), toggle("T", 1)};
constexpr Item kRc624Frame[] = {mark(6 * kRc6), space(2 * kRc6),      konst(1, 1),
                                konst(6, 3),    coded(bits(T, 1), 1), bits(D, 8),
                                bits(S, 8),     bits(F, 8),           space(100000)};
constexpr ParamSpec kRc632Params[] = {param("OEM1", 8), param("OEM2", 8), param("D", 8),
                                      param("F", 8), toggle("T", 1)};
constexpr Item kRc632Frame[] = {mark(6 * kRc6),       space(2 * kRc6), konst(1, 1), konst(6, 3),
                                coded(bits(4, 1), 1), bits(0, 8),      bits(1, 8),  bits(2, 8),
                                bits(3, 8),           extent(107000)};
// MCE: RC6-6-32 with OEM1=128, the trailer bit 0 and a toggle of its own in the data.
constexpr ParamSpec kMceParams[] = {param("D", 7), param("S", 8), param("F", 8), toggle("T", 1)};
constexpr Item kMceFrame[] = {mark(6 * kRc6),  space(2 * kRc6), konst(1, 1),   konst(6, 3),
                              space(2 * kRc6), mark(2 * kRc6),  konst(128, 8), bits(S, 8),
                              bits(T, 1),      bits(D, 7),      bits(F, 8),    extent(107000)};

// --- JVC: {37.9k,526}<1,-1|1,-3>; the repeat frame has no header -------------------------

// 526 µs: within a carrier period of both the IRP's 527 and the kernel's 525.
constexpr double kJvc = 526;
constexpr Symbol kJvcSymbols[] = {sym(kJvc, -kJvc), sym(kJvc, -3 * kJvc)};
constexpr Coding kJvcCoding[] = {{kJvcSymbols}};
constexpr ParamSpec kJvcParams[] = {param("D", 8), param("F", 8)};
constexpr Item kJvcIntro[] = {mark(16 * kJvc), space(8 * kJvc), bits(0, 8),
                              bits(1, 8),      mark(kJvc),      extent(59080)};
constexpr Item kJvcRepeat[] = {bits(0, 8), bits(1, 8), mark(kJvc), extent(46420)};

// --- Kaseikyo family: {37k,432}<1,-1|1,-3>(8,-4,OEM codes,data,check,1,-173) -------------

constexpr double kKase = 432;
constexpr Symbol kKaseSymbols[] = {sym(kKase, -kKase), sym(kKase, -3 * kKase)};
constexpr Coding kKaseCoding[] = {{kKaseSymbols}};
constexpr ParamSpec kDsfParams[] = {param("D", 8), param("S", 8), param("F", 8)};
uint64_t xor_dsf(const Values &p) {
    return p[D] ^ p[S] ^ p[F];
}
constexpr Item kPanasonicFrame[] = {
    mark(8 * kKase), space(4 * kKase), konst(2, 8),       konst(32, 8), bits(D, 8),
    bits(S, 8),      bits(F, 8),       check(xor_dsf, 8), mark(kKase),  space(173 * kKase)};
constexpr Item kJvc48Frame[] = {mark(8 * kKase), space(4 * kKase),  konst(3, 8), konst(1, 8),
                                bits(D, 8),      bits(S, 8),        bits(F, 8),  check(xor_dsf, 8),
                                mark(kKase),     space(173 * kKase)};
constexpr ParamSpec kPanasonic2Params[] = {param("D", 8), param("S", 8), param("F", 8),
                                           param("X", 8)};
uint64_t xor_dsxf(const Values &p) {
    return p[D] ^ p[S] ^ p[F] ^ p[3];
}
constexpr Item kPanasonic2Frame[] = {mark(8 * kKase), space(4 * kKase),  konst(2, 8),
                                     konst(32, 8),    bits(D, 8),        bits(S, 8),
                                     bits(3, 8),      bits(F, 8),        check(xor_dsxf, 8),
                                     mark(kKase),     space(173 * kKase)};
constexpr ParamSpec kDenonKParams[] = {param("D", 4), param("S", 4), param("F", 12)};
uint64_t denon_k_check(const Values &p) {
    return (p[D] * 16) ^ p[S] ^ (p[F] * 16) ^ ((p[F] >> 8) & 0xF);
}
constexpr Item kDenonKFrame[] = {mark(8 * kKase), space(4 * kKase),  konst(84, 8),
                                 konst(50, 8),    konst(0, 4),       bits(D, 4),
                                 bits(S, 4),      bits(F, 12),       check(denon_k_check, 8),
                                 mark(kKase),     space(173 * kKase)};
uint64_t nibbles(uint64_t v) {
    return (v & 0xF) + ((v >> 4) & 0xF);
}
uint64_t mitsubishi_k_check(const Values &p) {
    return 15 - nibbles(p[S]) - nibbles(p[F]);
}
constexpr Item kMitsubishiKFrame[] = {
    mark(8 * kKase), space(4 * kKase),  konst(35, 8),
    konst(203, 8),   konst(6, 4),       bits(D, 8),
    bits(S, 8),      bits(F, 8),        check(mitsubishi_k_check, 4),
    mark(kKase),     space(100 * kKase)};
// Kaseikyo: OEM codes M and N, a nibble X from them, D:4, S, F, E:4 and a check nibble.
constexpr uint8_t kM = 4, kN = 5, kE = 3;
constexpr ParamSpec kKaseikyoParams[] = {param("D", 4), param("S", 8), param("F", 8),
                                         param("E", 4), param("M", 8), param("N", 8)};
uint64_t kaseikyo_x(const Values &p) {
    const uint64_t mn = p[kM] ^ p[kN];
    return (mn >> 4) ^ mn;
}
uint64_t kaseikyo_c(const Values &p) {
    const uint64_t sum = p[D] ^ p[S] ^ p[F] ^ (p[kE] * 16);
    return (sum >> 4) ^ sum;
}
constexpr Item kKaseikyoFrame[] = {mark(8 * kKase),      space(4 * kKase),     bits(kM, 8),
                                   bits(kN, 8),          check(kaseikyo_x, 4), bits(D, 4),
                                   bits(S, 8),           bits(F, 8),           bits(kE, 4),
                                   check(kaseikyo_c, 4), mark(kKase),          space(173 * kKase)};

// --- Denon and Sharp: {38k,264}<1,-3|1,-7>, two halves, the second complemented ----------

constexpr double kDenon = 264;
constexpr Symbol kDenonSymbols[] = {sym(kDenon, -3 * kDenon), sym(kDenon, -7 * kDenon)};
constexpr Coding kDenonCoding[] = {{kDenonSymbols}};
constexpr ParamSpec kDenonParams[] = {param("D", 5), param("F", 8)};
constexpr Item kDenonFrame[] = {bits(0, 5),          bits(1, 8),         konst(0, 2), mark(kDenon),
                                space(165 * kDenon), bits(0, 5),         inv(1, 8),   konst(3, 2),
                                mark(kDenon),        space(165 * kDenon)};
// Sharp: Denon's frame with other constants, at the 320 µs pulse and 1 ms / 2 ms bit periods
// that Sharp and the kernel use (a 264 µs unit is 5 % off them).
constexpr Symbol kSharpSymbols[] = {sym(320, -680), sym(320, -1680)};
constexpr Coding kSharpCoding[] = {{kSharpSymbols}};
constexpr Item kSharpFrame[] = {bits(0, 5), bits(1, 8), konst(1, 2), mark(320), space(40000),
                                bits(0, 5), inv(1, 8),  konst(2, 2), mark(320), space(40000)};

// Mitsubishi: {32.6k,300}<1,-3|1,-7>(D:8,F:8,1,-80).
constexpr double kMitsubishi = 300;
constexpr Symbol kMitsubishiSymbols[] = {sym(kMitsubishi, -3 * kMitsubishi),
                                         sym(kMitsubishi, -7 * kMitsubishi)};
constexpr Coding kMitsubishiCoding[] = {{kMitsubishiSymbols}};
constexpr ParamSpec kDfParams[] = {param("D", 8), param("F", 8)};
constexpr Item kMitsubishiFrame[] = {bits(0, 8), bits(1, 8), mark(kMitsubishi),
                                     space(80 * kMitsubishi)};

// RCA: {58k,460,msb}<1,-2|1,-4>(8,-8,D:4,F:8,~D:4,~F:8,1,-16); RCA-38 at 38.7 kHz.
constexpr double kRca = 460;
constexpr Symbol kRcaSymbols[] = {sym(kRca, -2 * kRca), sym(kRca, -4 * kRca)};
constexpr Coding kRcaCoding[] = {{kRcaSymbols}};
constexpr ParamSpec kRcaParams[] = {param("D", 4), param("F", 8)};
constexpr Item kRcaFrame[] = {mark(8 * kRca), space(8 * kRca), bits(0, 4), bits(1, 8),
                              inv(0, 4),      inv(1, 8),       mark(kRca), space(16 * kRca)};

// --- XMP: {38k,136,msb}, 16 symbols 210u,-(760+136n)u, two half frames -----------------

constexpr Symbol xmp_symbol(int n) {
    return sym(210, -(760 + 136 * n));
}
constexpr Symbol kXmpSymbols[] = {xmp_symbol(0),  xmp_symbol(1),  xmp_symbol(2),  xmp_symbol(3),
                                  xmp_symbol(4),  xmp_symbol(5),  xmp_symbol(6),  xmp_symbol(7),
                                  xmp_symbol(8),  xmp_symbol(9),  xmp_symbol(10), xmp_symbol(11),
                                  xmp_symbol(12), xmp_symbol(13), xmp_symbol(14), xmp_symbol(15)};
constexpr Coding kXmpCoding[] = {{kXmpSymbols}};
constexpr uint8_t kOem = 3;
constexpr ParamSpec kXmpParams[] = {param("D", 8), param("S", 8), param("F", 16),
                                    param_or("OEM", 8, 68)};
constexpr ParamSpec kXmp8Params[] = {param("D", 8), param("S", 8), param("F", 8),
                                     param_or("OEM", 8, 68)};
uint64_t nibble_sum(uint64_t v) {
    uint64_t sum = 0;
    for (; v != 0; v >>= 4) {
        sum += v & 0xF;
    }
    return sum;
}
uint64_t xmp_c1(const Values &p) {
    return 0 - (nibble_sum(p[S]) + 15 + nibble_sum(p[kOem]) + nibble_sum(p[D]));
}
template <int T>
uint64_t xmp_c2(const Values &p) {
    return 0 - (nibble_sum(p[S]) + T + nibble_sum(p[F]));
}
// Where XMP puts F in its 16-bit function: all of it, the high byte (XMP-1) or the low
// byte (XMP-2). T is 0 in the first frame and 8 in the repeats.
enum class XmpF { Word, High, Low };
struct Frame {
    std::array<Item, 16> items{};
    std::size_t n = 0;
    constexpr std::span<const Item> span() const { return {items.data(), n}; }
};
constexpr Frame xmp_frame(CheckFn c2, uint64_t t, XmpF f) {
    Frame fr;
    for (const Item &i :
         {bits(S, 4, 4), check(xmp_c1, 4), bits(S, 4), konst(15, 4), bits(kOem, 8), bits(D, 8),
          mark(210), space(13800), bits(S, 4, 4), check(c2, 4), konst(t, 4), bits(S, 4)}) {
        fr.items[fr.n++] = i;
    }
    if (f == XmpF::Word) {
        fr.items[fr.n++] = bits(F, 16);
    } else {
        fr.items[fr.n++] = f == XmpF::High ? bits(F, 8) : konst(0, 8);
        fr.items[fr.n++] = f == XmpF::High ? konst(0, 8) : bits(F, 8);
    }
    fr.items[fr.n++] = mark(210);
    fr.items[fr.n++] = space(80400);
    return fr;
}
constexpr Frame kXmpIntro = xmp_frame(xmp_c2<0>, 0, XmpF::Word);
constexpr Frame kXmpRepeat = xmp_frame(xmp_c2<8>, 8, XmpF::Word);
constexpr Frame kXmp1Intro = xmp_frame(xmp_c2<0>, 0, XmpF::High);
constexpr Frame kXmp1Repeat = xmp_frame(xmp_c2<8>, 8, XmpF::High);
constexpr Frame kXmp2Intro = xmp_frame(xmp_c2<0>, 0, XmpF::Low);
constexpr Frame kXmp2Repeat = xmp_frame(xmp_c2<8>, 8, XmpF::Low);

// --- RC-MM and Nokia32: {36k,1p,msb}<6,-10|6,-16|6,-22|6,-28>, two bits a symbol --------

constexpr double kP36 = 1e6 / 36000;  // one carrier period
constexpr Symbol kRcmmSymbols[] = {sym(6 * kP36, -10 * kP36), sym(6 * kP36, -16 * kP36),
                                   sym(6 * kP36, -22 * kP36), sym(6 * kP36, -28 * kP36)};
constexpr Coding kRcmmCoding[] = {{kRcmmSymbols}};
constexpr ParamSpec kNokia32Params[] = {param("D", 8), param("S", 8), param("F", 8), param("X", 7),
                                        toggle("T", 1)};
constexpr Item kNokia32Frame[] = {mark(15 * kP36), space(10 * kP36), bits(D, 8),
                                  bits(S, 8),      bits(4, 1),       bits(3, 7),
                                  bits(F, 8),      mark(6 * kP36),   extent(100000)};
constexpr ParamSpec kF32Params[] = {param("F", 32)};
constexpr ParamSpec kF24Params[] = {param("F", 24)};
constexpr ParamSpec kF12Params[] = {param("F", 12)};
constexpr Item kRcmm32Frame[] = {mark(15 * kP36), space(10 * kP36), bits(0, 32), mark(6 * kP36),
                                 extent(100000)};
constexpr Item kRcmm24Frame[] = {mark(15 * kP36), space(10 * kP36), bits(0, 24), mark(6 * kP36),
                                 extent(100000)};
constexpr Item kRcmm12Frame[] = {mark(15 * kP36), space(10 * kP36), bits(0, 12), mark(6 * kP36),
                                 extent(100000)};

// Dish_Network: {57.6k,406}<1,-7|1,-4>(1,-15,(F:-6,S:5,D:5,1,-15)+); F goes msb first.
constexpr double kDish = 406;
constexpr Symbol kDishSymbols[] = {sym(kDish, -7 * kDish), sym(kDish, -4 * kDish)};
constexpr Coding kDishCoding[] = {{kDishSymbols}};
constexpr ParamSpec kDishParams[] = {param("D", 5), param("S", 5), param("F", 6)};
constexpr Item kDishIntro[] = {mark(kDish), space(15 * kDish), rev(F, 6),        bits(S, 5),
                               bits(D, 5),  mark(kDish),       space(15 * kDish)};
constexpr Item kDishRepeat[] = {rev(F, 6), bits(S, 5), bits(D, 5), mark(kDish), space(15 * kDish)};

// G.I.Cable: {38.7k,490}<1,-4.5|1,-9>(18,-9,F:8,D:4,C:4,1,-84,(18,-4.5,1,-178)*).
constexpr double kGi = 490;
constexpr Symbol kGiSymbols[] = {sym(kGi, -4.5 * kGi), sym(kGi, -9 * kGi)};
constexpr Coding kGiCoding[] = {{kGiSymbols}};
constexpr ParamSpec kGiParams[] = {param("D", 4), param("F", 8)};
uint64_t gi_check(const Values &p) {
    return 0 - (p[0] + (p[1] & 0xF) + (p[1] >> 4));
}
constexpr Item kGiIntro[] = {mark(18 * kGi),     space(9 * kGi), bits(1, 8),     bits(0, 4),
                             check(gi_check, 4), mark(kGi),      space(84 * kGi)};
constexpr Item kGiRepeat[] = {mark(18 * kGi), space(4.5 * kGi), mark(kGi), space(178 * kGi)};

// Grundig16: {35.7k,578,msb}<-4,2|-3,1,-1,1|-2,1,-2,1|-1,1,-3,1>
//            (806u,-2960u,1346u,T:1,F:8,D:7,-100).
constexpr double kGr = 578;
constexpr Symbol kGrundigSymbols[] = {sym(-4 * kGr, 2 * kGr), sym(-3 * kGr, kGr, -kGr, kGr),
                                      sym(-2 * kGr, kGr, -2 * kGr, kGr),
                                      sym(-kGr, kGr, -3 * kGr, kGr)};
constexpr Coding kGrundigCoding[] = {{kGrundigSymbols}};
constexpr ParamSpec kGrundigParams[] = {param("D", 7), param("F", 8), toggle("T", 1)};
constexpr Item kGrundigFrame[] = {mark(806),  space(2960), mark(1346),      bits(2, 1),
                                  bits(1, 8), bits(0, 7),  space(100 * kGr)};

// Thomson: {33k,500}<1,-4|1,-9>((D:4,T:1,D:1:4,F:6,1,^80m)*,T=1-T).
constexpr double kThomson = 500;
constexpr Symbol kThomsonSymbols[] = {sym(kThomson, -4 * kThomson), sym(kThomson, -9 * kThomson)};
constexpr Coding kThomsonCoding[] = {{kThomsonSymbols}};
constexpr ParamSpec kThomsonParams[] = {param("D", 5), param("F", 6), toggle("T", 1)};
constexpr Item kThomsonFrame[] = {bits(0, 4), bits(2, 1),     bits(0, 1, 4),
                                  bits(1, 6), mark(kThomson), extent(80000)};

// Bose: {38k,500,msb}<1,-1|1,-3>(2,-3,F:8,~F:8,1,-50m).
constexpr double kBose = 500;
constexpr Symbol kBoseSymbols[] = {sym(kBose, -kBose), sym(kBose, -3 * kBose)};
constexpr Coding kBoseCoding[] = {{kBoseSymbols}};
constexpr ParamSpec kFParams[] = {param("F", 8)};
constexpr Item kBoseFrame[] = {mark(2 * kBose), space(3 * kBose), bits(0, 8),
                               inv(0, 8),       mark(kBose),      space(50000)};

// Epson: {38.4k,577}<2,-1|1,-2|1,-1|2,-2>(4,-1,D:8,T1:2,OBC:6,T2:2,S:8,1,-75m); the
// frame that ends a press (with ~F1, ~F2 and a longer lead-out) is not modelled.
constexpr double kEpson = 577;
constexpr Symbol kEpsonSymbols[] = {sym(2 * kEpson, -kEpson), sym(kEpson, -2 * kEpson),
                                    sym(kEpson, -kEpson), sym(2 * kEpson, -2 * kEpson)};
constexpr Coding kEpsonCoding[] = {{kEpsonSymbols}};
constexpr ParamSpec kEpsonParams[] = {param("D", 8), param("S", 8), param("OBC", 6),
                                      param_or("T1", 2, 0), param_or("T2", 2, 0)};
constexpr Item kEpsonFrame[] = {mark(4 * kEpson), space(kEpson), bits(D, 8),
                                bits(3, 2),       bits(2, 6),    bits(4, 2),
                                bits(S, 8),       mark(kEpson),  space(75000)};

// Xbox-DVD: {38k,msb}<550u,-900u|550u,-1900u>(4000u,-3900u,~F:12,F:12,550u,-40m).
constexpr Symbol kXboxSymbols[] = {sym(550, -900), sym(550, -1900)};
constexpr Coding kXboxCoding[] = {{kXboxSymbols}};
constexpr Item kXboxFrame[] = {mark(4000),  space(3900), inv(0, 12),
                               bits(0, 12), mark(550),   space(40000)};

// iMON: a 415.662 µs unit, one mark, then 31 bits msb first, each a check half and a data
// half (a mark for 0); the check half is a mark where the mask has the bit and the bit and
// the one before it are both 0.
constexpr double kImon = 415.662;
constexpr Coding kImonCoding[] = {{{},
                                   (1u << 30) | (1u << 25) | (1u << 24) | (1u << 22) | (1u << 21) |
                                       (1u << 20) | (1u << 19) | (1u << 18) | (1u << 17) |
                                       (1u << 16) | (1u << 14) | (1u << 13) | (1u << 12) |
                                       (1u << 11) | (1u << 10) | (1u << 9),
                                   float(kImon)}};
constexpr ParamSpec kImonParams[] = {param("F", 31)};
constexpr Item kImonFrame[] = {mark(kImon), bits(0, 31), space(12000)};
// Runs of units are counted as the kernel counts them: a duration is the whole number of
// units nearest to it, so each fits within half a unit, however long the run (a relative
// tolerance would let a run of 15 units pass for 14 or 16).
constexpr float kImonTolerance = 200;
static_assert(kImonTolerance < kImon / 2);

// Zenith: {40k,520,msb}<1,-10|1,-1,1,-8>(S:1,<1:2|2:2>(F:D),-90m): F's D bits (5 to 8) each
// go as two of S's symbols (0 as 0 then 1, 1 as 1 then 0). One row per width.
constexpr double kZenith = 520;
constexpr Symbol kZenithSymbols[] = {sym(kZenith, -10 * kZenith),
                                     sym(kZenith, -kZenith, kZenith, -8 * kZenith)};
constexpr Symbol kZenithPairs[] = {{{float(kZenith), float(-10 * kZenith), float(kZenith),
                                     float(-kZenith), float(kZenith), float(-8 * kZenith)},
                                    6},
                                   {{float(kZenith), float(-kZenith), float(kZenith),
                                     float(-8 * kZenith), float(kZenith), float(-10 * kZenith)},
                                    6}};
constexpr Coding kZenithCodings[] = {{kZenithSymbols}, {kZenithPairs}};
template <uint8_t Width>
struct Zenith {
    static constexpr ParamSpec params[] = {param("S", 1), param("F", Width),
                                           param_fixed("D", 4, Width)};
    static constexpr Item frame[] = {bits(0, 1), coded(bits(1, Width), 1), space(90000)};
};

// Kernel families.
enum Family : uint8_t {
    kNone,
    kNecFamily,
    kNec32Family,
    kSony12Fam,
    kSony15Fam,
    kSony20Fam,
    kRc5Fam,
    kRc5xFam,
    kRc5szFam,
    kRc6Fam,
    kRc620Fam,
    kRc624Fam,
    kRc632Fam,
    kMceFam,
    kJvcFam,
    kSanyoFam,
    kAiwaFam,
    kSharpFam,
    kRcmm32Fam,
    kNokia32Fam,
    kRcmm24Fam,
    kRcmm12Fam,
    kXboxFam,
    kImonFam
};

constexpr Row kRows[] = {
    {.id = Id::Apple,
     .name = "Apple",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kAppleParams,
     .codings = kNecCoding,
     .intro = kAppleFrame,
     .repeat = kNecDitto,
     .repeats = Repeat::Ditto},
    {.id = Id::NEC1,
     .name = "NEC1",
     .aliases = "NEC",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNecParams,
     .codings = kNecCoding,
     .intro = kNec1Frame,
     .repeat = kNecDitto,
     .repeats = Repeat::Ditto,
     .kernel_family = kNecFamily},
    {.id = Id::NEC2,
     .name = "NEC2",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNecParams,
     .codings = kNecCoding,
     .intro = kNec1Frame,
     .kernel_family = kNecFamily,
     .twin = 1},
    {.id = Id::Pioneer,
     .name = "Pioneer",
     .carrier_hz = 40000,
     .unit_us = kNec,
     .params = kNecParams,
     .codings = kNecCoding,
     .intro = kNec1Frame,
     .kernel_family = kNecFamily,
     .twin = 1},
    {.id = Id::NECx1,
     .name = "NECx1",
     .aliases = "NECx Samsung32",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNecxParams,
     .codings = kNecCoding,
     .intro = kNecxFrame,
     .repeat = kNecxDitto,
     .repeats = Repeat::Ditto},
    {.id = Id::NECx2,
     .name = "NECx2",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNecxParams,
     .codings = kNecCoding,
     .intro = kNecxFrame},
    {.id = Id::NEC1_rnc,
     .name = "NEC1-rnc",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNecParams,
     .codings = kNecCoding,
     .intro = kNecRncFrame,
     .repeat = kNecDitto,
     .repeats = Repeat::Ditto},
    {.id = Id::NEC1_f16,
     .name = "NEC1-f16",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNecF16Params,
     .codings = kNecCoding,
     .intro = kNecF16Frame,
     .repeat = kNecDitto,
     .repeats = Repeat::Ditto,
     .kernel_family = kNec32Family},

    {.id = Id::Sanyo,
     .name = "Sanyo",
     .carrier_hz = 38000,
     .unit_us = kSanyo,
     .params = kD13Params,
     .codings = kSanyoCoding,
     .intro = kSanyoFrame,
     .repeat = kSanyoRepeat,
     .repeats = Repeat::Ditto,
     .kernel_family = kSanyoFam},
    {.id = Id::Aiwa,
     .name = "Aiwa",
     .carrier_hz = 38123,
     .unit_us = kAiwa,
     .params = kAiwaParams,
     .codings = kAiwaCoding,
     .intro = kAiwaFrame,
     .repeat = kAiwaRepeat,
     .repeats = Repeat::Ditto,
     .kernel_family = kAiwaFam},
    {.id = Id::NEC42,
     .name = "NEC42",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kD13Params,
     .codings = kNecCoding,
     .intro = kNec42Frame,
     .repeat = kNecDitto,
     .repeats = Repeat::Ditto,
     .kernel_family = kSanyoFam},
    {.id = Id::NEC42ext,
     .name = "NEC42ext",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kNec42extParams,
     .codings = kNecCoding,
     .intro = kNec42extFrame,
     .repeat = kNecDitto,
     .repeats = Repeat::Ditto},
    {.id = Id::Samsung20,
     .name = "Samsung20",
     .carrier_hz = 38400,
     .unit_us = kNec,
     .params = kSamsung20Params,
     .codings = kNecCoding,
     .intro = kSamsung20Frame},
    {.id = Id::Samsung36,
     .name = "Samsung36",
     .carrier_hz = 37900,
     .unit_us = kSamsung36,
     .params = kSamsung36Params,
     .codings = kSamsung36Coding,
     .intro = kSamsung36Frame},
    {.id = Id::Sony12,
     .name = "Sony12",
     .aliases = "SIRC SIRC12",
     .carrier_hz = 40000,
     .unit_us = kSony,
     .params = kSony12Params,
     .codings = kSonyCoding,
     .intro = kSony12Frame,
     .kernel_family = kSony12Fam},
    {.id = Id::Sony15,
     .name = "Sony15",
     .aliases = "SIRC15",
     .carrier_hz = 40000,
     .unit_us = kSony,
     .params = kSony15Params,
     .codings = kSonyCoding,
     .intro = kSony15Frame,
     .kernel_family = kSony15Fam},
    {.id = Id::Sony20,
     .name = "Sony20",
     .aliases = "SIRC20",
     .carrier_hz = 40000,
     .unit_us = kSony,
     .params = kSony20Params,
     .codings = kSonyCoding,
     .intro = kSony20Frame,
     .kernel_family = kSony20Fam},
    {.id = Id::Sony8,
     .name = "Sony8",
     .carrier_hz = 40000,
     .unit_us = kSony,
     .params = kSony8Params,
     .codings = kSonyCoding,
     .intro = kSony8Frame,
     .repeats = Repeat::Once},

    {.id = Id::RC5,
     .name = "RC5",
     .carrier_hz = 36000,
     .unit_us = kRc5,
     .msb = true,
     .params = kRc5Params,
     .codings = kRc5Coding,
     .intro = kRc5Frame,
     .kernel_family = kRc5Fam},
    {.id = Id::RC5x,
     .name = "RC5x",
     .carrier_hz = 36000,
     .unit_us = kRc5,
     .msb = true,
     .params = kRc5xParams,
     .codings = kRc5Coding,
     .intro = kRc5xFrame,
     .kernel_family = kRc5xFam},
    {.id = Id::RC5_7F,
     .name = "RC5-7F",
     .aliases = "StreamZap",
     .carrier_hz = 36000,
     .unit_us = kRc5,
     .msb = true,
     .params = kRc57fParams,
     .codings = kRc5Coding,
     .intro = kRc57fFrame,
     .kernel_family = kRc5szFam},

    {.id = Id::RC6,
     .name = "RC6",
     .aliases = "RC6-0-16",
     .carrier_hz = 36000,
     .unit_us = kRc6,
     .msb = true,
     .params = kRc6Params,
     .codings = kRc6Codings,
     .intro = kRc6Frame,
     .kernel_family = kRc6Fam},
    {.id = Id::RC6_6_20,
     .name = "RC6-6-20",
     .carrier_hz = 36000,
     .unit_us = kRc6,
     .msb = true,
     .params = kRc620Params,
     .codings = kRc6Codings,
     .intro = kRc620Frame,
     .kernel_family = kRc620Fam},
    {.id = Id::RC6_6_24,
     .name = "RC6-6-24",
     .aliases = "Replay",
     .carrier_hz = 36000,
     .unit_us = kRc6,
     .msb = true,
     .params = kRc624Params,
     .codings = kRc6Codings,
     .intro = kRc624Frame,
     .kernel_family = kRc624Fam},
    {.id = Id::MCE,
     .name = "MCE",
     .carrier_hz = 36000,
     .unit_us = kRc6,
     .msb = true,
     .params = kMceParams,
     .codings = kRc6Codings,
     .intro = kMceFrame,
     .kernel_family = kMceFam},
    {.id = Id::RC6_6_32,
     .name = "RC6-6-32",
     .carrier_hz = 36000,
     .unit_us = kRc6,
     .msb = true,
     .params = kRc632Params,
     .codings = kRc6Codings,
     .intro = kRc632Frame,
     .kernel_family = kRc632Fam},

    {.id = Id::JVC,
     .name = "JVC",
     .carrier_hz = 37900,
     .unit_us = kJvc,
     .params = kJvcParams,
     .codings = kJvcCoding,
     .intro = kJvcIntro,
     .repeat = kJvcRepeat,
     .repeats = Repeat::Ditto,
     .kernel_family = kJvcFam},
    {.id = Id::Panasonic,
     .name = "Panasonic",
     .carrier_hz = 37000,
     .unit_us = kKase,
     .params = kDsfParams,
     .codings = kKaseCoding,
     .intro = kPanasonicFrame},
    {.id = Id::Panasonic2,
     .name = "Panasonic2",
     .carrier_hz = 37000,
     .unit_us = kKase,
     .params = kPanasonic2Params,
     .codings = kKaseCoding,
     .intro = kPanasonic2Frame},
    {.id = Id::Denon_K,
     .name = "Denon-K",
     .carrier_hz = 37000,
     .unit_us = kKase,
     .params = kDenonKParams,
     .codings = kKaseCoding,
     .intro = kDenonKFrame},
    {.id = Id::JVC_48,
     .name = "JVC-48",
     .carrier_hz = 37000,
     .unit_us = kKase,
     .params = kDsfParams,
     .codings = kKaseCoding,
     .intro = kJvc48Frame},
    {.id = Id::Mitsubishi_K,
     .name = "Mitsubishi-K",
     .carrier_hz = 37000,
     .unit_us = kKase,
     .params = kDsfParams,
     .codings = kKaseCoding,
     .intro = kMitsubishiKFrame},
    {.id = Id::Kaseikyo,
     .name = "Kaseikyo",
     .carrier_hz = 37000,
     .unit_us = kKase,
     .params = kKaseikyoParams,
     .codings = kKaseCoding,
     .intro = kKaseikyoFrame},

    {.id = Id::Denon,
     .name = "Denon",
     .carrier_hz = 38000,
     .unit_us = kDenon,
     .params = kDenonParams,
     .codings = kDenonCoding,
     .intro = kDenonFrame},
    {.id = Id::Sharp,
     .name = "Sharp",
     .carrier_hz = 38000,
     .unit_us = 40,
     .params = kDenonParams,
     .codings = kSharpCoding,
     .intro = kSharpFrame,
     .kernel_family = kSharpFam},
    {.id = Id::Mitsubishi,
     .name = "Mitsubishi",
     .carrier_hz = 32600,
     .unit_us = kMitsubishi,
     .params = kDfParams,
     .codings = kMitsubishiCoding,
     .intro = kMitsubishiFrame},
    {.id = Id::RCA,
     .name = "RCA",
     .carrier_hz = 58000,
     .unit_us = kRca,
     .msb = true,
     .params = kRcaParams,
     .codings = kRcaCoding,
     .intro = kRcaFrame,
     .twin = 2},
    {.id = Id::RCA_38,
     .name = "RCA-38",
     .carrier_hz = 38700,
     .unit_us = kRca,
     .msb = true,
     .params = kRcaParams,
     .codings = kRcaCoding,
     .intro = kRcaFrame,
     .twin = 2},

    {.id = Id::XMP_1,
     .name = "XMP-1",
     .carrier_hz = 38000,
     .unit_us = 136,
     .msb = true,
     .rel_tol = 0.02f,
     .abs_tol_us = 50,
     .params = kXmp8Params,
     .codings = kXmpCoding,
     .intro = kXmp1Intro.span(),
     .repeat = kXmp1Repeat.span(),
     .repeats = Repeat::Ditto},
    {.id = Id::XMP_2,
     .name = "XMP-2",
     .carrier_hz = 38000,
     .unit_us = 136,
     .msb = true,
     .rel_tol = 0.02f,
     .abs_tol_us = 50,
     .params = kXmp8Params,
     .codings = kXmpCoding,
     .intro = kXmp2Intro.span(),
     .repeat = kXmp2Repeat.span(),
     .repeats = Repeat::Ditto},
    {.id = Id::XMP,
     .name = "XMP",
     .carrier_hz = 38000,
     .unit_us = 136,
     .msb = true,
     .rel_tol = 0.02f,
     .abs_tol_us = 50,
     .params = kXmpParams,
     .codings = kXmpCoding,
     .intro = kXmpIntro.span(),
     .repeat = kXmpRepeat.span(),
     .repeats = Repeat::Ditto},
    {.id = Id::Nokia32,
     .name = "Nokia32",
     .carrier_hz = 36000,
     .unit_us = kP36,
     .msb = true,
     .rel_tol = 0.05f,
     .abs_tol_us = 50,
     .params = kNokia32Params,
     .codings = kRcmmCoding,
     .intro = kNokia32Frame,
     .kernel_family = kNokia32Fam},
    {.id = Id::RC_MM_32,
     .name = "RC-MM-32",
     .aliases = "RCMM32",
     .carrier_hz = 36000,
     .unit_us = kP36,
     .msb = true,
     .rel_tol = 0.05f,
     .abs_tol_us = 50,
     .params = kF32Params,
     .codings = kRcmmCoding,
     .intro = kRcmm32Frame,
     .kernel_family = kRcmm32Fam},
    {.id = Id::RC_MM_24,
     .name = "RC-MM-24",
     .aliases = "RCMM24",
     .carrier_hz = 36000,
     .unit_us = kP36,
     .msb = true,
     .rel_tol = 0.05f,
     .abs_tol_us = 50,
     .params = kF24Params,
     .codings = kRcmmCoding,
     .intro = kRcmm24Frame,
     .kernel_family = kRcmm24Fam},
    {.id = Id::RC_MM_12,
     .name = "RC-MM-12",
     .aliases = "RCMM12",
     .carrier_hz = 36000,
     .unit_us = kP36,
     .msb = true,
     .rel_tol = 0.05f,
     .abs_tol_us = 50,
     .params = kF12Params,
     .codings = kRcmmCoding,
     .intro = kRcmm12Frame,
     .kernel_family = kRcmm12Fam},

    {.id = Id::Dish_Network,
     .name = "Dish_Network",
     .aliases = "Dish",
     .carrier_hz = 57600,
     .unit_us = kDish,
     .params = kDishParams,
     .codings = kDishCoding,
     .intro = kDishIntro,
     .repeat = kDishRepeat,
     .repeats = Repeat::Ditto},
    {.id = Id::GI_Cable,
     .name = "G.I.Cable",
     .aliases = "GI_Cable",
     .carrier_hz = 38700,
     .unit_us = kGi,
     .params = kGiParams,
     .codings = kGiCoding,
     .intro = kGiIntro,
     .repeat = kGiRepeat,
     .repeats = Repeat::Ditto},
    {.id = Id::Grundig16,
     .name = "Grundig16",
     .carrier_hz = 35700,
     .unit_us = kGr,
     .msb = true,
     .params = kGrundigParams,
     .codings = kGrundigCoding,
     .intro = kGrundigFrame},
    {.id = Id::Thomson,
     .name = "Thomson",
     .carrier_hz = 33000,
     .unit_us = kThomson,
     .params = kThomsonParams,
     .codings = kThomsonCoding,
     .intro = kThomsonFrame},
    {.id = Id::Bose,
     .name = "Bose",
     .carrier_hz = 38000,
     .unit_us = kBose,
     .msb = true,
     .params = kFParams,
     .codings = kBoseCoding,
     .intro = kBoseFrame},
    {.id = Id::Epson,
     .name = "Epson",
     .carrier_hz = 38400,
     .unit_us = kEpson,
     .params = kEpsonParams,
     .codings = kEpsonCoding,
     .intro = kEpsonFrame},
    {.id = Id::Xbox_DVD,
     .name = "Xbox-DVD",
     .carrier_hz = 38000,
     .unit_us = 550,
     .msb = true,
     .params = kF12Params,
     .codings = kXboxCoding,
     .intro = kXboxFrame,
     .kernel_family = kXboxFam},
    {.id = Id::iMON,
     .name = "iMON",
     .carrier_hz = 38000,
     .unit_us = kImon,
     .msb = true,
     .rel_tol = 0,
     .abs_tol_us = kImonTolerance,
     .params = kImonParams,
     .codings = kImonCoding,
     .intro = kImonFrame,
     .kernel_family = kImonFam},
    {.id = Id::Zenith5,
     .name = "Zenith",
     .carrier_hz = 40000,
     .unit_us = kZenith,
     .msb = true,
     .params = Zenith<5>::params,
     .codings = kZenithCodings,
     .intro = Zenith<5>::frame},
    {.id = Id::Zenith6,
     .name = "Zenith",
     .carrier_hz = 40000,
     .unit_us = kZenith,
     .msb = true,
     .params = Zenith<6>::params,
     .codings = kZenithCodings,
     .intro = Zenith<6>::frame},
    {.id = Id::Zenith7,
     .name = "Zenith",
     .carrier_hz = 40000,
     .unit_us = kZenith,
     .msb = true,
     .params = Zenith<7>::params,
     .codings = kZenithCodings,
     .intro = Zenith<7>::frame},
    {.id = Id::Zenith8,
     .name = "Zenith",
     .carrier_hz = 40000,
     .unit_us = kZenith,
     .msb = true,
     .params = Zenith<8>::params,
     .codings = kZenithCodings,
     .intro = Zenith<8>::frame},
};

static_assert(std::size(kRows) == std::size_t(Id::Count));
constexpr bool ids_in_order() {
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        if (std::size_t(kRows[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(ids_in_order(), "kRows must list the rows in the order of Id");

// --- Kernel scancode forms ---------------------------------------------------------------

bool address_complemented(const Values &p) {
    return p[S] == (~p[D] & 0xFF);
}
bool address_plain(const Values &p) {
    return !address_complemented(p);
}
bool command_plain(const Values &p) {
    return (p[F] >> 8) != (~p[F] & 0xFF);
}
bool f16_nec(const Values &p) {
    return !command_plain(p) && address_complemented(p);
}
bool f16_necx(const Values &p) {
    return !command_plain(p) && address_plain(p);
}
bool mce_vendor(const Values &p) {
    return p[S] == 0x0F;
}
bool mce_other(const Values &p) {
    return p[S] != 0x0F;
}
bool rc632_mce_vendor(const Values &p) {
    return p[0] == 0x80 && p[1] == 0x0F;
}
bool rc632_other(const Values &p) {
    return !rc632_mce_vendor(p);
}
bool rcmm_toggles(const Values &p) {
    return (p[0] & 0x000C0000) != 0x000C0000;
}
bool nokia_toggles(const Values &p) {
    return (p[S] & 0x0C) != 0x0C;
}
bool nokia_toggle_in_code(const Values &p) {
    return !nokia_toggles(p) && p[4] != 0;
}

constexpr KernelForm kForms[] = {
    {"nec", 0xFFFF, Id::NEC1, kNecFamily, {{{D, 8, 8}, {F, 8, 0}}}, 2, 0, address_complemented},
    {"necx",
     0xFFFFFF,
     Id::NEC1,
     kNecFamily,
     {{{D, 8, 16}, {S, 8, 8}, {F, 8, 0}}},
     3,
     0,
     address_plain},
    {"nec32",
     0xFFFFFFFF,
     Id::NEC1_f16,
     kNec32Family,
     {{{S, 8, 24}, {D, 8, 16}, {F, 16, 0}}},
     3,
     0,
     command_plain},
    // NEC1-f16 whose F is a command and its complement: what the kernel calls nec or necx.
    {"nec", 0xFFFF, Id::NEC1, kNec32Family, {{{D, 8, 8}, {F, 8, 0}}}, 2, 0, f16_nec},
    {"necx",
     0xFFFFFF,
     Id::NEC1,
     kNec32Family,
     {{{D, 8, 16}, {S, 8, 8}, {F, 8, 0}}},
     3,
     0,
     f16_necx},
    {"sony12", 0x1F007F, Id::Sony12, kSony12Fam, {{{0, 5, 16}, {1, 7, 0}}}, 2},
    {"sony15", 0xFF007F, Id::Sony15, kSony15Fam, {{{0, 8, 16}, {1, 7, 0}}}, 2},
    {"sony20", 0x1FFF7F, Id::Sony20, kSony20Fam, {{{0, 5, 16}, {1, 8, 8}, {2, 7, 0}}}, 3},
    {"rc5", 0x1F7F, Id::RC5, kRc5Fam, {{{0, 5, 8}, {1, 7, 0}}}, 2},
    {"rc5x_20", 0x1F7F3F, Id::RC5x, kRc5xFam, {{{D, 5, 16}, {S, 7, 8}, {F, 6, 0}}}, 3},
    {"rc5_sz", 0x2FFF, Id::RC5_7F, kRc5szFam, {{{0, 1, 13, 5, true}, {0, 5, 7}, {1, 7, 0}}}, 3},
    {"rc6_0", 0xFFFF, Id::RC6, kRc6Fam, {{{0, 8, 8}, {1, 8, 0}}}, 2},
    {"rc6_6a_20", 0xFFFFF, Id::RC6_6_20, kRc620Fam, {{{D, 8, 12}, {S, 4, 8}, {F, 8, 0}}}, 3},
    {"rc6_6a_24", 0xFFFFFF, Id::RC6_6_24, kRc624Fam, {{{D, 8, 16}, {S, 8, 8}, {F, 8, 0}}}, 3},
    // The first form of a name is the one that encodes it.
    {"rc6_mce",
     0xFFFF7FFF,
     Id::MCE,
     kMceFam,
     {{{S, 8, 16}, {D, 7, 8}, {F, 8, 0}}},
     3,
     0x80000000,
     mce_vendor},
    {"rc6_6a_32",
     0xFFFFFFFF,
     Id::RC6_6_32,
     kRc632Fam,
     {{{0, 8, 24}, {1, 8, 16}, {2, 8, 8}, {3, 8, 0}}},
     4,
     0,
     rc632_other},
    {"rc6_6a_32",
     0xFFFFFFFF,
     Id::MCE,
     kMceFam,
     {{{S, 8, 16}, {T, 1, 15}, {D, 7, 8}, {F, 8, 0}}},
     4,
     0x80000000,
     mce_other},
    {"rc6_mce",
     0xFFFF7FFF,
     Id::RC6_6_32,
     kRc632Fam,
     {{{1, 8, 16}, {2, 7, 8}, {3, 8, 0}}},
     3,
     0x80000000,
     rc632_mce_vendor},
    {"jvc", 0xFFFF, Id::JVC, kJvcFam, {{{0, 8, 8}, {1, 8, 0}}}, 2},
    {"sanyo", 0x1FFFFF, Id::Sanyo, kSanyoFam, {{{0, 13, 8}, {1, 8, 0}}}, 2},
    {"sanyo", 0x1FFFFF, Id::Aiwa, kAiwaFam, {{{D, 8, 8}, {S, 5, 16}, {F, 8, 0}}}, 3},
    {"sharp", 0x1FFF, Id::Sharp, kSharpFam, {{{0, 5, 8}, {1, 8, 0}}}, 2},
    // rc-mm-32 reports bit 15 as a toggle, not in the scancode, unless bits 18 and 19 are set.
    {"rcmm32",
     0xFFFFFFFF,
     Id::RC_MM_32,
     kRcmm32Fam,
     {{{0, 15, 0}, {0, 16, 16, 16}}},
     2,
     0,
     rcmm_toggles},
    {"rcmm32", 0xFFFFFFFF, Id::RC_MM_32, kRcmm32Fam, {{{0, 32, 0}}}, 1},
    {"rcmm32",
     0xFFFFFFFF,
     Id::Nokia32,
     kNokia32Fam,
     {{{D, 8, 24}, {S, 8, 16}, {3, 7, 8}, {F, 8, 0}}},
     4,
     0,
     nokia_toggles},
    {"rcmm32",
     0xFFFFFFFF,
     Id::Nokia32,
     kNokia32Fam,
     {{{D, 8, 24}, {S, 8, 16}, {3, 7, 8}, {F, 8, 0}}},
     4,
     0x8000,
     nokia_toggle_in_code},
    {"rcmm32",
     0xFFFFFFFF,
     Id::Nokia32,
     kNokia32Fam,
     {{{D, 8, 24}, {S, 8, 16}, {3, 7, 8}, {F, 8, 0}}},
     4},
    {"rcmm24", 0xFFFFFF, Id::RC_MM_24, kRcmm24Fam, {{{0, 24, 0}}}, 1},
    {"rcmm12", 0xFFF, Id::RC_MM_12, kRcmm12Fam, {{{0, 12, 0}}}, 1},
    {"xbox-dvd", 0xFFF, Id::Xbox_DVD, kXboxFam, {{{0, 12, 0}}}, 1},
    {"imon", 0x7FFFFFFF, Id::iMON, kImonFam, {{{0, 31, 0}}}, 1},
};

}  // namespace

std::span<const Row> rows() {
    return kRows;
}
std::span<const KernelForm> kernel_forms() {
    return kForms;
}

}  // namespace ir::protocols::detail
