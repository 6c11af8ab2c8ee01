// SPDX-License-Identifier: MIT
#include "lirc/send_plan.h"

#include <cmath>
#include <numeric>

#include "lirc/abi.h"
#include "wire/sendable.h"

namespace krvxd::lirc {

uint64_t SendChunk::duration_us() const {
    return std::accumulate(entries.begin(), entries.end(), uint64_t{0});
}

std::vector<SendChunk> split_into_writes(const std::vector<uint32_t> &durations) {
    // Pair i is (on = durations[2i], off = durations[2i+1]). A chunk covers pairs [a, b]:
    // on_a, off_a, ..., on_b, and leaves off_b as its gap.
    const std::size_t pairs = durations.size() / 2;
    const std::size_t max_pairs = (kMaxWriteEntries + 1) / 2;
    std::vector<SendChunk> chunks;
    std::size_t a = 0;
    while (a < pairs) {
        // Furthest end that keeps the write within the limits.
        std::size_t b = a;
        uint64_t sum = durations[2 * a];
        while (b + 1 < pairs && b + 1 - a < max_pairs) {
            const uint64_t next = sum + durations[2 * b + 1] + durations[2 * (b + 1)];
            if (next > kMaxWriteDurationUs) {
                break;
            }
            sum = next;
            ++b;
        }
        std::size_t end = b;
        if (b + 1 < pairs) {
            // Not the last chunk: end at the latest frame gap, else at the longest space.
            std::size_t best = b;
            bool found_frame_gap = false;
            for (std::size_t i = b + 1; i-- > a;) {
                if (durations[2 * i + 1] >= kFrameGapUs) {
                    best = i;
                    found_frame_gap = true;
                    break;
                }
            }
            if (!found_frame_gap) {
                for (std::size_t i = a; i <= b; ++i) {
                    if (durations[2 * i + 1] >= durations[2 * best + 1]) {
                        best = i;
                    }
                }
            }
            end = best;
        }
        SendChunk c;
        c.entries.assign(durations.begin() + static_cast<std::ptrdiff_t>(2 * a),
                         durations.begin() + static_cast<std::ptrdiff_t>(2 * end + 1));
        c.gap_after_us = durations[2 * end + 1];
        chunks.push_back(std::move(c));
        a = end + 1;
    }
    return chunks;
}

PlanResult plan_send(const ir::Signal &signal, int repeat_count, const Capabilities &caps) {
    PlanResult r;
    auto refuse = [&r](Fault fault, std::string message) {
        r.outcome.fault = fault;
        r.outcome.message = std::move(message);
        return r;
    };
    if (auto why = send_refusal(caps)) {
        return refuse(Fault::not_supported, *why);
    }
    if (signal.once.empty() && signal.repeat.empty()) {
        return refuse(Fault::invalid_code, "the code has no bursts to send");
    }
    if (!(signal.carrier_hz > 0)) {
        // The kernel interface has no way to switch the modulation off.
        return refuse(Fault::not_supported, "the device cannot send unmodulated codes (type 0100)");
    }
    if (signal.carrier_hz > static_cast<double>(UINT32_MAX)) {
        return refuse(Fault::invalid_code, "the code's carrier frequency is out of range");
    }
    const int repeats = repeat_count <= 0 ? 1 : repeat_count;
    const uint64_t air = ir::air_time_us(signal, repeats);
    if (air > wire::kMaxSendAirTimeUs) {
        return refuse(Fault::invalid_code, "the send would last " + std::to_string(air / 1000000) +
                                               " s; at most " +
                                               std::to_string(wire::kMaxSendAirTimeUs / 1000000) +
                                               " s are allowed (lower the repeat count)");
    }
    const std::vector<uint32_t> flat = ir::flatten(signal, repeats);
    if (flat.empty() || flat.size() % 2 != 0) {
        return refuse(Fault::invalid_code, "the code's bursts are incomplete");
    }
    for (std::size_t i = 0; i < flat.size(); ++i) {
        if (flat[i] == 0) {
            return refuse(Fault::invalid_code, "the code has a zero duration (" +
                                                   std::string(i % 2 ? "off" : "on") +
                                                   " time of burst " + std::to_string(i / 2 + 1) +
                                                   "), which a kernel device cannot send");
        }
        if (i % 2 == 0 && flat[i] > kMaxWriteDurationUs) {
            return refuse(Fault::invalid_code,
                          "the code has an on time of " + std::to_string(flat[i] / 1000) +
                              " ms; a kernel device sends at most 500 ms at once");
        }
    }
    r.plan.chunks = split_into_writes(flat);
    r.plan.air_time_us = std::accumulate(flat.begin(), flat.end(), uint64_t{0});
    if (caps.can_set_send_carrier()) {
        r.plan.carrier_hz = static_cast<uint32_t>(std::lround(signal.carrier_hz));
    } else {
        r.plan.remark = "the device cannot set its carrier: sent at the device's own carrier";
    }
    if (caps.can_set_duty_cycle() && signal.duty_cycle && *signal.duty_cycle >= 1 &&
        *signal.duty_cycle <= 99) {
        r.plan.duty_cycle = *signal.duty_cycle;
    }
    return r;
}

}  // namespace krvxd::lirc
