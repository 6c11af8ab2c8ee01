// SPDX-License-Identifier: MIT
#include "ir/pronto.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "test_signals.h"

namespace {

// NEC1 D=12 S=34 F=56 as a learned code.
const std::string kV1 =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 "
    "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0041 0016 06A4 015B 0057 0016 0E6C";

// RC5 D=1 F=1 as a learned code.
const std::string kRc5Long =
    "0000 0073 0000 000C 0020 0020 0040 0020 0020 0020 0020 0020 0020 0020 0020 0040 0040 "
    "0020 0020 0020 0020 0020 0020 0020 0020 0040 0020 0CA8";

std::string replace_word(std::string text, std::size_t word, const std::string &with) {
    text.replace(5 * word, 4, with);  // canonical text: word i starts at 5 * i
    return text;
}

ir::ParseResult parse_ok(const std::string &text) {
    ir::ParseResult r = ir::parse_pronto(text);
    EXPECT_TRUE(r.ok()) << r.error << "\n  for: " << text.substr(0, 80);
    return r;
}

// Every duration of `b` within one carrier period (of `period_us`) of `a`.
void expect_close(const ir::Signal &a, const ir::Signal &b, double period_us) {
    ASSERT_EQ(a.once.size(), b.once.size());
    ASSERT_EQ(a.repeat.size(), b.repeat.size());
    auto close = [&](const std::vector<ir::Burst> &x, const std::vector<ir::Burst> &y) {
        for (std::size_t i = 0; i < x.size(); ++i) {
            EXPECT_LE(std::abs(double(x[i].on_us) - y[i].on_us), period_us) << "pair " << i;
            EXPECT_LE(std::abs(double(x[i].off_us) - y[i].off_us), period_us) << "pair " << i;
        }
    };
    close(a.once, b.once);
    close(a.repeat, b.repeat);
}

std::vector<ir::Burst> pairs_of(const std::vector<uint32_t> &d) {
    std::vector<ir::Burst> out;
    for (std::size_t i = 0; i + 1 < d.size(); i += 2) {
        out.push_back({d[i], d[i + 1]});
    }
    return out;
}

// NEC1 as raw µs at its nominal 38.4 kHz: frame padded to 108 ms, ditto frame repeated.
ir::Signal raw_nec(uint8_t d, uint8_t s, uint8_t f) {
    std::vector<uint32_t> once;
    std::vector<uint32_t> repeat;
    irtest::append_frame(once, irtest::nec_frame(d, s, f), 108000);
    irtest::append_frame(repeat, irtest::nec_ditto(), 108000);
    return {38400, std::nullopt, pairs_of(once), pairs_of(repeat)};
}

TEST(ProntoParse, LearnedNecGivesPublishedTimings) {
    const ir::Signal s = parse_ok(kV1).signal;
    EXPECT_NEAR(s.carrier_hz, 38381, 1);
    ASSERT_EQ(s.once.size(), 34u);
    EXPECT_EQ(s.once[0], (ir::Burst{9041, 4507}));
    EXPECT_EQ(s.once[1], (ir::Burst{573, 573}));
    EXPECT_EQ(s.once[3], (ir::Burst{573, 1694}));
    EXPECT_EQ(s.once[33], (ir::Burst{573, 44293}));
    EXPECT_EQ(s.repeat, (std::vector<ir::Burst>{{9041, 2267}, {573, 96193}}));
    EXPECT_FALSE(s.duty_cycle.has_value());
}

TEST(ProntoEncode, RawNecCaptureGivesThePublishedCode) {
    const ir::EncodeResult r = ir::encode_pronto(raw_nec(12, 34, 56));
    EXPECT_EQ(r.text, kV1);
    EXPECT_FALSE(r.clamped);
}

TEST(ProntoEncode, HalfPeriodsRoundUpAgainstTheUnquantizedCarrier) {
    const ir::Signal s{38000, std::nullopt, {{9000, 4500}, {560, 1690}, {2250, 560}}, {}};
    EXPECT_EQ(ir::encode_pronto(s).text, "0000 006D 0003 0000 0156 00AB 0015 0040 0056 0015");
}

TEST(ProntoEncode, FrequencyWords) {
    const std::vector<std::pair<double, uint16_t>> cases{
        {36000, 0x73}, {38000, 0x6D}, {38400, 0x6C}, {40000, 0x68}, {56000, 0x4A}};
    for (const auto &[hz, word] : cases) {
        EXPECT_EQ(ir::pronto_frequency_word(hz), word) << hz;
    }
    EXPECT_NEAR(ir::pronto_frequency(0x6D), 38029, 1);
    EXPECT_NEAR(ir::pronto_frequency(0x4A), 56015, 1);
    EXPECT_EQ(ir::pronto_frequency_word(1), 0xFFFF);  // clamped
    EXPECT_EQ(ir::pronto_frequency_word(1e9), 1);
    EXPECT_EQ(ir::pronto_frequency_word(std::nan("")), 0x6D);
}

TEST(ProntoEncode, ClampsAndReportsWhatDoesNotFit) {
    struct Case {
        ir::Signal signal;
        std::string text;
        bool clamped;
    };
    const std::vector<Case> cases{
        {{38000, std::nullopt, {{560, 2'000'000}}, {}}, "0000 006D 0001 0000 0015 FFFF", true},
        {{38000, std::nullopt, {{0, 560}}, {}}, "0000 006D 0001 0000 0001 0015", true},
        {{0, std::nullopt, {{560, 560}}, {{9000, 2250}}},
         "0100 006D 0001 0001 0015 0015 0156 0056",
         false},
        {{std::nan(""), std::nullopt, {{560, 560}}, {}}, "0100 006D 0001 0000 0015 0015", false},
        {{1, std::nullopt, {{560, 560}}, {}}, "0000 FFFF 0001 0000 0001 0001", true},
    };
    for (const Case &c : cases) {
        const ir::EncodeResult r = ir::encode_pronto(c.signal);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.clamped, c.clamped) << c.text;
        EXPECT_TRUE(ir::is_valid_pronto(r.text)) << r.text;
    }
    EXPECT_FALSE(ir::encode_pronto(ir::Signal{38000, std::nullopt, {}, {}}).ok());
}

TEST(ProntoShortForms, Rc5EqualsItsLearnedForm) {
    EXPECT_EQ(parse_ok("5000 0073 0000 0001 0001 0001").signal, parse_ok(kRc5Long).signal);
    EXPECT_EQ(ir::encode_pronto(parse_ok("5000 0073 0000 0001 0001 0001").signal).text, kRc5Long);
}

TEST(ProntoShortForms, NecEqualsTheRawProtocol) {
    // S defaults to 0xFF - D = F3; 38C7 is F=56 with its check byte.
    const ir::Signal s = parse_ok("900A 006C 0000 0001 0CF3 38C7").signal;
    EXPECT_EQ(ir::encode_pronto(s).text, ir::encode_pronto(raw_nec(12, 0xF3, 56)).text);
    EXPECT_EQ(s.once.size(), 34u);
    EXPECT_EQ(s.repeat.size(), 2u);
}

TEST(ProntoShortForms, Rc6MatchesItsUnitPattern) {
    // RC6 mode 0, D=0 F=0, in 444 µs units: leader, start 1, mode 000, toggle 0 at double
    // width, sixteen 0 bits (space first), then the gap to 107 ms.
    std::vector<int> units{6, 2, 1, 2, 1, 1, 1, 1, 1, 2, 2};
    for (int i = 0; i < 16; ++i) {
        units.push_back(1);
        units.push_back(1);
    }
    int sum = 0;
    std::vector<uint32_t> us;
    for (int u : units) {
        sum += u * 444;
        us.push_back(uint32_t(u * 444));
    }
    us.push_back(uint32_t(107000 - sum));
    const ir::Signal expected{36000, std::nullopt, {}, pairs_of(us)};
    EXPECT_EQ(ir::encode_pronto(parse_ok("6000 0073 0000 0001 0000 0000").signal).text,
              ir::encode_pronto(expected).text);
}

TEST(ProntoShortForms, Rc5xIsOneFrameOf114Ms) {
    const ir::Signal s = parse_ok("5001 0073 0000 0002 001F 007F 003F 0000").signal;
    EXPECT_TRUE(s.once.empty());
    uint64_t total = 0;
    for (const ir::Burst &b : s.repeat) {
        total += b.on_us + b.off_us;
    }
    // Counted at 36 kHz, read back at the word's 36045 Hz: 0.13 % short.
    EXPECT_NEAR(double(total), 114000, 250);
    // S and F differ: so do the timings.
    EXPECT_NE(s, parse_ok("5001 0073 0000 0002 001F 007E 003F 0000").signal);
}

TEST(ProntoParse, AcceptsAnyWhiteSpaceAndEitherCase) {
    const ir::Signal canonical = parse_ok(kRc5Long).signal;
    std::string messy = "\r\n\t ";
    int blanks = 0;
    for (char c : kRc5Long) {
        if (c == ' ') {
            messy += ++blanks % 3 == 0 ? "\r\n\t  " : blanks % 3 == 1 ? "\n" : "  ";
        } else {
            messy += char(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    messy += " \r\n";
    EXPECT_EQ(parse_ok(messy).signal, canonical);
}

struct Refusal {
    std::string text;
    std::string error;
};

void expect_refused(const std::vector<Refusal> &cases) {
    for (const Refusal &c : cases) {
        const ir::ParseResult r = ir::parse_pronto(c.text);
        EXPECT_EQ(r.error, c.error) << "text: " << c.text.substr(0, 60);
        EXPECT_FALSE(ir::is_valid_pronto(c.text)) << c.text.substr(0, 60);
    }
}

TEST(ProntoParse, RefusesThePublishedBadCodes) {
    expect_refused({
        {"123 456", "word 1: '123' has 3 digits, 4 expected"},
        {"0000 006C 0022 0002 015B", "at least 6 words expected, 5 found"},
        {replace_word(kV1, 2, "0020"), "4 + 2 × 34 words expected, 76 found"},
        {replace_word(kV1, 6, "015G"), "word 7: '015G' is not hexadecimal"},
        {"0000 006c 0000 0000", "at least 6 words expected, 4 found"},
        {replace_word(kV1, 0, "0123"),
         "word 1: unknown type 0123 (0000, 0100, 5000, 5001, 6000 or 900A expected)"},
        {replace_word(kV1, 3, "0003"), "4 + 2 × 37 words expected, 76 found"},
    });
}

TEST(ProntoParse, RefusesEveryClassOfBadTextWithItsReason) {
    using std::string_literals::operator""s;
    expect_refused({
        {"", "the code is empty"},
        {" \r\n\t ", "the code is empty"},
        {"0x1F 006D 0000 0001 0010 0010", "word 1: '0x1F' is not hexadecimal"},
        {"0000 +06D 0000 0001 0010 0010", "word 2: '+06D' is not hexadecimal"},
        {"0000 006D 0000 0001 0010 00100", "word 6: '00100' has 5 digits, 4 expected"},
        {"0000 006D 0000 0001 0010 0"s + '\0' + "010", "word 6: '0\\x00010' is not hexadecimal"},
        {"0000 006D 0000 0001 0010 \xB5s", "word 6: '\\xB5s' is not hexadecimal"},
        {"0000 006D 0000 0001 0010 0010 0010", "an even number of words expected, 7 found"},
        {"0000 0000 0000 0001 0010 0010", "word 2: the frequency word is 0000"},
        {"0000 006D 0000 0000 0010 0010", "words 3 and 4: the code has no burst pairs"},
        {"0100 006D 0001 0000 0010 0000", "word 6: duration 0000 is zero"},
        {"0000 006D 0001 0001 0010 0010 0000 0010", "word 7: duration 0000 is zero"},
        {"5000 0073 0001 0001 0001 0001", "word 3: 0000 expected for an RC5 code, 0001 found"},
        {"5000 0073 0000 0002 0001 0001", "word 4: 0001 expected for an RC5 code, 0002 found"},
        {"5000 0073 0000 0001 0001 0001 0000 0000", "4 + 2 × 1 words expected, 8 found"},
        {"5000 0073 0000 0001 0020 0001", "word 5: RC5 device 32 is out of range (at most 31)"},
        {"5000 0073 0000 0001 0001 0080", "word 6: RC5 command 128 is out of range (at most 127)"},
        {"5001 0073 0000 0002 0001 0080 0001 0000",
         "word 6: RC5x subdevice 128 is out of range (at most 127)"},
        {"5001 0073 0000 0002 0001 0001 0040 0000",
         "word 7: RC5x command 64 is out of range (at most 63)"},
        {"5001 0073 0000 0002 0001 0001 0001 0001",
         "word 8: 0000 expected for an RC5x code, 0001 found"},
        {"6000 0073 0000 0001 0100 0001", "word 5: RC6 device 256 is out of range (at most 255)"},
        {"900A 006C 0000 0001 0CF3 38C8",
         "word 6: NEC1 check byte C8 does not match command 38 (C7 expected)"},
    });
}

TEST(ProntoParse, LongestTextIsAcceptedOneMoreCharacterIsNot) {
    // 4 + 2 x 202 words take 2039 characters; line breaks fill up to the limit.
    std::string text = "0000 006D 00CA 0000";
    for (int i = 0; i < 2 * 202; ++i) {
        text += " 0015";
    }
    text += std::string(ir::kMaxProntoChars - text.size(), '\n');
    ASSERT_EQ(text.size(), ir::kMaxProntoChars);
    EXPECT_EQ(parse_ok(text).signal.once.size(), 202u);
    EXPECT_TRUE(ir::is_valid_pronto(text));
    expect_refused({{text + " ", "the code is 2049 characters long, at most 2048 allowed"}});
}

TEST(ProntoParse, JunkOfAnySizeIsRefusedOrAnswered) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string junk(1 << 20, '\0');
    for (char &c : junk) {
        c = char(byte(rng));
    }
    expect_refused({{junk, "the code is 1048576 characters long, at most 2048 allowed"}});

    // Short random texts drawn from hex digits, blanks and a few other bytes: the two entry
    // points agree, and whatever parses re-encodes to a valid code.
    const std::string alphabet = "0000000123456789ABCDEFabcdef     \n\t\r\0xG";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> length(0, 80);
    for (int i = 0; i < 5000; ++i) {
        std::string text(length(rng), ' ');
        for (char &c : text) {
            c = alphabet[pick(rng)];
        }
        const ir::ParseResult r = ir::parse_pronto(text);
        ASSERT_EQ(r.ok(), ir::is_valid_pronto(text)) << text;
        if (r.ok()) {
            EXPECT_TRUE(ir::is_valid_pronto(ir::encode_pronto(r.signal).text)) << text;
        }
    }
}

TEST(ProntoRoundTrip, DurationsStayWithinOneCarrierPeriod) {
    std::vector<std::string> codes{kV1,
                                   kRc5Long,
                                   "5000 0073 0000 0001 001F 007F",
                                   "5001 0073 0000 0002 0005 0040 0021 0000",
                                   "6000 0073 0000 0001 00FF 0012",
                                   "900A 006C 0000 0001 1234 817E",
                                   "0100 0068 0001 0001 0030 0060 0010 2000"};
    // Random learned codes with carriers up to 1 MHz (a period of at least 1 µs: durations
    // are whole µs).
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> word(5, 0xFFFF);
    std::uniform_int_distribution<int> duration(1, 0xFFFF);
    std::uniform_int_distribution<int> pairs(0, 20);
    for (int i = 0; i < 200; ++i) {
        const int once = pairs(rng);
        const int repeat = std::max(1, pairs(rng));
        char head[32];
        // Unmodulated codes re-encode with the 38 kHz unit: keep theirs no longer.
        const bool unmodulated = i % 5 == 0;
        std::snprintf(head, sizeof head, "%s %04X %04X %04X", unmodulated ? "0100" : "0000",
                      unmodulated ? 5 + word(rng) % 0x69 : word(rng), once, repeat);
        std::string text = head;
        for (int k = 0; k < 2 * (once + repeat); ++k) {
            std::snprintf(head, sizeof head, " %04X", duration(rng));
            text += head;
        }
        codes.push_back(text);
    }
    for (const std::string &text : codes) {
        const ir::Signal first = parse_ok(text).signal;
        const ir::EncodeResult encoded = ir::encode_pronto(first);
        EXPECT_FALSE(encoded.clamped) << text;
        const ir::Signal second = parse_ok(encoded.text).signal;
        EXPECT_EQ(first.carrier_hz, second.carrier_hz);
        const double hz = first.carrier_hz > 0 ? first.carrier_hz : 38000;
        expect_close(first, second, 1e6 / hz);
        // Learned codes come back word for word.
        if (text.starts_with("0000")) {
            EXPECT_EQ(encoded.text, text);
        }
    }
}

}  // namespace
