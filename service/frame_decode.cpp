// SPDX-License-Identifier: MIT
#include "frame_decode.h"

#include "ir/protocols.h"

namespace krvxd {

wire::ReceivedFrame describe_frame(const std::string &code, const ReceivedFrame &frame) {
    wire::ReceivedFrame out;
    out.code = code;
    double sum = 0;
    int readings = 0;
    for (uint32_t hz : frame.carrier_samples_hz) {
        if (hz > 0) {
            sum += hz;
            ++readings;
        }
    }
    out.carrier_hz = readings > 0 ? static_cast<uint32_t>(sum / readings + 0.5) : 0;
    const std::vector<ir::protocols::Decode> decodes =
        ir::protocols::decode(frame.durations_us, out.carrier_hz);
    if (!decodes.empty()) {
        out.decode = decodes.front().text().substr(0, wire::kMaxDecodeText);
        if (decodes.front().kernel)
            out.kernel = decodes.front().kernel->text();
    }
    const std::size_t n = std::min(frame.durations_us.size(), wire::kMaxFrameDurations);
    out.durations_us.assign(frame.durations_us.begin(), frame.durations_us.begin() + n);
    return out;
}

}  // namespace krvxd
