// SPDX-License-Identifier: MIT
#include "learn/snap.h"

#include <cmath>
#include <string_view>

#include "ir/capture.h"

namespace krvxd::learn {

namespace {

void append(std::vector<uint32_t> &out, const Shapes::Median &m) {
    for (double d : m.durations_us)
        out.push_back(uint32_t(std::lround(std::max(1.0, d))));
    out.push_back(m.gap_us >= 1 ? uint32_t(std::lround(m.gap_us)) : ir::kDefaultTrailingGapUs);
}

// The first decode that explains every duration.
std::optional<ir::protocols::Decode> whole_decode(const std::vector<uint32_t> &d,
                                                  double carrier_hz) {
    for (auto &dec : ir::protocols::decode(d, carrier_hz))
        if (dec.complete)
            return std::move(dec);
    return std::nullopt;
}

std::vector<uint32_t> joined(const std::vector<Shapes::Median> &a, int copies_of_b,
                             const std::vector<Shapes::Median> &b) {
    std::vector<uint32_t> d;
    for (const auto &m : a)
        append(d, m);
    for (int i = 0; i < copies_of_b; ++i)
        for (const auto &m : b)
            append(d, m);
    return d;
}

}  // namespace

std::vector<Shapes::Median> frames_of(const std::vector<ir::Burst> &part) {
    std::vector<Shapes::Median> frames;
    Shapes::Median f;
    for (std::size_t i = 0; i < part.size(); ++i) {
        f.durations_us.push_back(part[i].on_us);
        if (part[i].off_us < ir::kFrameGapUs && i + 1 < part.size()) {
            f.durations_us.push_back(part[i].off_us);
            continue;
        }
        f.gap_us = part[i].off_us;
        frames.push_back(std::move(f));
        f = {};
    }
    return frames;
}

std::optional<Snap> snap(const std::vector<Shapes::Median> &intro,
                         const std::vector<Shapes::Median> &unit, int units_seen,
                         double carrier_hz) {
    if (unit.empty())
        return std::nullopt;
    if (unit.size() > 1) {
        const auto one = whole_decode(joined({}, 1, unit), carrier_hz);
        if (!one || one->frames != 1)
            return std::nullopt;
    }
    Snap s;
    s.uses_intro = !intro.empty();
    std::optional<ir::protocols::Decode> d;
    if (s.uses_intro) {
        d = whole_decode(joined(intro, 2, unit), carrier_hz);
    } else {
        if (units_seen > 1)
            d = whole_decode(joined({}, 3, unit), carrier_hz);
        if (!d)
            d = whole_decode(joined({}, 1, unit), carrier_hz);
    }
    if (!d || d->protocol == nullptr)
        return std::nullopt;
    auto encoded = ir::protocols::encode(*d->protocol, d->params);
    if (!encoded.ok())
        return std::nullopt;
    s.signal = std::move(encoded.signal);
    const double nominal = d->protocol->carrier_hz;
    if (carrier_hz > 0 && nominal > 0 &&
        std::abs(carrier_hz - nominal) > kCarrierSnapTolerance * nominal)
        s.signal.carrier_hz = carrier_hz;
    s.frames_needed = std::string_view(d->protocol->name).starts_with("Sony") ? 3 : 2;
    s.decode = std::move(*d);
    return s;
}

}  // namespace krvxd::learn
