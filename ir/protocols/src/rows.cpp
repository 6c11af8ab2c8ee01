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
    kJvcFam
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
};

}  // namespace

std::span<const Row> rows() {
    return kRows;
}
std::span<const KernelForm> kernel_forms() {
    return kForms;
}

}  // namespace ir::protocols::detail
