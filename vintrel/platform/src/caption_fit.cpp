// SPDX-License-Identifier: MIT
#include "vintrel/platform/caption_fit.h"

#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace vintrel::platform {

namespace {

constexpr char kDesignRect[] = "vintrelDesignRect";
constexpr char kDesignPoints[] = "vintrelDesignPointSize";
constexpr char kShownApart[] = "vintrelShownApart";
constexpr double kStepPoints = 0.5;
constexpr int kTall = 1 << 20;

QFont sized(const QWidget *control, double points) {
    QFont font = control->font();
    font.setPointSizeF(points);
    return font;
}

// Whether control's caption, in font, fits a room of size: its lines no wider than the
// room and no taller, less the leading under the last line, which draws nothing.
bool fits(const QWidget *control, const QFont &font, const QSize &room) {
    const QFontMetricsF metrics(font);
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->text().isEmpty()) {
            return true;
        }
        const QMargins margins = label->contentsMargins();
        const qreal width = room.width() - margins.left() - margins.right() - 2 * label->margin();
        const qreal height = room.height() - margins.top() - margins.bottom() - 2 * label->margin();
        const int flags =
            static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRectF needed =
            metrics.boundingRect(QRectF(0, 0, width, kTall), flags, label->text());
        return needed.width() <= width && needed.height() - metrics.leading() <= height;
    }
    if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        // The style keeps half its button margin between the text and each edge.
        QStyleOptionButton option;
        option.initFrom(button);
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        const QSizeF text = metrics.size(Qt::TextShowMnemonic, button->text());
        return text.width() + margin <= room.width() && text.height() + margin <= room.height();
    }
    return true;
}

bool shownApart(const QWidget *a, const QWidget *b) {
    return a->property(kShownApart).toStringList().contains(b->objectName());
}

// The rectangles of the siblings control must keep clear of.
std::vector<QRect> siblingsOf(const QWidget *control) {
    std::vector<QRect> others;
    const QWidget *container = control->parentWidget();
    if (container == nullptr) {
        return others;
    }
    for (const QWidget *sibling : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (sibling != control && !sibling->isWindow() && !shownApart(control, sibling)) {
            others.push_back(sibling->geometry());
        }
    }
    return others;
}

// Where the container lets its controls grow to: inside a frame's border and title.
QRect areaOf(const QWidget *control) {
    const QWidget *container = control->parentWidget();
    if (const auto *frame = qobject_cast<const QGroupBox *>(container)) {
        return frame->contentsRect();
    }
    return container != nullptr ? container->rect() : control->geometry();
}

// rect less the siblings the design places over its lower or right part. A sibling that
// covers rect's corner is the one that gives way, not rect.
QRect roomIn(QRect rect, const std::vector<QRect> &others) {
    for (const QRect &other : others) {
        if (!rect.intersects(other) || other.contains(rect.topLeft())) {
            continue;
        }
        QRect above = rect;
        above.setBottom(other.top() - 1);
        QRect before = rect;
        before.setRight(other.left() - 1);
        const bool aboveFits = other.top() > rect.top();
        const bool beforeFits = other.left() > rect.left();
        const auto area = [](const QRect &r) { return r.width() * r.height(); };
        rect = aboveFits && (!beforeFits || area(above) >= area(before)) ? above : before;
    }
    return rect;
}

// How far rect may reach to the right, or down, without touching a sibling it does not
// already overlap by design, within limit.
int freeRight(const QRect &rect, const QRect &design, const std::vector<QRect> &others, int limit) {
    for (const QRect &other : others) {
        if (!other.intersects(design) && other.left() > rect.right() &&
            other.top() <= rect.bottom() && other.bottom() >= rect.top()) {
            limit = std::min(limit, other.left() - 1);
        }
    }
    return std::max(limit, rect.right());
}

int freeBottom(const QRect &rect, const QRect &design, const std::vector<QRect> &others,
               int limit) {
    for (const QRect &other : others) {
        if (!other.intersects(design) && other.top() > rect.bottom() &&
            other.left() <= rect.right() && other.right() >= rect.left()) {
            limit = std::min(limit, other.top() - 1);
        }
    }
    return std::max(limit, rect.bottom());
}

// The smallest value in [low, high] for which fitsAt holds, given that it holds at high and
// that a larger value never fits worse.
int smallestFitting(int low, int high, const std::function<bool(int)> &fitsAt) {
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (fitsAt(middle)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return high;
}

struct Growth {
    const QWidget *control;
    QRect design;
    std::vector<QRect> others;
    QRect area;

    bool fitsIn(const QFont &font, const QRect &rect) const {
        return fits(control, font, roomIn(rect, others).size());
    }
    QRect wide() const {
        QRect rect = design;
        rect.setRight(freeRight(design, design, others, area.right()));
        return rect;
    }
    // The largest rectangle the control may take: as wide as the room to its right, then
    // as deep as the room below that.
    QRect largest() const {
        QRect rect = wide();
        rect.setBottom(freeBottom(rect, design, others, area.bottom()));
        return rect;
    }
    // The design grown by the least that fits the caption in font: wider, else deeper, else
    // both; nothing when even the largest rectangle is too small.
    std::optional<QRect> least(const QFont &font) const {
        if (fitsIn(font, design)) {
            return design;
        }
        const auto withRight = [](QRect rect, int right) {
            rect.setRight(right);
            return rect;
        };
        const auto withBottom = [](QRect rect, int bottom) {
            rect.setBottom(bottom);
            return rect;
        };
        const QRect widest = wide();
        if (fitsIn(font, widest)) {
            return withRight(design, smallestFitting(design.right(), widest.right(), [&](int r) {
                                 return fitsIn(font, withRight(design, r));
                             }));
        }
        for (const QRect &start : {design, widest}) {
            const QRect deepest =
                withBottom(start, freeBottom(start, design, others, area.bottom()));
            if (fitsIn(font, deepest)) {
                return withBottom(start,
                                  smallestFitting(start.bottom(), deepest.bottom(), [&](int b) {
                                      return fitsIn(font, withBottom(start, b));
                                  }));
            }
        }
        return std::nullopt;
    }
};

void apply(QWidget *control, const QRect &rect, double points) {
    if (control->font().pointSizeF() != points) {
        control->setFont(sized(control, points));
    }
    if (control->geometry() != rect) {
        control->setGeometry(rect);
    }
}

}  // namespace

Design designOf(QWidget *control) {
    if (!control->property(kDesignRect).isValid()) {
        control->setProperty(kDesignRect, control->geometry());
        control->setProperty(kDesignPoints, control->font().pointSizeF());
    }
    return {control->property(kDesignRect).toRect(), control->property(kDesignPoints).toDouble()};
}

void setShownApart(QWidget *first, QWidget *second) {
    for (auto [one, other] : {std::pair{first, second}, std::pair{second, first}}) {
        QStringList apart = one->property(kShownApart).toStringList();
        apart << other->objectName();
        one->setProperty(kShownApart, apart);
    }
}

void fitCaption(QWidget *control) {
    const bool button = qobject_cast<QPushButton *>(control) != nullptr;
    if (!button && qobject_cast<QLabel *>(control) == nullptr) {
        return;
    }
    const Design design = designOf(control);
    const Growth growth{control, design.rect, siblingsOf(control), areaOf(control)};
    // The sizes to try, largest first, in half points: down to the usual bound, or as far
    // as a caption stays readable.
    const auto sizes = [&design](double lowest) {
        std::vector<double> points;
        for (int step = 0; design.pointSize - step * kStepPoints >= lowest; ++step) {
            points.push_back(design.pointSize - step * kStepPoints);
        }
        return points;
    };

    // A single line keeps its rectangle at a smaller size first.
    const QRect room = roomIn(design.rect, growth.others);
    const bool oneLine =
        button || room.height() < 2 * QFontMetricsF(sized(control, design.pointSize)).lineSpacing();
    if (oneLine) {
        for (const double points : sizes(design.pointSize - kMaxShrinkPoints)) {
            if (fits(control, sized(control, points), room.size())) {
                apply(control, design.rect, points);
                return;
            }
        }
    }
    // Then it grows, at the largest size that fits there.
    for (const double points : sizes(kSmallestPointSize)) {
        if (const std::optional<QRect> rect = growth.least(sized(control, points))) {
            apply(control, *rect, points);
            return;
        }
    }
    apply(control, growth.largest(), kSmallestPointSize);
}

void fitCaptions(QWidget *container) {
    for (QWidget *control : container->findChildren<QWidget *>()) {
        if (control->window() == container->window()) {
            fitCaption(control);
        }
    }
}

}  // namespace vintrel::platform
