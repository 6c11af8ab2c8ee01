// SPDX-License-Identifier: MIT
// IR protocols: decoding one frame against every protocol (a receiver's frame, decoded
// live), and decoding a file of mixed frames in bulk.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "ir/protocols.h"

namespace {

using namespace ir::protocols;

// The first frame the code sends, as a receiver measures it (ending with its lead-out).
std::vector<uint32_t> one_frame(const std::string &code) {
    const EncodeResult e = encode(code);
    std::vector<uint32_t> d;
    for (const ir::Burst &b : e.signal.once.empty() ? e.signal.repeat : e.signal.once) {
        d.push_back(b.on_us);
        d.push_back(b.off_us);
    }
    return d;
}

const char *const kFrames[] = {"NEC1 D=4 F=8", "Sony12 D=1 F=21", "RC5 D=5 F=12", "RC6 D=4 F=12",
                               "Panasonic D=128 S=0 F=61", "XMP D=62 S=16 F=8", "Denon D=8 F=107",
                               "iMON F=12345",
                               // Runs of 600 µs that RC6's 444 µs bi-phase can read as one
                               // or two units: its rows search to their step budget.
                               "Sony15 D=137 F=0"};

void BM_DecodeFrame(benchmark::State &state) {
    const std::string code = kFrames[state.range(0)];
    const std::vector<uint32_t> frame = one_frame(code);
    for (auto _ : state) {
        std::vector<Decode> d = decode(frame, 38000);
        benchmark::DoNotOptimize(d);
    }
    state.SetLabel(code);
}
BENCHMARK(BM_DecodeFrame)->DenseRange(0, std::size(kFrames) - 1);

// A file of frames of every protocol (random parameters), one decode per frame.
void BM_DecodeFile(benchmark::State &state) {
    std::mt19937 rng(1);
    std::vector<std::vector<uint32_t>> frames;
    for (int round = 0; round < 8; ++round) {
        for (const ProtocolInfo &p : all()) {
            std::vector<Param> params;
            for (const ParamInfo &q : p.params) {
                // A variant's fixed parameter (Zenith's D) takes its own value: any other is
                // refused, and without it the first variant of the name is sent.
                params.push_back(
                    {q.name, q.fixed ? std::stoull(std::string(q.fallback))
                                     : std::uniform_int_distribution<uint64_t>(0, q.max)(rng)});
            }
            const EncodeResult e = encode(p, params);
            if (!e.ok()) {
                state.SkipWithError(e.error.c_str());
                return;
            }
            std::vector<uint32_t> d;
            for (const ir::Burst &b : e.signal.once.empty() ? e.signal.repeat : e.signal.once) {
                d.push_back(b.on_us);
                d.push_back(b.off_us);
            }
            frames.push_back(std::move(d));
        }
    }
    for (auto _ : state) {
        for (const std::vector<uint32_t> &f : frames) {
            std::vector<Decode> d = decode(f);
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(frames.size()));
}
BENCHMARK(BM_DecodeFile)->Unit(benchmark::kMillisecond);

}  // namespace
