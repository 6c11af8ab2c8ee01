// SPDX-License-Identifier: MIT
#include "code_forms.h"

#include "cli.h"
#include "code_input.h"
#include "ir/pronto.h"

namespace krvx::cli {

ProntoCode to_pronto(const std::string &code, int repeat_frames) {
    if (!ir::protocols::is_protocol_code(code)) {
        std::string why = pronto_refusal(code);
        if (!why.empty()) {
            return {{}, std::move(why)};
        }
        return {code, {}};  // the device takes it as written
    }
    ir::protocols::EncodeResult e = ir::protocols::encode(code);
    if (!e.ok()) {
        return {{}, std::move(e.error)};
    }
    for (int i = 0; i < repeat_frames && !e.signal.repeat.empty(); ++i) {
        e.signal.once.insert(e.signal.once.end(), e.signal.repeat.begin(), e.signal.repeat.end());
    }
    ir::EncodeResult pronto = ir::encode_pronto(e.signal);
    if (pronto.text.size() > ir::kMaxProntoChars) {
        return {{},
                "the code is longer than a Pronto code may be (" +
                    std::to_string(ir::kMaxProntoChars) + " characters)"};
    }
    return {std::move(pronto.text), {}};
}

std::string wire_text(const std::string &code, const ProntoCode &checked) {
    return ir::protocols::is_protocol_code(code) ? code : checked.pronto;
}

std::string decode_line(std::span<const ir::protocols::Decode> decodes) {
    return decodes.empty() ? "unknown" : ir::protocols::describe(decodes);
}

std::string decodes_json(std::span<const ir::protocols::Decode> decodes) {
    std::string out = "[";
    for (const ir::protocols::Decode &d : decodes) {
        if (out.size() > 1) {
            out += ',';
        }
        out += "{\"protocol\":" + json_string(d.protocol->name) + ",\"params\":{";
        for (std::size_t i = 0; i < d.params.size(); ++i) {
            out += (i > 0 ? "," : "") + json_string(d.params[i].name) + ":" +
                   std::to_string(d.params[i].value);
        }
        out += "}";
        if (d.kernel) {
            const std::string code = d.kernel->text();
            out += ",\"kernel\":{\"protocol\":" + json_string(d.kernel->protocol) +
                   ",\"scancode\":" + json_string(code.substr(code.find(':') + 1)) + "}";
        }
        out += ",\"frames\":" + std::to_string(d.frames) +
               ",\"toggle\":" + (d.toggle ? std::to_string(*d.toggle) : std::string("null")) + "}";
    }
    return out + "]";
}

std::vector<ir::protocols::Decode> shown_decodes(std::vector<ir::protocols::Decode> decodes) {
    if (!decodes.empty() && decodes.front().complete) {
        std::erase_if(decodes, [](const ir::protocols::Decode &d) { return !d.complete; });
    }
    return decodes;
}

std::vector<ir::protocols::Decode> shown_decodes(const ir::Signal &signal) {
    return shown_decodes(ir::protocols::decode(signal));
}

std::vector<ir::protocols::Decode> shown_decodes(const std::string &pronto) {
    const ir::ParseResult parsed = ir::parse_pronto(pronto);
    if (!parsed.ok()) {
        return {};
    }
    return shown_decodes(parsed.signal);
}

}  // namespace krvx::cli
