// SPDX-License-Identifier: MIT
// The averaged raw code of frames that decode as no protocol.
//
// Receiver skew: a demodulating receiver lengthens every mark and shortens every space by
// the same few tens of µs. Nearly every remote's coding has its shortest mark as long as
// its shortest space (one unit), so when the shortest marks come out longer than the
// shortest spaces by up to 2 × kMaxSkewUs, half the difference is taken back from every
// mark and given to every space. Codes whose shortest mark is meant to be longer than
// their shortest space by as little lose that difference; codes with a larger one keep it.
//
// Cleaning: within the code, durations of one kind (marks, or spaces under ir::kFrameGapUs)
// that lie close together are one nominal duration sent many times; each becomes the mean
// of its cluster, so that a frame seen once (an intro) is averaged over its own bits.
// Sorted values start a new cluster where one exceeds the previous by more than
// kClusterStep.
//
// Threads: pure functions on values; any thread.
#pragma once

#include <vector>

#include "ir/signal.h"
#include "learn/shapes.h"

namespace krvxd::learn {

inline constexpr double kMaxSkewUs = 150;
inline constexpr double kClusterStep = 0.15;

/// Replaces every mark and every space of `frames` by the mean of its cluster.
void clean_durations(std::vector<Shapes::Median> &frames);

/// Half the excess of the shortest marks over the shortest spaces of `frames` (the mean of
/// the durations within kShapeTolerance of the shortest), when it is in (0, kMaxSkewUs];
/// else 0. Gaps of ir::kFrameGapUs or more are not spaces of the coding.
double receiver_skew_us(const std::vector<Shapes::Median> &frames);

/// The code: intro frames as the once part, unit frames as the repeat part, marks
/// shortened and spaces (gaps included) lengthened by `skew_us`, durations to the µs.
/// A frame without a measured gap gets ir::kDefaultTrailingGapUs.
ir::Signal raw_signal(const std::vector<Shapes::Median> &intro,
                      const std::vector<Shapes::Median> &unit, double carrier_hz, double skew_us);

}  // namespace krvxd::learn
