// SPDX-License-Identifier: MIT
// The public face of the tables: protocol lookup, decode and encode entry points, texts.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <string>

#include "frame.h"
#include "ir/protocols.h"
#include "table.h"

namespace ir::protocols {
namespace detail {
namespace {

// Names compare without case and without the separators people put in them differently.
std::string folded(std::string_view name, std::string_view ignore) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (ignore.find(c) == std::string_view::npos) {
            out += char(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

constexpr std::string_view kProtocolSeparators = "-_. ";
constexpr std::string_view kKernelSeparators = "-_ ";

// The tables in their public form, built once.
struct Infos {
    std::deque<std::string> texts;  // stable storage for generated strings
    std::vector<std::vector<ParamInfo>> params;
    std::vector<ProtocolInfo> protocols;
    std::vector<KernelProtocolInfo> kernels;

    Infos() {
        params.reserve(rows().size());
        for (const Row &row : rows()) {
            std::vector<ParamInfo> ps;
            for (const ParamSpec &spec : row.params) {
                ps.push_back({spec.name, mask_of(spec.bits), fallback_text(row, spec), spec.toggle,
                              spec.fallback == Fallback::Fixed});
            }
            params.push_back(std::move(ps));
        }
        for (const Row &row : rows()) {
            std::string names;
            for (const KernelForm &form : kernel_forms()) {
                if (row.kernel_family != 0 && form.family == row.kernel_family &&
                    names.find(form.name) == std::string::npos) {
                    names += names.empty() ? "" : " ";
                    names += form.name;
                }
            }
            protocols.push_back({row.name, row.carrier_hz, params[std::size_t(row.id)],
                                 texts.emplace_back(std::move(names)), row.rel_tol,
                                 row.abs_tol_us});
        }
        for (const KernelForm &form : kernel_forms()) {
            const bool seen = std::any_of(kernels.begin(), kernels.end(),
                                          [&](const auto &k) { return k.name == form.name; });
            if (!seen) {
                kernels.push_back({form.name, form.mask, &protocols[std::size_t(form.row)]});
            }
        }
    }

    std::string_view fallback_text(const Row &row, const ParamSpec &spec) {
        switch (spec.fallback) {
            case Fallback::Required:
                return {};
            case Fallback::Value:
            case Fallback::Fixed:
                return texts.emplace_back(std::to_string(spec.value));
            case Fallback::Complement:
                return texts.emplace_back(std::to_string(mask_of(spec.bits)) + "-" +
                                          std::string(row.params[spec.from].name));
            case Fallback::Copy:
                return row.params[spec.from].name;
        }
        return {};
    }
};

const Infos &infos() {
    static const Infos instance;
    return instance;
}

const Row &row_of(const ProtocolInfo &info) {
    return rows()[std::size_t(&info - infos().protocols.data())];
}

std::string number_text(uint64_t v) {
    return std::to_string(v);
}

// Both parts of a code as sent.
Signal signal_of(const Row &row, const Values &v) {
    Signal s;
    s.carrier_hz = row.carrier_hz;
    switch (row.repeats) {
        case Repeat::Star:
            s.repeat = encode_frame(row, row.intro, v);
            break;
        case Repeat::Ditto:
            s.once = encode_frame(row, row.intro, v);
            s.repeat = encode_frame(row, row.repeat, v);
            break;
        case Repeat::Once:
            s.once = encode_frame(row, row.intro, v);
            break;
    }
    return s;
}

// A number as people write it: decimal, or hex after 0x. No sign, no overflow.
std::optional<uint64_t> parse_number(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0 || v > (~uint64_t{0} - uint64_t(digit)) / uint64_t(base)) {
            return std::nullopt;
        }
        v = v * uint64_t(base) + uint64_t(digit);
    }
    return v;
}

std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) == 0) {
            ++i;
        }
        if (i > start) {
            words.push_back(text.substr(start, i - start));
        }
    }
    return words;
}

// A word as an error message shows it: printable, short.
std::string shown(std::string_view word) {
    std::string out;
    for (std::size_t i = 0; i < word.size() && i < 24; ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        out += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    }
    return word.size() > 24 ? out + "..." : out;
}

EncodeResult failure(std::string why) {
    return {{}, std::move(why)};
}

}  // namespace

void fill_fallbacks(const Row &row, State &st) {
    for (std::size_t i = 0; i < row.params.size(); ++i) {
        const ParamSpec &spec = row.params[i];
        if (st.known[i] != 0) {
            continue;
        }
        const uint64_t m = mask_of(spec.bits);
        switch (spec.fallback) {
            case Fallback::Required:
                break;
            case Fallback::Value:
            case Fallback::Fixed:
                st.value[i] = spec.value & m;
                break;
            case Fallback::Complement:
                st.value[i] = ~st.value[spec.from] & m;
                break;
            case Fallback::Copy:
                st.value[i] = st.value[spec.from] & m;
                break;
        }
    }
}

Decode make_decode(const Row &row, const Values &values, int frames, bool complete) {
    Decode d;
    d.protocol = &infos().protocols[std::size_t(row.id)];
    d.params.reserve(row.params.size());
    for (std::size_t i = 0; i < row.params.size(); ++i) {
        d.params.push_back({row.params[i].name, values[i]});
        if (row.params[i].toggle) {
            d.toggle = values[i];
        }
    }
    d.kernel = kernel_code(row, values);
    d.frames = frames;
    d.complete = complete;
    return d;
}

}  // namespace detail

using namespace detail;

std::span<const ProtocolInfo> all() {
    return infos().protocols;
}

const ProtocolInfo *find(std::string_view name) {
    // The first row of a name stands for its variants.
    if (name.size() > 64) {
        return nullptr;
    }
    const std::string key = folded(name, kProtocolSeparators);
    for (const Row &row : rows()) {
        bool match = folded(row.name, kProtocolSeparators) == key;
        for (std::string_view alias : words_of(row.aliases)) {
            match = match || folded(alias, kProtocolSeparators) == key;
        }
        if (match && !key.empty()) {
            return &infos().protocols[std::size_t(row.id)];
        }
    }
    return nullptr;
}

std::span<const KernelProtocolInfo> kernel_protocols() {
    return infos().kernels;
}

const KernelProtocolInfo *find_kernel(std::string_view name) {
    if (name.size() > 64) {
        return nullptr;
    }
    const std::string key = folded(name, kKernelSeparators);
    for (const KernelProtocolInfo &k : infos().kernels) {
        if (!key.empty() && folded(k.name, kKernelSeparators) == key) {
            return &k;
        }
    }
    return nullptr;
}

std::string KernelCode::text() const {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04x", unsigned(scancode));
    return std::string(protocol) + ":0x" + hex;
}

std::optional<uint64_t> Decode::param(std::string_view name) const {
    for (const Param &p : params) {
        if (p.name == name) {
            return p.value;
        }
    }
    return std::nullopt;
}

std::string Decode::text() const {
    std::string out(protocol != nullptr ? protocol->name : "?");
    for (const Param &p : params) {
        out += ' ';
        out += p.name;
        out += '=';
        out += number_text(p.value);
    }
    return out;
}

std::string describe(std::span<const Decode> decodes) {
    if (decodes.empty()) {
        return {};
    }
    const Decode &d = decodes.front();
    std::string line = d.text();
    if (d.kernel) {
        const std::string code = d.kernel->text();  // "nec:0x0408"
        line += "  (" + std::string(d.kernel->protocol) + " " + code.substr(code.find(':') + 1) +
                ")";
    }
    return line;
}

std::vector<Decode> decode(std::span<const uint32_t> durations_us, double carrier_hz) {
    return decode_rows(durations_us, carrier_hz);
}

std::vector<Decode> decode(const Signal &signal) {
    const std::vector<uint32_t> d = flatten(signal, signal.repeat.empty() ? 1 : 2);
    return decode_rows(d, signal.carrier_hz);
}

namespace detail {
namespace {

// Whether every fixed parameter given has this row's value.
bool is_variant(const Row &row, std::span<const Param> params) {
    for (const Param &p : params) {
        for (const ParamSpec &spec : row.params) {
            if (spec.fallback == Fallback::Fixed && folded(spec.name, "") == folded(p.name, "") &&
                p.value != spec.value) {
                return false;
            }
        }
    }
    return true;
}

// The parameters given for one row; an error, or "" when they fit.
std::string values_for(const Row &row, std::span<const Param> params, State &st) {
    const std::string name(row.name);
    for (const Param &p : params) {
        std::size_t i = 0;
        while (i < row.params.size() && folded(row.params[i].name, "") != folded(p.name, "")) {
            ++i;
        }
        if (i == row.params.size()) {
            return name + " has no parameter " + shown(p.name);
        }
        if (st.known[i] != 0) {
            return name + ": " + std::string(row.params[i].name) + " is given twice";
        }
        const uint64_t max = mask_of(row.params[i].bits);
        if (p.value > max) {
            return name + ": " + std::string(row.params[i].name) + "=" + number_text(p.value) +
                   " is out of range (at most " + number_text(max) + ")";
        }
        st.value[i] = p.value;
        st.known[i] = max;
    }
    for (std::size_t i = 0; i < row.params.size(); ++i) {
        if (st.known[i] == 0 && row.params[i].fallback == Fallback::Required) {
            return name + ": " + std::string(row.params[i].name) + " is missing";
        }
    }
    return {};
}

}  // namespace
}  // namespace detail

EncodeResult encode(const ProtocolInfo &protocol, std::span<const Param> params) {
    const Row &first = row_of(protocol);
    for (const Row &row : rows()) {
        if (row.name != first.name || !is_variant(row, params)) {
            continue;
        }
        State st;
        std::string error = values_for(row, params, st);
        if (!error.empty()) {
            return failure(std::move(error));
        }
        fill_fallbacks(row, st);
        return {signal_of(row, st.value), {}};
    }
    std::string allowed;
    for (const Row &row : rows()) {
        for (const ParamSpec &spec : row.params) {
            if (row.name == first.name && spec.fallback == Fallback::Fixed) {
                allowed += (allowed.empty() ? "" : ", ") + number_text(spec.value);
            }
        }
    }
    return failure(std::string(first.name) + ": no variant with that value (" + allowed + ")");
}

EncodeResult encode(const KernelProtocolInfo &protocol, uint64_t scancode) {
    // The first form of that name that carries the scancode sends it.
    for (const KernelForm &form : kernel_forms()) {
        State st;
        if (form.name == protocol.name && kernel_values(form, scancode, st)) {
            return {signal_of(row(form.row), st.value), {}};
        }
    }
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(scancode));
    return failure(std::string(protocol.name) + ": " + hex + " is not a valid scancode");
}

EncodeResult encode(std::string_view code_text) {
    if (code_text.size() > kMaxCodeTextChars) {
        return failure("the code is " + number_text(code_text.size()) +
                       " characters long, at most " + number_text(kMaxCodeTextChars) + " allowed");
    }
    const std::vector<std::string_view> words = words_of(code_text);
    if (words.empty()) {
        return failure("the code is empty");
    }
    const std::string_view first = words[0];
    if (const std::size_t colon = first.find(':'); colon != std::string_view::npos) {
        const KernelProtocolInfo *k = find_kernel(first.substr(0, colon));
        if (k == nullptr) {
            return failure("unknown kernel protocol '" + shown(first.substr(0, colon)) + "'");
        }
        const auto scancode = parse_number(first.substr(colon + 1));
        if (!scancode) {
            return failure("'" + shown(first.substr(colon + 1)) + "' is not a scancode");
        }
        if (words.size() > 1) {
            return failure("unexpected '" + shown(words[1]) + "' after the scancode");
        }
        return encode(*k, *scancode);
    }
    const ProtocolInfo *info = find(first);
    if (info == nullptr) {
        return failure("unknown protocol '" + shown(first) + "'");
    }
    std::vector<Param> params;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::size_t eq = words[i].find('=');
        const auto value =
            eq == std::string_view::npos ? std::nullopt : parse_number(words[i].substr(eq + 1));
        if (eq == 0 || !value) {
            return failure("'" + shown(words[i]) + "' is not NAME=VALUE with a number");
        }
        params.push_back({words[i].substr(0, eq), *value});
    }
    return encode(*info, params);
}

bool is_protocol_code(std::string_view code_text) {
    const std::vector<std::string_view> words = words_of(code_text.substr(0, kMaxCodeTextChars));
    if (words.empty()) {
        return false;
    }
    const std::string_view first = words[0];
    const std::size_t colon = first.find(':');
    return colon != std::string_view::npos ? find_kernel(first.substr(0, colon)) != nullptr
                                           : find(first) != nullptr;
}

}  // namespace ir::protocols
