// SPDX-License-Identifier: MIT
// Captured frames grouped by shape: frames of one group have the same number of durations
// and each duration within tolerance of the group's running mean at that position. Two
// codes (two buttons, two toggle values, two remotes) never share a group: a different bit
// changes some duration by half or more, or the frame's length.
//
// Threads: plain data; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace krvxd::learn {

/// One frame as the receiver reported it.
struct Frame {
    std::vector<uint32_t> durations_us;  ///< mark, space, ..., mark
    uint32_t gap_us = 0;                 ///< silence after it; 0 when unknown
    bool burst_start = true;
    std::size_t group = 0;
};

/// A duration matches a group's mean when it is within this many µs or this fraction of
/// the mean: twice the jitter of a fair receiver, under half the smallest step between two
/// symbols of any coding (a 1:2 ratio).
inline constexpr double kShapeToleranceUs = 100;
inline constexpr double kShapeTolerance = 0.25;

struct Group {
    std::vector<double> sum_us;        ///< per position, over the members
    std::vector<std::size_t> members;  ///< indices into the frames, in arrival order
    double mean(std::size_t i) const { return sum_us[i] / double(members.size()); }
};

class Shapes {
  public:
    /// Puts frames[index] into the group of its shape (a new one when none fits) and
    /// records the group in the frame.
    void add(std::vector<Frame> &frames, std::size_t index);

    const std::vector<Group> &groups() const { return groups_; }

    /// Per-position median of the group's members (the mean of the middle two for an even
    /// count), durations and the gap after the frame (0 when no member measured one).
    struct Median {
        std::vector<double> durations_us;
        double gap_us = 0;
    };
    Median median(const std::vector<Frame> &frames, std::size_t group) const;

  private:
    std::vector<Group> groups_;
};

}  // namespace krvxd::learn
