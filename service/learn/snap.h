// SPDX-License-Identifier: MIT
// Snapping a learned layout to its protocol: when the averaged frames decode as one
// protocol, the learned code is that protocol's own encoding of the decoded parameters
// (nominal timings, the protocol's repeat structure and lead-out), toggle value included,
// so that every learn of one button gives the same text.
//
// Threads: pure functions on values; any thread.
#pragma once

#include <optional>
#include <vector>

#include "ir/protocols.h"
#include "ir/signal.h"
#include "learn/shapes.h"

namespace krvxd::learn {

/// A measured carrier replaces the protocol's only when it is off by more than this.
inline constexpr double kCarrierSnapTolerance = 0.02;

struct Snap {
    ir::protocols::Decode decode;
    ir::Signal signal;        ///< the canonical code
    bool uses_intro = false;  ///< the layout had an intro (the protocol's intro frames)
    /// Whole frames that confirm the code when no intro + repeat is seen: 3 for protocols
    /// whose receivers want three frames (Sony), else 2.
    int frames_needed = 2;
};

/// Decodes intro + unit + unit when there is an intro; else, when the unit was seen more
/// than once, unit × 3, then one unit alone (a lone intro frame of a protocol with repeat
/// frames: one frame says nothing of how the code repeats). A unit of several frames must decode as
/// one frame of the protocol (two frames of two codes are not one code). `carrier_hz`: the measured
/// carrier (Pronto word resolution), 0 when none.
std::optional<Snap> snap(const std::vector<Shapes::Median> &intro,
                         const std::vector<Shapes::Median> &unit, int units_seen,
                         double carrier_hz);

/// The frames a receiver sees of `part`: split after every off time of ir::kFrameGapUs or
/// more, each frame mark ... mark followed by its gap.
std::vector<Shapes::Median> frames_of(const std::vector<ir::Burst> &part);

}  // namespace krvxd::learn
