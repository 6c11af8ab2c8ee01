// SPDX-License-Identifier: MIT
// Reading lircd.conf: sections, parameters, flags and codes, with lircd's post-processing.
#include <algorithm>
#include <bit>

#include "ir/timings.h"
#include "lircd.h"
#include "text.h"

namespace ir::files::lircd {
namespace {

using detail::fail;
using detail::shown;

struct FlagName {
    std::string_view name;
    uint32_t flag;
};

constexpr FlagName kFlags[] = {
    {"RAW_CODES", kRawCodes},
    {"RC5", kRc5},
    {"SHIFT_ENC", kRc5},
    {"RC6", kRc6},
    {"RCMM", kRcmm},
    {"SPACE_ENC", kSpaceEnc},
    {"SPACE_FIRST", kSpaceFirst},
    {"GOLDSTAR", kGoldstar},
    {"GRUNDIG", kGrundig},
    {"BO", kBo},
    {"SERIAL", kSerial},
    {"XMP", kXmp},
    {"REVERSE", kReverse},
    {"NO_HEAD_REP", kNoHeadRep},
    {"NO_FOOT_REP", kNoFootRep},
    {"CONST_LENGTH", kConstLength},
    {"REPEAT_HEADER", kRepeatHeader},
};

uint32_t parse_flags(std::string_view text, int line) {
    uint32_t flags = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t bar = std::min(text.find('|', start), text.size());
        const std::string_view name = text.substr(start, bar - start);
        const auto it = std::find_if(std::begin(kFlags), std::end(kFlags), [&](const FlagName &f) {
            return detail::iequals(f.name, name);
        });
        if (it == std::end(kFlags)) {
            fail(line, "unknown flag " + shown(name));
        }
        if ((it->flag & kProtocolMask) != 0 && (flags & kProtocolMask) != 0) {
            fail(line, "more than one protocol in flags: " + shown(name));
        }
        flags |= it->flag;
        start = bar + 1;
    }
    return flags;
}

uint64_t code_value(std::string_view token, int line) {
    const auto v = detail::c_number(token);
    if (!v) {
        fail(line, shown(token) + " is not a number");
    }
    return *v;
}

uint32_t duration(std::string_view token, int line) {
    const uint64_t v = code_value(token, line);
    if (v > 0x7FFFFFFF) {
        fail(line, shown(token) + " is out of range");
    }
    return uint32_t(v);
}

int small_int(std::string_view token, int line, int max) {
    const uint64_t v = code_value(token, line);
    if (v > uint64_t(max)) {
        fail(line, shown(token) + " is out of range (at most " + std::to_string(max) + ")");
    }
    return int(v);
}

uint64_t low_bits(int n) {
    return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
}

// One parameter line of a remote section; returns how many values it took.
std::size_t define(Remote &r, std::string_view key, const std::vector<std::string_view> &v,
                   int line) {
    auto is = [&](std::string_view name) { return detail::iequals(key, name); };
    if (v.empty()) {
        fail(line, shown(key) + " without a value");
    }
    if (is("name")) {
        r.name = std::string(v[0]);
    } else if (is("driver")) {
        r.driver = std::string(v[0]);
    } else if (is("bits")) {
        r.bits = small_int(v[0], line, 64);
    } else if (is("flags")) {
        r.flags |= parse_flags(v[0], line);
    } else if (is("eps")) {
        r.eps = small_int(v[0], line, 1000);
    } else if (is("aeps")) {
        r.aeps = small_int(v[0], line, 0x7FFFFFFF);
    } else if (is("plead")) {
        r.plead = duration(v[0], line);
    } else if (is("ptrail")) {
        r.ptrail = duration(v[0], line);
    } else if (is("pre_data_bits")) {
        r.pre_data_bits = small_int(v[0], line, 64);
    } else if (is("pre_data")) {
        r.pre_data = code_value(v[0], line);
    } else if (is("post_data_bits")) {
        r.post_data_bits = small_int(v[0], line, 64);
    } else if (is("post_data")) {
        r.post_data = code_value(v[0], line);
    } else if (is("gap")) {
        r.gap = duration(v[0], line);
        if (v.size() > 1) {
            r.gap2 = duration(v[1], line);
            return 2;
        }
    } else if (is("repeat_gap")) {
        r.repeat_gap = duration(v[0], line);
    } else if (is("repeat_mask")) {
        r.repeat_mask = code_value(v[0], line);
    } else if (is("toggle_bit") || is("repeat_bit")) {
        r.toggle_bit = small_int(v[0], line, 192);
    } else if (is("toggle_bit_mask")) {
        r.toggle_bit_mask = code_value(v[0], line);
    } else if (is("toggle_mask")) {
        r.toggle_mask = code_value(v[0], line);
    } else if (is("rc6_mask")) {
        r.rc6_mask = code_value(v[0], line);
    } else if (is("ignore_mask")) {
        r.ignore_mask = code_value(v[0], line);
    } else if (is("manual_sort")) {
        r.manual_sort = small_int(v[0], line, 0x7FFFFFFF);
    } else if (is("suppress_repeat")) {
        r.suppress_repeat = small_int(v[0], line, 0x7FFFFFFF);
    } else if (is("min_repeat")) {
        r.min_repeat = small_int(v[0], line, 100);
    } else if (is("min_code_repeat")) {
        r.min_code_repeat = small_int(v[0], line, 100);
    } else if (is("frequency")) {
        r.frequency = uint32_t(small_int(v[0], line, 1000000));
    } else if (is("duty_cycle")) {
        r.duty_cycle = uint32_t(small_int(v[0], line, 100));
    } else if (is("baud")) {
        r.baud = uint32_t(small_int(v[0], line, 10000000));
    } else if (is("serial_mode")) {
        r.serial_mode = std::string(v[0]);
    } else if (is("dyncodes_name")) {
        // lircd's dynamic codes: a receiving feature, nothing to send.
    } else {
        struct Pair {
            std::string_view name;
            uint32_t Remote::*p;
            uint32_t Remote::*s;
        };
        static constexpr Pair kPairs[] = {
            {"header", &Remote::phead, &Remote::shead},
            {"three", &Remote::pthree, &Remote::sthree},
            {"two", &Remote::ptwo, &Remote::stwo},
            {"one", &Remote::pone, &Remote::sone},
            {"zero", &Remote::pzero, &Remote::szero},
            {"foot", &Remote::pfoot, &Remote::sfoot},
            {"repeat", &Remote::prepeat, &Remote::srepeat},
            {"pre", &Remote::pre_p, &Remote::pre_s},
            {"post", &Remote::post_p, &Remote::post_s},
        };
        for (const Pair &pair : kPairs) {
            if (is(pair.name)) {
                if (v.size() < 2) {
                    fail(line, std::string(pair.name) + " takes a pulse and a space");
                }
                r.*pair.p = duration(v[0], line);
                r.*pair.s = duration(v[1], line);
                return 2;
            }
        }
        fail(line, "unknown parameter " + shown(key));
    }
    return 1;
}

// What lircd does to a remote once the file is read.
void finish(Remote &r, std::vector<std::string> &warnings) {
    auto warn = [&](std::string why) {
        warnings.push_back(std::to_string(r.line) + ": " + r.name + ": " + std::move(why));
    };
    if (r.name.empty()) {
        fail(r.line, "the remote has no name");
    }
    if (!r.has_codes && !r.raw()) {
        fail(r.line, "remote " + r.name + " has no codes section");
    }
    if (r.all_bits() > 64) {
        fail(r.line, "remote " + r.name + ": pre_data_bits + bits + post_data_bits is " +
                         std::to_string(r.all_bits()) + ", at most 64");
    }
    if (!r.raw()) {
        if ((r.pre_data & low_bits(r.pre_data_bits)) != r.pre_data) {
            warn("pre_data has more than pre_data_bits bits");
            r.pre_data &= low_bits(r.pre_data_bits);
        }
        if ((r.post_data & low_bits(r.post_data_bits)) != r.post_data) {
            warn("post_data has more than post_data_bits bits");
            r.post_data &= low_bits(r.post_data_bits);
        }
        for (Code &c : r.codes) {
            for (uint64_t &v : c.codes) {
                if ((v & low_bits(r.bits)) != v) {
                    warn(c.name + ": the code has more than " + std::to_string(r.bits) + " bits");
                    v &= low_bits(r.bits);
                }
            }
        }
        if (r.flags & kReverse) {
            r.pre_data = reversed(r.pre_data, r.pre_data_bits);
            r.post_data = reversed(r.post_data, r.post_data_bits);
            for (Code &c : r.codes) {
                c.codes.front() = reversed(c.codes.front(), r.bits);  // lircd: the first only
            }
        }
    }
    if (r.toggle_bit > r.all_bits()) {
        fail(r.line, "remote " + r.name + ": toggle_bit " + std::to_string(r.toggle_bit) +
                         " is beyond its " + std::to_string(r.all_bits()) + " bits");
    }
    if ((r.flags & kRc6) && r.rc6_mask == 0 && r.toggle_bit > 0) {
        r.rc6_mask = uint64_t{1} << (r.all_bits() - r.toggle_bit);
    }
    if (r.toggle_bit > 0) {
        if (r.toggle_bit_mask != 0) {
            warn("both toggle_bit and toggle_bit_mask: toggle_bit_mask is used");
        } else {
            r.toggle_bit_mask = uint64_t{1} << (r.all_bits() - r.toggle_bit);
        }
        r.toggle_bit = 0;
    }
    if ((r.flags & kSerial) && r.baud > 0) {
        const uint32_t base = 1000000 / r.baud;
        if (r.pzero == 0 && r.szero == 0) {
            r.pzero = base;
        }
        if (r.pone == 0 && r.sone == 0) {
            r.sone = base;
        }
    }
}

enum class Mode { None, Remote, Codes, RawCodes };

}  // namespace

uint64_t reversed(uint64_t v, int bits) {
    uint64_t out = 0;
    for (int i = 0; i < bits; ++i) {
        if ((v >> i) & 1) {
            out |= uint64_t{1} << (bits - 1 - i);
        }
    }
    return out;
}

std::string flags_text(uint32_t flags) {
    std::string out;
    for (const FlagName &f : kFlags) {
        if ((flags & f.flag) == f.flag && f.name != "SHIFT_ENC") {
            flags &= ~f.flag;
            out += (out.empty() ? "" : "|") + std::string(f.name);
        }
    }
    return out;
}

Parsed parse(std::string_view text) {
    detail::require_text(text);
    Parsed out;
    detail::Lines lines(text);
    detail::Line l;
    Mode mode = Mode::None;
    Remote *r = nullptr;
    Code *raw = nullptr;  // the raw code being read
    std::size_t keys = 0;
    auto end_raw = [&](int line) {
        if (raw != nullptr && raw->raw.size() % 2 == 0) {
            fail(line, raw->name + ": " + std::to_string(raw->raw.size()) +
                           " durations, an odd number (ending on a pulse) expected");
        }
        raw = nullptr;
    };
    auto new_code = [&](std::string_view name, int line) -> Code & {
        if (++keys > kMaxKeys) {
            fail(line, "more than " + std::to_string(kMaxKeys) + " keys");
        }
        r->codes.push_back({std::string(name), {}, {}, line});
        return r->codes.back();
    };
    while (lines.next(l)) {
        if (!l.text.empty() && l.text.front() == '#') {
            continue;
        }
        // A word starting with '#' ends the line, except as a key's name ("#" is a button).
        std::vector<std::string_view> w = detail::words(l.text);
        const bool named = mode == Mode::Codes && w.size() > 1 && detail::c_number(w[1]);
        const auto comment = std::find_if(w.begin() + (named ? 1 : 0), w.end(),
                                          [](std::string_view s) { return s.front() == '#'; });
        w.erase(comment, w.end());
        if (w.empty()) {
            continue;
        }
        const std::string_view key = w[0];
        if (detail::iequals(key, "include")) {
            if (w.size() < 2) {
                fail(l.number, "include without a file");
            }
            std::string path(detail::trim(l.text.substr(l.text.find(w[1]))));
            if (path.size() >= 2 && ((path.front() == '"' && path.back() == '"') ||
                                     (path.front() == '<' && path.back() == '>'))) {
                path = path.substr(1, path.size() - 2);
            } else {
                fail(l.number, "include " + shown(path) + ": quote the file's name");
            }
            out.includes.emplace_back(l.number, path);
            continue;
        }
        if (detail::iequals(key, "begin") || detail::iequals(key, "end")) {
            const bool begin = detail::iequals(key, "begin");
            const std::string_view what = w.size() > 1 ? w[1] : std::string_view{};
            if (begin && detail::iequals(what, "remote")) {
                if (mode != Mode::None) {
                    fail(l.number, "begin remote inside a remote");
                }
                out.remotes.emplace_back();
                r = &out.remotes.back();
                r->line = l.number;
                mode = Mode::Remote;
            } else if (begin &&
                       (detail::iequals(what, "codes") || detail::iequals(what, "raw_codes"))) {
                if (mode != Mode::Remote) {
                    fail(l.number, "begin " + std::string(what) + " outside a remote");
                }
                if (r->has_codes) {
                    fail(l.number, "a second codes section in remote " + shown(r->name));
                }
                r->has_codes = true;
                if (detail::iequals(what, "raw_codes")) {
                    r->flags = (r->flags & ~kProtocolMask) | kRawCodes;
                    mode = Mode::RawCodes;
                } else {
                    mode = Mode::Codes;
                }
            } else if (!begin && detail::iequals(what, "codes")) {
                if (mode != Mode::Codes) {
                    fail(l.number, "end codes without begin codes");
                }
                r->codes_end_line = l.number;
                mode = Mode::Remote;
            } else if (!begin && detail::iequals(what, "raw_codes")) {
                if (mode != Mode::RawCodes) {
                    fail(l.number, "end raw_codes without begin raw_codes");
                }
                end_raw(l.number);
                r->codes_end_line = l.number;
                mode = Mode::Remote;
            } else if (!begin && detail::iequals(what, "remote")) {
                if (mode != Mode::Remote) {
                    fail(l.number, mode == Mode::None ? "end remote without begin remote"
                                                      : "end remote inside a codes section");
                }
                r->end_line = l.number;
                finish(*r, out.warnings);
                mode = Mode::None;
            } else if (mode == Mode::Codes) {
                // A key named "begin" or "end".
                new_code(key, l.number).codes.push_back(code_value(what, l.number));
            } else {
                fail(l.number, "unknown section " + shown(what));
            }
            continue;
        }
        switch (mode) {
            case Mode::None:
                fail(l.number, shown(key) + " outside a remote (begin remote expected)");
            case Mode::Remote: {
                const std::vector<std::string_view> values(w.begin() + 1, w.end());
                const std::size_t used = define(*r, key, values, l.number);
                if (values.size() > used) {
                    out.warnings.push_back(std::to_string(l.number) + ": " + shown(values[used]) +
                                           " after " + std::string(key) + " ignored");
                }
                break;
            }
            case Mode::Codes: {
                if (w.size() < 2) {
                    fail(l.number, "key " + shown(key) + " has no code");
                }
                Code &c = new_code(key, l.number);
                for (std::size_t i = 1; i < w.size(); ++i) {
                    c.codes.push_back(code_value(w[i], l.number));
                }
                break;
            }
            case Mode::RawCodes: {
                if (detail::iequals(key, "name")) {
                    end_raw(l.number);
                    if (w.size() < 2) {
                        fail(l.number, "name without a key name");
                    }
                    raw = &new_code(w[1], l.number);
                    break;
                }
                if (raw == nullptr) {
                    fail(l.number, "durations before the first 'name' in raw_codes");
                }
                for (std::string_view d : w) {
                    if (raw->raw.size() >= kMaxTimings) {
                        fail(l.number, raw->name + ": more than " + std::to_string(kMaxTimings) +
                                           " durations");
                    }
                    raw->raw.push_back(duration(d, l.number));
                }
                break;
            }
        }
    }
    if (mode != Mode::None) {
        fail(lines.number(),
             "the file ends inside remote " + shown(r->name) + " (end remote expected)");
    }
    return out;
}

}  // namespace ir::files::lircd
