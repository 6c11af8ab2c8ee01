// SPDX-License-Identifier: MIT
// The service's frame reader and message decoder on arbitrary client bytes: never reads
// out of bounds, never holds more than one frame, and a decoded message re-encodes to the
// same payload.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "wire/frame_reader.h"
#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    wire::FrameReader reader;
    // Feed in two pieces so that frames cut at any point are exercised.
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    std::vector<uint8_t> payload;
    for (int piece = 0; piece < 2; ++piece) {
        reader.append(piece == 0 ? std::span<const uint8_t>(data, cut)
                                 : std::span<const uint8_t>(data + cut, size - cut));
        while (reader.next(payload) == wire::FrameReader::Status::Frame) {
            if (payload.empty() || payload.size() > wire::kMaxPayload) std::abort();
            const auto decoded = wire::decode(payload);
            if (!decoded.message) continue;
            const auto again = wire::encode(*decoded.message);
            if (again.size() != payload.size() + wire::kLengthPrefix) std::abort();
            if (!std::equal(payload.begin(), payload.end(), again.begin() + wire::kLengthPrefix))
                std::abort();
        }
        if (reader.pending() > size) std::abort();
    }
    return 0;
}
