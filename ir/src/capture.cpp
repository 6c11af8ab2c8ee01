// SPDX-License-Identifier: MIT
#include "ir/capture.h"

#include <algorithm>
#include <numeric>

namespace ir {
namespace {

// Captures longer than this are searched for a repeat only in their first pairs: the
// search is quadratic in the pairs it looks at.
constexpr std::size_t kMaxSearchPairs = 2048;

bool similar(uint32_t a, uint32_t b) {
    const uint32_t lo = std::min(a, b);
    const uint32_t hi = std::max(a, b);
    const uint64_t diff = hi - lo;
    return diff <= kRepeatToleranceUs || diff * 100 <= uint64_t{hi} * kRepeatTolerancePercent;
}

}  // namespace

Signal split_repeat(std::vector<Burst> bursts, double carrier_hz) {
    Signal s;
    s.carrier_hz = carrier_hz;

    const std::size_t pairs = std::min(bursts.size(), kMaxSearchPairs);
    std::vector<uint32_t> d;
    d.reserve(2 * pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        d.push_back(bursts[i].on_us);
        d.push_back(bursts[i].off_us);
    }
    const std::size_t n = d.size();
    std::vector<uint64_t> prefix(n + 1, 0);  // prefix[i] = sum of d[0..i)
    for (std::size_t i = 0; i < n; ++i) {
        prefix[i + 1] = prefix[i] + d[i];
    }

    // For a shift of `len` pairs, run[i] counts how many durations from i on each match the
    // one `len` pairs later; a block repeats c times from b when run[b] covers c-1 shifts.
    // Copies are compared with their neighbours, which keeps the whole search O(n^2).
    std::size_t best_b = 0;
    std::size_t best_len = 0;
    std::size_t best_copies = 0;
    uint64_t best_time = 0;
    std::vector<std::size_t> run(n + 1, 0);
    for (std::size_t len = pairs / 2; len >= 2; --len) {
        const std::size_t shift = 2 * len;
        run[n - shift] = 0;
        for (std::size_t i = n - shift; i-- > 0;) {
            const std::size_t j = i + shift;
            // The capture's very last gap is whatever silence was measured (or assumed):
            // it matches any other long gap.
            const bool match =
                similar(d[i], d[j]) || (j == n - 1 && d[i] >= kFrameGapUs && d[j] >= kFrameGapUs);
            run[i] = match ? run[i + 1] + 1 : 0;
        }
        for (std::size_t b = 0; b + shift <= n; b += 2) {
            if (d[b + shift - 1] <= kFrameGapUs) {
                continue;  // a repeated frame ends in a real gap
            }
            const std::size_t copies = 1 + run[b] / shift;
            if (copies < 2) {
                continue;
            }
            const uint64_t time = prefix[b + copies * shift] - prefix[b];
            // On a tie the shorter block wins: k ditto frames are one ditto repeated, not
            // k/2 pairs of dittos.
            if (time > best_time || (time == best_time && len < best_len)) {
                best_time = time;
                best_b = b;
                best_len = len;
                best_copies = copies;
            }
        }
    }

    if (best_copies == 0) {
        s.once = std::move(bursts);
        return s;
    }
    const std::size_t first = best_b / 2;
    s.once.assign(bursts.begin(), bursts.begin() + std::ptrdiff_t(first));
    s.repeat.assign(bursts.begin() + std::ptrdiff_t(first),
                    bursts.begin() + std::ptrdiff_t(first + best_len));
    return s;
}

CaptureResult from_capture(const Capture &capture) {
    CaptureResult r;
    // Some receivers report 0 for a carrier they could not measure: those readings are
    // left out of the mean.
    uint64_t sum = 0;
    uint64_t count = 0;
    for (uint32_t hz : capture.carrier_samples_hz) {
        if (hz != 0) {
            sum += hz;
            ++count;
        }
    }
    r.carrier_measured = count != 0;
    const double carrier = r.carrier_measured ? double(sum) / double(count) : 38000.0;

    // Pairs from the durations; an odd count ends on a pulse and gets the trailing gap, an
    // even count already ends on its gap and keeps it.
    const std::vector<uint32_t> &d = capture.durations_us;
    std::vector<Burst> bursts;
    bursts.reserve(d.size() / 2 + 1);
    for (std::size_t i = 0; i < d.size(); i += 2) {
        const uint32_t gap =
            capture.trailing_gap_us != 0 ? capture.trailing_gap_us : kDefaultTrailingGapUs;
        bursts.push_back({d[i], i + 1 < d.size() ? d[i + 1] : gap});
    }
    r.signal = split_repeat(std::move(bursts), carrier);
    return r;
}

}  // namespace ir
