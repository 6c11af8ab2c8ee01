// SPDX-License-Identifier: MIT
// Which captured frames make up the code: an intro (frames sent once per press) and a
// repeat unit (frames sent again and again while the button is held), found from the
// sequence of frame shapes. A frame that fits neither where it stands (a glitch, a frame
// of another button or remote) is dropped.
//
// A layout is fitted burst by burst: each burst may start with the intro, then units
// follow. A frame of the intro's first shape met among the units starts the intro again
// (two short presses the receiver did not separate) and is counted as a restart.
//
// Threads: pure functions on values; any thread.
#pragma once

#include <cstddef>
#include <vector>

#include "learn/shapes.h"

namespace krvxd::learn {

struct Layout {
    std::vector<std::size_t> intro;  ///< shape groups of the intro frames, in order
    std::vector<std::size_t> unit;   ///< shape groups of one repeat unit, in order
    friend bool operator==(const Layout &, const Layout &) = default;
};

/// How well a layout explains the frames.
struct Fit {
    Layout layout;
    /// Per frame: its index in intro + unit (intro frames first), or -1 when dropped.
    std::vector<int> role;
    int intros = 0;    ///< whole intros seen
    int units = 0;     ///< whole units seen
    int matched = 0;   ///< frames that fit
    int dropped = 0;   ///< frames that did not
    int restarts = 0;  ///< intros that began among the units of a burst
};

Fit fit(const std::vector<Frame> &frames, const Layout &layout);

/// Longest intro and unit looked for, in frames.
inline constexpr std::size_t kMaxIntroFrames = 3;
inline constexpr std::size_t kMaxUnitFrames = 3;

/// Candidate layouts taken from the first frames (after up to two leading glitches), each
/// fitted, best first: most frames matched (intro frames of a restart not counted), then
/// the shorter unit, the shorter intro.
std::vector<Fit> candidate_fits(const std::vector<Frame> &frames);

}  // namespace krvxd::learn
