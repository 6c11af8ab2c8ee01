// SPDX-License-Identifier: MIT
#include "learn/layout.h"

#include <algorithm>

namespace krvxd::learn {

Fit fit(const std::vector<Frame> &frames, const Layout &layout) {
    Fit f{layout, std::vector<int>(frames.size(), -1), 0, 0, 0, 0, 0};
    const std::size_t b = layout.intro.size(), p = layout.unit.size();
    if (p == 0)
        return f;
    std::size_t k = 0;  // next intro frame; b once the intro is over
    std::size_t j = 0;  // next unit frame
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::size_t g = frames[i].group;
        if (i > 0 && frames[i].burst_start)
            k = j = 0;
        if (k == b && b > 0 && g == layout.intro[0]) {
            ++f.restarts;
            k = j = 0;
        }
        if (k < b) {
            if (g == layout.intro[k]) {
                f.role[i] = int(k);
                if (++k == b)
                    ++f.intros;
                ++f.matched;
                continue;
            }
            if (k != 0 || g != layout.unit[0]) {
                ++f.dropped;
                continue;
            }
            k = b;  // a burst without its intro (the intro was lost)
        }
        if (g != layout.unit[j]) {
            ++f.dropped;
            continue;
        }
        f.role[i] = int(b + j);
        ++f.matched;
        if (++j == p) {
            ++f.units;
            j = 0;
        }
    }
    return f;
}

std::vector<Fit> candidate_fits(const std::vector<Frame> &frames) {
    std::vector<Fit> fits;
    for (std::size_t skip = 0; skip < 3; ++skip) {
        for (std::size_t b = 0; b <= kMaxIntroFrames; ++b) {
            for (std::size_t p = 1; p <= kMaxUnitFrames; ++p) {
                if (skip + b + p > frames.size())
                    break;
                Layout l;
                for (std::size_t i = 0; i < b; ++i)
                    l.intro.push_back(frames[skip + i].group);
                for (std::size_t i = 0; i < p; ++i)
                    l.unit.push_back(frames[skip + b + i].group);
                // An intro shape is not a unit shape; a unit is not two copies of a shorter one.
                const bool shared = std::any_of(l.intro.begin(), l.intro.end(), [&](std::size_t g) {
                    return std::find(l.unit.begin(), l.unit.end(), g) != l.unit.end();
                });
                const bool doubled =
                    p > 1 && std::all_of(l.unit.begin(), l.unit.end(),
                                         [&](std::size_t g) { return g == l.unit[0]; });
                if (shared || doubled)
                    continue;
                if (std::any_of(fits.begin(), fits.end(),
                                [&](const Fit &f) { return f.layout == l; }))
                    continue;
                fits.push_back(fit(frames, l));
            }
        }
    }
    // Intro frames that restart among the units are matched, but a layout does not win by
    // calling every other frame an intro.
    const auto score = [](const Fit &f) {
        return f.matched - f.restarts * int(f.layout.intro.size());
    };
    std::stable_sort(fits.begin(), fits.end(), [&](const Fit &a, const Fit &b) {
        if (score(a) != score(b))
            return score(a) > score(b);
        if (a.layout.unit.size() != b.layout.unit.size())
            return a.layout.unit.size() < b.layout.unit.size();
        return a.layout.intro.size() < b.layout.intro.size();
    });
    return fits;
}

}  // namespace krvxd::learn
