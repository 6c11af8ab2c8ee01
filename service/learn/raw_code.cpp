// SPDX-License-Identifier: MIT
#include "learn/raw_code.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "ir/capture.h"

namespace krvxd::learn {

namespace {

// Mean of the values within kShapeTolerance of the smallest; 0 when there are none.
double shortest(const std::vector<double> &v) {
    if (v.empty())
        return 0;
    const double low = *std::min_element(v.begin(), v.end());
    double sum = 0;
    int n = 0;
    for (double x : v)
        if (x <= low * (1 + kShapeTolerance)) {
            sum += x;
            ++n;
        }
    return sum / n;
}

uint32_t whole_us(double us) {
    return uint32_t(std::lround(std::clamp(us, 1.0, double(std::numeric_limits<uint32_t>::max()))));
}

void append_bursts(std::vector<ir::Burst> &out, const Shapes::Median &m, double skew_us) {
    const auto &d = m.durations_us;
    for (std::size_t i = 0; i < d.size(); i += 2) {
        const double gap = i + 1 < d.size() ? d[i + 1]
                           : m.gap_us >= 1  ? m.gap_us
                                            : double(ir::kDefaultTrailingGapUs);
        out.push_back({whole_us(d[i] - skew_us), whole_us(gap + skew_us)});
    }
}

// Durations of one kind, as (value, where) to write the cluster means back.
void clean_kind(std::vector<Shapes::Median> &frames, bool marks) {
    std::vector<std::pair<double, double *>> v;
    for (auto &f : frames)
        for (std::size_t i = marks ? 0 : 1; i < f.durations_us.size(); i += 2)
            if (marks || f.durations_us[i] < ir::kFrameGapUs)
                v.push_back({f.durations_us[i], &f.durations_us[i]});
    std::sort(v.begin(), v.end());
    for (std::size_t begin = 0; begin < v.size();) {
        std::size_t end = begin + 1;
        double sum = v[begin].first;
        while (end < v.size() && v[end].first <= v[end - 1].first * (1 + kClusterStep))
            sum += v[end++].first;
        const double mean = sum / double(end - begin);
        for (std::size_t i = begin; i < end; ++i)
            *v[i].second = mean;
        begin = end;
    }
}

}  // namespace

void clean_durations(std::vector<Shapes::Median> &frames) {
    clean_kind(frames, true);
    clean_kind(frames, false);
}

double receiver_skew_us(const std::vector<Shapes::Median> &frames) {
    std::vector<double> marks, spaces;
    for (const auto &f : frames)
        for (std::size_t i = 0; i < f.durations_us.size(); ++i) {
            const double d = f.durations_us[i];
            if (i % 2 == 0)
                marks.push_back(d);
            else if (d < ir::kFrameGapUs)
                spaces.push_back(d);
        }
    if (marks.empty() || spaces.empty())
        return 0;
    const double skew = (shortest(marks) - shortest(spaces)) / 2;
    return skew > 0 && skew <= kMaxSkewUs ? skew : 0;
}

ir::Signal raw_signal(const std::vector<Shapes::Median> &intro,
                      const std::vector<Shapes::Median> &unit, double carrier_hz, double skew_us) {
    ir::Signal s;
    s.carrier_hz = carrier_hz;
    for (const auto &m : intro)
        append_bursts(s.once, m, skew_us);
    for (const auto &m : unit)
        append_bursts(s.repeat, m, skew_us);
    return s;
}

}  // namespace krvxd::learn
