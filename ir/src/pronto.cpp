// SPDX-License-Identifier: MIT
// Pronto hex text <-> Signal.
//
// Validation never builds anything on the heap: the words go into a fixed array on the
// stack (a text of at most kMaxProntoChars characters holds at most 410 words), and error
// texts are only formatted when the caller asks for them. A text longer than
// kMaxProntoChars is refused before it is scanned, so every call is bounded by that length.
#include "ir/pronto.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace ir {
namespace {

constexpr std::size_t kMaxWords = kMaxProntoChars / 5 + 1;  // "XXXX " per word
constexpr std::size_t kMaxShownChars = 12;                  // of a bad word in a message

struct Words {
    std::array<uint16_t, kMaxWords> w{};
    std::size_t n = 0;
};

// Error reporting: `error` is null when the caller only wants a yes/no answer.
template <class Make>
bool fail(std::string *error, Make &&make) {
    if (error != nullptr) {
        *error = make();
    }
    return false;
}

std::string hex4(uint32_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s(4, '0');
    for (int i = 3; i >= 0; --i) {
        s[std::size_t(i)] = kDigits[v & 0xF];
        v >>= 4;
    }
    return s;
}

std::string num(std::size_t v) {
    return std::to_string(v);
}

std::string word_prefix(std::size_t index) {
    return "word " + num(index + 1) + ": ";
}

// A word as the user typed it, quoted, with control and non-ASCII bytes escaped and long
// words shortened, so that the message stays one readable line.
std::string shown(std::string_view token) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s = "'";
    for (std::size_t i = 0; i < token.size() && i < kMaxShownChars; ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            s += char(c);
        } else {
            s += "\\x";
            s += kDigits[c >> 4];
            s += kDigits[c & 0xF];
        }
    }
    if (token.size() > kMaxShownChars) {
        s += "...";
    }
    return s + "'";
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Splits the text into 4-digit hex words; stops at the first bad word.
bool read_words(std::string_view text, Words &out, std::string *error) {
    if (text.size() > kMaxProntoChars) {
        return fail(error, [&] {
            return "the code is " + num(text.size()) + " characters long, at most " +
                   num(kMaxProntoChars) + " allowed";
        });
    }
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && is_space(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        const std::size_t start = i;
        bool hex = true;
        while (i < text.size() && !is_space(text[i])) {
            hex = hex && hex_value(text[i]) >= 0;
            ++i;
        }
        const std::string_view token = text.substr(start, i - start);
        if (!hex) {
            return fail(error,
                        [&] { return word_prefix(out.n) + shown(token) + " is not hexadecimal"; });
        }
        if (token.size() != 4) {
            return fail(error, [&] {
                return word_prefix(out.n) + shown(token) + " has " + num(token.size()) +
                       " digits, 4 expected";
            });
        }
        if (out.n == kMaxWords) {  // cannot happen within kMaxProntoChars; kept as a guard
            return fail(error, [] { return std::string("too many words"); });
        }
        uint16_t v = 0;
        for (char c : token) {
            v = uint16_t((v << 4) | hex_value(c));
        }
        out.w[out.n++] = v;
    }
    return true;
}

// ---- Protocol short forms ---------------------------------------------------------------
//
// Expanded like the learned forms they stand for:
//   5000 RC5      {36k,889 us,msb} bi-phase, 1 = space-mark: start 1, ~F bit 6, toggle 0,
//                 D:5, F:6, frame padded to 114 ms; the frame is the repeat part.
//   5001 RC5x     as RC5 with start 1, ~S bit 6, toggle 0, D:5, a 4-unit space, S:6, F:6.
//   6000 RC6-0    {36k,444 us,msb} bi-phase, 1 = mark-space: leader 6 mark 2 space, start 1,
//                 mode 000, toggle 0 at double width, D:8, F:8, frame padded to 107 ms;
//                 the frame is the repeat part.
//   900A NEC1     {38.4k,564 us,lsb} 0 = 1,-1, 1 = 1,-3: 16 mark 8 space, D, S, F, ~F,
//                 stop mark, padded to 108 ms as the once part; the repeat part is the
//                 ditto frame 16 mark 4 space, stop mark, padded to 108 ms.
// The toggle bit is always 0. A leading space is dropped (an RC5 start bit), neighbours of
// the same level merge, and the trailing gap fills the frame to its stated length.
// Durations are counted in carrier periods rounded half up against the protocol's nominal
// carrier when the frequency word is that carrier's (0073 for 36 kHz, 006C for 38.4 kHz),
// else against the word's own frequency, and then read back like learned words: so
// `5000 0073 0000 0001 0001 0001` gives exactly the signal of its learned 0000 form.

struct ShortForm {
    uint16_t type;
    const char *name;
    std::size_t words;  // total word count
    uint16_t repeat_pairs_word;
    double nominal_hz;
};

constexpr std::array<ShortForm, 4> kShortForms{{
    {0x5000, "RC5", 6, 0x0001, 36000},
    {0x5001, "RC5x", 8, 0x0002, 36000},
    {0x6000, "RC6", 6, 0x0001, 36000},
    {0x900A, "NEC1", 6, 0x0001, 38400},
}};

const ShortForm *find_short_form(uint16_t type) {
    for (const ShortForm &f : kShortForms) {
        if (f.type == type) {
            return &f;
        }
    }
    return nullptr;
}

// One frame as signed durations in µs (mark > 0, space < 0), merged as they are added.
class Frame {
  public:
    explicit Frame(int32_t unit_us) : unit_(unit_us) {}

    void add(int32_t units) {
        const int32_t us = units * unit_;
        if (d_.empty() && us < 0) {
            return;  // a leading space is not sent and not part of the frame's length
        }
        if (!d_.empty() && (d_.back() > 0) == (us > 0)) {
            d_.back() += us;
        } else {
            d_.push_back(us);
        }
        total_ += us > 0 ? us : -us;
    }

    // Bi-phase bits, most significant first; `one` is the pair sent for a 1 bit.
    void biphase_msb(uint32_t value, int bits, int32_t one_first, int32_t width = 1) {
        for (int i = bits - 1; i >= 0; --i) {
            const int32_t first = ((value >> i) & 1) != 0 ? one_first : -one_first;
            add(first * width);
            add(-first * width);
        }
    }

    // NEC pulse-distance bits, least significant first.
    void distance_lsb(uint32_t value, int bits) {
        for (int i = 0; i < bits; ++i) {
            add(1);
            add(((value >> i) & 1) != 0 ? -3 : -1);
        }
    }

    // Pads the frame with a final space so that it lasts `extent_us`.
    std::vector<int32_t> finish(int32_t extent_us) {
        const int32_t gap = std::max(extent_us - total_, unit_);
        if (!d_.empty() && d_.back() < 0) {
            d_.back() -= gap;
        } else {
            d_.push_back(-gap);
        }
        return d_;
    }

  private:
    int32_t unit_;
    int32_t total_ = 0;
    std::vector<int32_t> d_;
};

uint32_t count_periods(double us, double hz) {
    const double c = std::floor(us * hz / 1e6 + 0.5);
    return c >= double(std::numeric_limits<uint32_t>::max()) ? std::numeric_limits<uint32_t>::max()
                                                             : uint32_t(c);
}

// Periods of the given frequency word in µs, at least 1 µs (a sender cannot send 0).
uint32_t periods_to_us(uint32_t periods, uint16_t frequency_word) {
    const double us = std::round(double(periods) * frequency_word * kProntoUnitUs);
    if (us >= double(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return std::max(uint32_t(us), uint32_t{1});
}

std::vector<Burst> to_bursts(const std::vector<int32_t> &frame, double count_hz,
                             uint16_t frequency_word) {
    std::vector<Burst> out;
    for (std::size_t i = 0; i + 1 < frame.size(); i += 2) {
        out.push_back({periods_to_us(count_periods(frame[i], count_hz), frequency_word),
                       periods_to_us(count_periods(-frame[i + 1], count_hz), frequency_word)});
    }
    return out;
}

std::string out_of_range(std::size_t index, const ShortForm &form, const char *field,
                         uint16_t value, uint16_t max) {
    return word_prefix(index) + form.name + " " + field + " " + num(value) +
           " is out of range (at most " + num(max) + ")";
}

bool check_short_form(const Words &words, const ShortForm &form, std::string *error) {
    const auto &w = words.w;
    if (w[2] != 0) {
        return fail(error, [&] {
            return word_prefix(2) + "0000 expected for an " + form.name + " code, " + hex4(w[2]) +
                   " found";
        });
    }
    if (w[3] != form.repeat_pairs_word) {
        return fail(error, [&] {
            return word_prefix(3) + hex4(form.repeat_pairs_word) + " expected for an " + form.name +
                   " code, " + hex4(w[3]) + " found";
        });
    }
    if (words.n != form.words) {
        return fail(error, [&] {
            return "4 + 2 × " + num(form.repeat_pairs_word) + " words expected, " + num(words.n) +
                   " found";
        });
    }
    struct Field {
        std::size_t index;
        const char *name;
        uint16_t max;
    };
    std::array<Field, 3> fields{};
    std::size_t nfields = 0;
    switch (form.type) {
        case 0x5000:
            fields = {{{4, "device", 31}, {5, "command", 127}}};
            nfields = 2;
            break;
        case 0x5001:
            fields = {{{4, "device", 31}, {5, "subdevice", 127}, {6, "command", 63}}};
            nfields = 3;
            break;
        case 0x6000:
            fields = {{{4, "device", 255}, {5, "command", 255}}};
            nfields = 2;
            break;
        default:
            break;
    }
    for (std::size_t i = 0; i < nfields; ++i) {
        const Field &f = fields[i];
        if (w[f.index] > f.max) {
            return fail(error,
                        [&] { return out_of_range(f.index, form, f.name, w[f.index], f.max); });
        }
    }
    if (form.type == 0x5001 && w[7] != 0) {
        return fail(error, [&] {
            return word_prefix(7) + "0000 expected for an RC5x code, " + hex4(w[7]) + " found";
        });
    }
    if (form.type == 0x900A) {
        const unsigned f = w[5] >> 8;
        const unsigned check = w[5] & 0xFF;
        if (check != (0xFF ^ f)) {
            return fail(error, [&] {
                return word_prefix(5) + "NEC1 check byte " + hex4(check).substr(2) +
                       " does not match command " + hex4(f).substr(2) + " (" +
                       hex4(0xFF ^ f).substr(2) + " expected)";
            });
        }
    }
    return true;
}

bool check_words(const Words &words, std::string *error) {
    const auto &w = words.w;
    const std::size_t n = words.n;
    if (n == 0) {
        return fail(error, [] { return std::string("the code is empty"); });
    }
    if (n < 6) {
        return fail(error, [&] { return "at least 6 words expected, " + num(n) + " found"; });
    }
    if (n % 2 != 0) {
        return fail(error,
                    [&] { return "an even number of words expected, " + num(n) + " found"; });
    }
    const ShortForm *form = find_short_form(w[0]);
    if (w[0] != 0x0000 && w[0] != 0x0100 && form == nullptr) {
        return fail(error, [&] {
            return word_prefix(0) + "unknown type " + hex4(w[0]) +
                   " (0000, 0100, 5000, 5001, 6000 or 900A expected)";
        });
    }
    if (w[1] == 0) {
        return fail(error, [] { return word_prefix(1) + "the frequency word is 0000"; });
    }
    if (form != nullptr) {
        return check_short_form(words, *form, error);
    }
    const std::size_t pairs = std::size_t{w[2]} + w[3];
    if (pairs == 0) {
        return fail(error,
                    [] { return std::string("words 3 and 4: the code has no burst pairs"); });
    }
    if (n != 4 + 2 * pairs) {
        return fail(error, [&] {
            return "4 + 2 × " + num(pairs) + " words expected, " + num(n) + " found";
        });
    }
    for (std::size_t i = 4; i < n; ++i) {
        if (w[i] == 0) {
            return fail(error, [&] { return word_prefix(i) + "duration 0000 is zero"; });
        }
    }
    return true;
}

Signal build_short_form(const Words &words, const ShortForm &form) {
    const auto &w = words.w;
    const uint16_t fw = w[1];
    const double count_hz =
        pronto_frequency_word(form.nominal_hz) == fw ? form.nominal_hz : pronto_frequency(fw);
    Signal s;
    s.carrier_hz = pronto_frequency(fw);
    switch (form.type) {
        case 0x5000:
        case 0x5001: {
            const bool x = form.type == 0x5001;
            const uint32_t d = w[4];
            const uint32_t sub = x ? w[5] : 0;
            const uint32_t f = x ? w[6] : w[5];
            Frame fr(889);
            fr.biphase_msb(1, 1, -1);
            fr.biphase_msb((((x ? sub : f) >> 6) & 1) ^ 1, 1, -1);
            fr.biphase_msb(0, 1, -1);  // toggle
            fr.biphase_msb(d, 5, -1);
            if (x) {
                fr.add(-4);
                fr.biphase_msb(sub, 6, -1);
            }
            fr.biphase_msb(f, 6, -1);
            s.repeat = to_bursts(fr.finish(114000), count_hz, fw);
            break;
        }
        case 0x6000: {
            Frame fr(444);
            fr.add(6);
            fr.add(-2);
            fr.biphase_msb(1, 1, 1);     // start bit
            fr.biphase_msb(0, 3, 1);     // mode 0
            fr.biphase_msb(0, 1, 1, 2);  // toggle, double width
            fr.biphase_msb(w[4], 8, 1);
            fr.biphase_msb(w[5], 8, 1);
            s.repeat = to_bursts(fr.finish(107000), count_hz, fw);
            break;
        }
        case 0x900A: {
            const uint32_t f = w[5] >> 8;
            Frame fr(564);
            fr.add(16);
            fr.add(-8);
            fr.distance_lsb(w[4] >> 8, 8);
            fr.distance_lsb(w[4] & 0xFF, 8);
            fr.distance_lsb(f, 8);
            fr.distance_lsb(f ^ 0xFF, 8);
            fr.add(1);
            s.once = to_bursts(fr.finish(108000), count_hz, fw);
            Frame ditto(564);
            ditto.add(16);
            ditto.add(-4);
            ditto.add(1);
            s.repeat = to_bursts(ditto.finish(108000), count_hz, fw);
            break;
        }
        default:
            break;
    }
    return s;
}

Signal build(const Words &words) {
    const auto &w = words.w;
    if (const ShortForm *form = find_short_form(w[0])) {
        return build_short_form(words, *form);
    }
    Signal s;
    s.carrier_hz = w[0] == 0x0000 ? pronto_frequency(w[1]) : 0.0;
    auto part = [&](std::size_t first, std::size_t pairs) {
        std::vector<Burst> out;
        out.reserve(pairs);
        for (std::size_t i = 0; i < pairs; ++i) {
            out.push_back(
                {periods_to_us(w[first + 2 * i], w[1]), periods_to_us(w[first + 2 * i + 1], w[1])});
        }
        return out;
    };
    s.once = part(4, w[2]);
    s.repeat = part(4 + 2 * std::size_t{w[2]}, w[3]);
    return s;
}

// Half up; clamps into 1..0xFFFF and says so.
uint16_t duration_word(uint32_t us, double hz, bool &clamped) {
    const uint32_t c = count_periods(us, hz);
    if (c < 1 || c > 0xFFFF) {
        clamped = true;
        return c < 1 ? 1 : 0xFFFF;
    }
    return uint16_t(c);
}

}  // namespace

ParseResult parse_pronto(std::string_view text) {
    ParseResult r;
    Words words;
    if (read_words(text, words, &r.error) && check_words(words, &r.error)) {
        r.signal = build(words);
    }
    return r;
}

bool is_valid_pronto(std::string_view text) {
    Words words;
    return read_words(text, words, nullptr) && check_words(words, nullptr);
}

double pronto_frequency(uint16_t frequency_word) {
    return frequency_word == 0 ? 0.0 : 1e6 / (frequency_word * kProntoUnitUs);
}

uint16_t pronto_frequency_word(double carrier_hz) {
    if (!(carrier_hz > 0)) {
        return 0x006D;
    }
    const double w = std::round(1e6 / (carrier_hz * kProntoUnitUs));
    return uint16_t(std::clamp(w, 1.0, double(0xFFFF)));
}

EncodeResult encode_pronto(const Signal &signal) {
    EncodeResult r;
    if (signal.once.empty() && signal.repeat.empty()) {
        return r;
    }
    // An unmodulated signal has no measured carrier to count against: its time base is
    // exactly the period of word 006D.
    const bool modulated = std::isfinite(signal.carrier_hz) && signal.carrier_hz > 0;
    const double hz = modulated ? signal.carrier_hz : pronto_frequency(0x006D);
    const double exact_word = std::round(1e6 / (hz * kProntoUnitUs));
    r.clamped = exact_word < 1 || exact_word > 0xFFFF;

    const std::size_t pairs = signal.once.size() + signal.repeat.size();
    r.text.reserve(5 * (4 + 2 * pairs));
    auto put = [&](uint32_t v) {
        if (!r.text.empty()) {
            r.text += ' ';
        }
        r.text += hex4(v);
    };
    put(modulated ? 0x0000 : 0x0100);
    put(pronto_frequency_word(hz));
    // A part longer than 0xFFFF pairs cannot be written: its tail is dropped and reported.
    const std::size_t once = std::min<std::size_t>(signal.once.size(), 0xFFFF);
    const std::size_t repeat = std::min<std::size_t>(signal.repeat.size(), 0xFFFF);
    r.clamped = r.clamped || once != signal.once.size() || repeat != signal.repeat.size();
    put(uint32_t(once));
    put(uint32_t(repeat));
    for (std::size_t i = 0; i < once + repeat; ++i) {
        const Burst &b = i < once ? signal.once[i] : signal.repeat[i - once];
        put(duration_word(b.on_us, hz, r.clamped));
        put(duration_word(b.off_us, hz, r.clamped));
    }
    return r;
}

}  // namespace ir
