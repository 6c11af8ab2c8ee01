// SPDX-License-Identifier: MIT
// Pronto text of any bytes: parse_pronto and is_valid_pronto agree, a refusal says why in
// one bounded line, and whatever parses encodes to a valid code that parses back to the
// same signal (the canonical text is a fixed point).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ir/capture.h"
#include "ir/pronto.h"
#include "ir/receive_code.h"

namespace {

void require(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const ir::ParseResult parsed = ir::parse_pronto(text);
    require(parsed.ok() == ir::is_valid_pronto(text));
    if (!parsed.ok()) {
        require(parsed.error.size() < 160 && parsed.error.find('\n') == std::string::npos);
        return 0;
    }
    require(!parsed.signal.once.empty() || !parsed.signal.repeat.empty());

    const ir::EncodeResult encoded = ir::encode_pronto(parsed.signal);
    const ir::ParseResult again = ir::parse_pronto(encoded.text);
    require(again.ok());
    // Durations are whole µs: exact round trips need a period of at least 1 µs.
    const uint16_t word = ir::pronto_frequency_word(parsed.signal.carrier_hz);
    if (!encoded.clamped && word >= 5) {
        require(ir::encode_pronto(again.signal).text == encoded.text);
        require(again.signal.once.size() == parsed.signal.once.size());
        require(again.signal.repeat.size() == parsed.signal.repeat.size());
    }

    require(ir::receive_code(parsed.signal).size() == ir::kReceiveCodeLength);
    ir::Capture capture{ir::flatten(parsed.signal, 3), {38000}, 0};
    capture.durations_us.pop_back();
    const ir::CaptureResult learned = ir::from_capture(capture);
    require(ir::encode_pronto(learned.signal).ok());
    return 0;
}
