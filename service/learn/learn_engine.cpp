// SPDX-License-Identifier: MIT
#include "learn/learn_engine.h"

#include <algorithm>
#include <cmath>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "learn/raw_code.h"
#include "learn/snap.h"

namespace krvxd {

namespace {

using learn::Shapes;

// A remote's frame: a few pulses, none shorter than a receiver can tell from a glitch.
constexpr uint32_t kShortestUs = 50;
constexpr std::size_t kFewestDurations = 3;
// The carrier a code gets when the receiver measured none.
constexpr double kAssumedCarrierHz = 38000;
// Quality points lost per percent of mean deviation beyond the first.
constexpr double kPointsPerPercent = 4;
// Layouts tried for a protocol decode, best first.
constexpr std::size_t kLayoutsTried = 8;

bool looks_like_remote(const ReceivedFrame &f) {
    const std::size_t n = f.durations_us.size();
    if (n < kFewestDurations || n % 2 == 0 || n > LearnEngine::kMaxFrameDurations)
        return false;
    return std::all_of(f.durations_us.begin(), f.durations_us.end(),
                       [](uint32_t d) { return d >= kShortestUs; });
}

// Mean deviation in percent of `got` from `want`, position by position.
double deviation_percent(const std::vector<uint32_t> &got, const std::vector<double> &want) {
    double sum = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
        sum += std::abs(double(got[i]) - want[i]) / std::max(want[i], 1.0);
    return got.empty() ? 0 : 100 * sum / double(got.size());
}

// A median with marks shortened and spaces lengthened by `skew_us`.
Shapes::Median deskewed(Shapes::Median m, double skew_us) {
    for (std::size_t i = 0; i < m.durations_us.size(); ++i)
        m.durations_us[i] += i % 2 == 0 ? -skew_us : skew_us;
    return m;
}

}  // namespace

LearnReport LearnEngine::add(const ReceivedFrame &frame) {
    if (!looks_like_remote(frame)) {
        ++noise_frames_;
    } else if (frames_.size() < kMaxFrames) {
        for (uint32_t c : frame.carrier_samples_hz)
            if (c != 0) {
                carrier_sum_ += c;
                ++carrier_readings_;
            }
        frames_.push_back({frame.durations_us, frame.trailing_gap_us, frame.burst_start, 0});
        shapes_.add(frames_, frames_.size() - 1);
    }
    if (const auto r = evaluate()) {
        const int32_t progress =
            r->confirmed ? 100 : std::min(99, 100 * std::min(r->evidence, r->needed) / r->needed);
        report_.progress = std::max(report_.progress, progress);
        report_.quality = int32_t(std::lround(std::clamp(r->quality, 0.0, 100.0)));
        confirmed_ = confirmed_ || r->confirmed;
    }
    if (carrier_readings_ > 0)
        report_.carrier_hz = int32_t(std::lround(carrier_sum_ / carrier_readings_ / 100) * 100);
    return report_;
}

double LearnEngine::code_carrier_hz() const {
    if (carrier_readings_ == 0)
        return 0;
    return ir::pronto_frequency(ir::pronto_frequency_word(carrier_sum_ / carrier_readings_));
}

double LearnEngine::quality_of(const learn::Fit &fit,
                               const std::vector<Shapes::Median> &reference) const {
    double excess = 0;
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        const int role = fit.role[i];
        if (role < 0)
            continue;
        const auto &d = frames_[i].durations_us;
        const bool nominal = std::size_t(role) < reference.size() &&
                             reference[std::size_t(role)].durations_us.size() == d.size();
        const double dev =
            deviation_percent(d, nominal ? reference[std::size_t(role)].durations_us
                                         : shapes_.median(frames_, frames_[i].group).durations_us);
        excess += std::max(0.0, dev - 1);
    }
    if (fit.matched == 0)
        return 0;
    const double spread = 100 - kPointsPerPercent * excess / fit.matched;
    return spread * fit.matched / double(fit.matched + fit.dropped + noise_frames_);
}

std::optional<LearnEngine::Result> LearnEngine::evaluate() const {
    const auto fits = learn::candidate_fits(frames_);
    if (fits.empty())
        return std::nullopt;
    const auto medians = [&](const std::vector<std::size_t> &groups) {
        std::vector<Shapes::Median> out;
        for (std::size_t g : groups)
            out.push_back(shapes_.median(frames_, g));
        return out;
    };
    const double carrier = code_carrier_hz();
    // The raw code's layout: the best whose unit is one frame (a unit of several frames
    // that decodes as nothing cannot be told from interleaved remotes), without an intro
    // that recurs among the units.
    const auto raw = std::find_if(fits.begin(), fits.end(), [](const learn::Fit &f) {
        return f.layout.unit.size() == 1 && (f.layout.intro.empty() || f.restarts == 0);
    });
    // A protocol: the best layout that decodes, among those with as many whole units as
    // the raw layout (a minority code does not win by decoding).
    const int units_to_beat = raw == fits.end() ? 0 : raw->units;
    for (std::size_t i = 0; i < std::min<std::size_t>(fits.size(), kLayoutsTried); ++i) {
        const learn::Fit *f = &fits[i];
        if (f->units < units_to_beat)
            continue;
        const auto s =
            learn::snap(medians(f->layout.intro), medians(f->layout.unit), f->units, carrier);
        if (!s)
            continue;
        Result r;
        r.fit = *f;
        r.signal = s->signal;
        r.snapped = true;
        r.decode = s->decode.text();
        if (s->uses_intro) {
            r.needed = 2;
            r.evidence = std::min(r.fit.intros, 1) + std::min(r.fit.units, 1);
        } else {
            r.needed = s->frames_needed;
            r.evidence = r.fit.units;
        }
        r.confirmed = r.evidence >= r.needed;
        // The learned code's frames as it will be sent (nominal timings at the Pronto
        // word's resolution), by role: the intro's, then the unit's. A unit that decoded
        // alone as a code with an intro (a lone NEC frame) is that intro.
        const ir::Signal sent = ir::parse_pronto(ir::encode_pronto(s->signal).text).signal;
        std::vector<Shapes::Median> reference;
        if (s->uses_intro) {
            reference = learn::frames_of(sent.once);
            const auto rest = learn::frames_of(sent.repeat);
            if (reference.size() != r.fit.layout.intro.size())
                reference.clear();
            else
                reference.insert(reference.end(), rest.begin(), rest.end());
        } else {
            reference = learn::frames_of(sent.once.empty() ? sent.repeat : sent.once);
        }
        r.quality = quality_of(r.fit, reference);
        return r;
    }

    // No protocol: the average.
    if (raw == fits.end())
        return std::nullopt;
    Result r;
    r.fit = *raw;
    std::vector<Shapes::Median> all = medians(raw->layout.intro);
    const std::size_t intro_frames = all.size();
    for (auto &m : medians(raw->layout.unit))
        all.push_back(std::move(m));
    learn::clean_durations(all);
    const std::vector<Shapes::Median> intro(all.begin(),
                                            all.begin() + std::ptrdiff_t(intro_frames)),
        unit(all.begin() + std::ptrdiff_t(intro_frames), all.end());
    const double skew = learn::receiver_skew_us(all);
    r.signal = learn::raw_signal(intro, unit, carrier > 0 ? carrier : kAssumedCarrierHz, skew);
    r.needed = kRawUnitsNeeded + (intro.empty() ? 0 : 1);
    r.evidence =
        std::min(r.fit.units, kRawUnitsNeeded) + (intro.empty() ? 0 : std::min(r.fit.intros, 1));
    r.confirmed = r.evidence >= r.needed;
    for (auto &m : all)
        m = deskewed(std::move(m), skew);
    r.quality = quality_of(r.fit, all);
    return r;
}

int32_t LearnEngine::failure_reason() const {
    if (!frames_.empty())
        return LEARN_FAIL_PARTIAL;
    if (noise_frames_ > 0)
        return LEARN_FAIL_NOISE;
    return LEARN_FAIL_NOTHING_SEEN;
}

LearnOutcome LearnEngine::finish() const {
    const auto r = evaluate();
    if (!r)
        return {failure_reason(), {}};
    const double carrier = code_carrier_hz();
    if (carrier != 0 && (carrier < 20000 || carrier > 500000))
        return {LEARN_FAIL_CARRIER, {}};
    const ir::EncodeResult encoded = ir::encode_pronto(r->signal);
    // A capture too long for a Pronto code is not a remote's button.
    if (encoded.text.empty() || encoded.text.size() > ir::kMaxProntoChars)
        return {LEARN_FAIL_NOISE, {}};
    return {LEARN_PROGRESS_DONE, encoded.text, r->snapped, r->decode};
}

}  // namespace krvxd
