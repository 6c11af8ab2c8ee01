// SPDX-License-Identifier: MIT
// Every format that reads what it writes: remotes of every protocol (random parameters, as
// the protocol tests draw them) written and read back keep their keys, their signals within
// the format's resolution, and their decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ir/files.h"
#include "protocol_test_util.h"

namespace {

using namespace ir::files;
using ir::Burst;
using ir::Signal;

// One remote per protocol, five keys each.
std::vector<Remote> protocol_remotes() {
    std::vector<Remote> out;
    for (std::size_t i = 0; i < ir::protocols::all().size(); ++i) {
        const ir::protocols::ProtocolInfo &p = ir::protocols::all()[i];
        std::mt19937 rng(std::hash<std::string_view>{}(p.name) + i);
        Remote r;
        r.name = prototest::test_name(i);
        for (int k = 0; k < 5; ++k) {
            const auto params = prototest::random_params(p, rng);
            const auto e = ir::protocols::encode(p, params);
            EXPECT_TRUE(e.ok()) << e.error;
            r.keys.push_back({"KEY_" + std::to_string(k), e.signal, {}, {}, 0});
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<uint32_t> durations(const std::vector<Burst> &part) {
    std::vector<uint32_t> d;
    for (const Burst &b : part) {
        d.push_back(b.on_us);
        d.push_back(b.off_us);
    }
    return d;
}

// The parts a format keeps: once and repeat apart (a code of nothing but a repeat part
// equals one of nothing but a once part), or one sequence; without the final gap when the
// format drops it.
std::vector<std::vector<uint32_t>> kept(const Signal &s, const FormatInfo &f) {
    std::vector<std::vector<uint32_t>> parts;
    if (f.keeps_repeat && !s.once.empty() && !s.repeat.empty()) {
        parts = {durations(s.once), durations(s.repeat)};
    } else {
        std::vector<uint32_t> all = durations(s.once);
        const std::vector<uint32_t> r = durations(s.repeat);
        all.insert(all.end(), r.begin(), r.end());
        parts = {all};
    }
    if (!f.keeps_final_gap) {
        parts.back().pop_back();
    }
    for (auto &part : parts) {
        for (uint32_t &d : part) {
            d = f.longest_us > 0 ? std::min(d, f.longest_us) : d;
        }
    }
    return parts;
}

std::string text(const std::vector<std::vector<uint32_t>> &parts) {
    std::string out;
    for (const auto &p : parts) {
        out += "[";
        for (uint32_t d : p) {
            out += " " + std::to_string(d);
        }
        out += " ]";
    }
    return out;
}

class RoundTrip : public ::testing::TestWithParam<Format> {};

TEST_P(RoundTrip, KeepsKeysSignalsAndDecodes) {
    const FormatInfo &f = info(GetParam());
    int same_shape = 0;
    for (const Remote &remote : protocol_remotes()) {
        CodeFile file;
        file.remotes = {remote};
        const WriteResult w = write(file, f.format);
        ASSERT_TRUE(w.ok()) << remote.name << ": " << w.error;
        const std::string name =
            remote.name + std::string(f.extensions.substr(0, f.extensions.find(' ')));
        ReadResult r = read(w.text, f.format, name);
        ASSERT_TRUE(r.ok()) << r.error << "\n" << w.text;
        ASSERT_EQ(r.file.remotes.size(), 1u) << w.text;
        const Remote &back = r.file.remotes.front();
        EXPECT_EQ(back.name, remote.name);
        ASSERT_EQ(back.keys.size(), remote.keys.size()) << w.text;
        decode_keys(r.file);
        CodeFile original = file;
        decode_keys(original);
        for (std::size_t i = 0; i < remote.keys.size(); ++i) {
            const Key &want = original.remotes.front().keys[i];
            std::string why;
            const Key *found = find_key(r.file, remote.name, want.name, why);
            ASSERT_NE(found, nullptr) << f.name << ": " << why;
            const Key &got = *found;
            const double period_us =
                want.signal.carrier_hz > 0 ? 1e6 / want.signal.carrier_hz : 26.3;
            // Periods round to half a period, and Pronto's frequency word to half its unit.
            const double relative = f.counts_periods ? 0.5 * 0.241246 / period_us : 0;
            const double tolerance = f.resolution_us + (f.counts_periods ? period_us / 2 : 0) + 1;
            auto within = [&](const Signal &expected) {
                const auto a = kept(expected, f), b = kept(got.signal, f);
                bool close = a.size() == b.size();
                for (std::size_t p = 0; close && p < a.size(); ++p) {
                    close = a[p].size() == b[p].size();
                    for (std::size_t d = 0; close && d < a[p].size(); ++d) {
                        close = std::fabs(double(a[p][d]) - double(b[p][d])) <=
                                tolerance + relative * a[p][d];
                    }
                }
                return close;
            };
            bool close = within(want.signal);
            // A keymap may hold a kernel protocol's key as its scancode: read, it sends what
            // the kernel's encoder sends for it.
            if (!close && f.format == Format::Keymap && want.decode && want.decode->kernel) {
                const auto *kp = ir::protocols::find_kernel(want.decode->kernel->protocol);
                ASSERT_NE(kp, nullptr) << remote.name;
                close = within(ir::protocols::encode(*kp, want.decode->kernel->scancode).signal);
            }
            const auto a = kept(want.signal, f), b = kept(got.signal, f);
            EXPECT_TRUE(close) << f.name << " " << remote.name << " " << want.name << "\n  wrote "
                               << text(a) << "\n  read  " << text(b) << "\n"
                               << w.text;
            if (f.keeps_carrier) {
                EXPECT_NEAR(got.signal.carrier_hz, want.signal.carrier_hz,
                            want.signal.carrier_hz * 0.01)
                    << f.name << " " << remote.name;
            }
            // A code read back in the shape it was written (not flattened into one sequence,
            // not repeated whole) means what it meant.
            ASSERT_TRUE(want.decode.has_value()) << remote.name;
            if (got.signal.once.size() == want.signal.once.size() &&
                got.signal.repeat.size() == want.signal.repeat.size()) {
                ++same_shape;
                EXPECT_TRUE(got.decode.has_value() && got.decode->text() == want.decode->text())
                    << f.name << " " << remote.name << " " << want.name << ": "
                    << (got.decode ? got.decode->text() : "no decode");
            }
        }
    }
    EXPECT_GT(same_shape, 0) << "no key of " << f.name << " kept its shape";
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(Format::Lircd, Format::Flipper, Format::Broadlink,
                                           Format::GlobalCache, Format::IRremote, Format::Raw,
                                           Format::Mode2, Format::Keymap, Format::Pronto),
                         [](const auto &p) { return std::string(ir::files::info(p.param).name); });

}  // namespace
