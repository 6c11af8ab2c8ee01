// SPDX-License-Identifier: MIT
#include "learn/shapes.h"

#include <algorithm>
#include <cmath>

namespace krvxd::learn {

namespace {

bool fits(const Group &g, const std::vector<uint32_t> &d) {
    if (g.sum_us.size() != d.size())
        return false;
    for (std::size_t i = 0; i < d.size(); ++i) {
        const double mean = g.mean(i);
        if (std::abs(double(d[i]) - mean) > std::max(kShapeToleranceUs, kShapeTolerance * mean))
            return false;
    }
    return true;
}

double median_of(std::vector<double> &v) {
    if (v.empty())
        return 0;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(mid), v.end());
    if (v.size() % 2 == 1)
        return v[mid];
    const double upper = v[mid];
    const double lower = *std::max_element(v.begin(), v.begin() + std::ptrdiff_t(mid));
    return (lower + upper) / 2;
}

}  // namespace

void Shapes::add(std::vector<Frame> &frames, std::size_t index) {
    Frame &f = frames[index];
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const Group &g) { return fits(g, f.durations_us); });
    if (it == groups_.end()) {
        groups_.push_back({std::vector<double>(f.durations_us.size(), 0.0), {}});
        it = groups_.end() - 1;
    }
    for (std::size_t i = 0; i < f.durations_us.size(); ++i)
        it->sum_us[i] += f.durations_us[i];
    it->members.push_back(index);
    f.group = std::size_t(it - groups_.begin());
}

Shapes::Median Shapes::median(const std::vector<Frame> &frames, std::size_t group) const {
    const Group &g = groups_[group];
    Median m;
    std::vector<double> column;
    column.reserve(g.members.size());
    for (std::size_t i = 0; i < g.sum_us.size(); ++i) {
        column.clear();
        for (std::size_t k : g.members)
            column.push_back(frames[k].durations_us[i]);
        m.durations_us.push_back(median_of(column));
    }
    column.clear();
    for (std::size_t k : g.members)
        if (frames[k].gap_us != 0)
            column.push_back(frames[k].gap_us);
    m.gap_us = median_of(column);
    return m;
}

}  // namespace krvxd::learn
