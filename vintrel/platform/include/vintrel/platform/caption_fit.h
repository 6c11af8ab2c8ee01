// SPDX-License-Identifier: MIT
// Captions kept whole whatever fonts the machine has. The windows are laid out in twips for
// a dialog font of the classic metrics; where this machine's font is wider, a caption would
// lose glyphs at its control's edge. fitCaption() decides per label and button, from the
// font metrics at run time, and for the caption the control shows now:
//
//  - the designed rectangle and point size stay wherever the caption fits them;
//  - a button, or a label whose room holds one line, takes the largest point size, down to
//    kMaxShrinkPoints below the designed one, at which its caption fits the rectangle;
//  - a label that still does not fit (a label of several lines at once) grows into the free
//    room to its right, below, or both, within its container and never over another
//    control, at the largest point size down to kMaxShrinkPoints below that fits there;
//  - failing that, the point size goes on down, the control growing as little as needed,
//    to kSmallestPointSize at most: a smaller caption beats a cut one.
//
// A label fits when its caption, laid out as the label lays it out (wrapped where it wraps),
// is no wider and no taller than its room; a button when its caption and the margin its
// style asks around a button's text fit inside it. A label's room is its rectangle less any
// sibling the design places over its lower or right part (the label above stops where the
// one below begins). Siblings marked shown apart never count for each other.
//
// The designed rectangle and point size are what a control has the first time it is fitted.
// Threads: the user-interface thread only.
#pragma once

#include <QRect>

class QWidget;

namespace vintrel::platform {

inline constexpr double kMaxShrinkPoints = 2.0;
inline constexpr double kSmallestPointSize = 5.0;

/// A control's designed rectangle (in its container) and point size.
struct Design {
    QRect rect;
    double pointSize = 0.0;
};

/// Fits control's caption as described above; does nothing for controls other than labels
/// and buttons. Call it again after every change of the caption.
void fitCaption(QWidget *control);

/// Fits every label and button of container's window that lies inside container.
void fitCaptions(QWidget *container);

/// Marks two sibling controls as never shown at the same time: each may use the other's
/// place.
void setShownApart(QWidget *first, QWidget *second);

/// The design fitCaption() keeps to, taken from the control's present rectangle and point
/// size when it has not been fitted yet.
Design designOf(QWidget *control);

}  // namespace vintrel::platform
