// SPDX-License-Identifier: MIT
// Repeatability of learning: each code of learn_repeat.h learned 20 times from the virtual
// remote of a private krvxd (simulated device, instant air) at press qualities 100, 80 and
// 60. Counters per code and quality: learns that gave a code, the size of the largest group
// of byte-identical codes, codes equal to the pressed text, codes that decode as the
// pressed protocol code, and (raw codes) the mean timing error in percent against the
// pressed code. Wall time per learn is the benchmark's own figure.
//
// KRVX_REPEAT_LEARNS=N changes the 20 learns per row.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "learn_repeat.h"

namespace {

int learns_per_row() {
    const char *v = std::getenv("KRVX_REPEAT_LEARNS");
    const int n = v ? std::atoi(v) : 20;
    return n > 0 ? n : 20;
}

void BM_LearnRepeat(benchmark::State &state, learn_repeat::RepeatCode code, uint8_t quality) {
    if (code.pronto.empty()) {
        state.SkipWithError(("not known here: " + code.unavailable).c_str());
        return;
    }
    learn_repeat::LearnRig rig;
    if (!rig.ready()) {
        state.SkipWithError("no private krvxd");
        return;
    }
    const int n = learns_per_row();
    learn_repeat::RepeatFigures f;
    for (auto _ : state)
        f = learn_repeat::run_repeats(rig, code, quality, n);
    state.counters["learns"] = f.learns;
    state.counters["done"] = f.done;
    state.counters["identical"] = f.identical;
    state.counters["as_pressed"] = f.as_pressed;
    if (!code.protocol.empty())
        state.counters["decodes_same"] = f.decodes_same;
    state.counters["shaped"] = f.shaped;
    state.counters["error_pct"] = f.mean_error * 100;
    state.counters["quality"] = f.mean_quality;
}

const bool registered = [] {
    for (const auto &code : learn_repeat::repeat_codes())
        for (uint8_t q : {100, 80, 60})
            benchmark::RegisterBenchmark(
                ("BM_LearnRepeat/" + code.name + "/Q" + std::to_string(q)).c_str(), BM_LearnRepeat,
                code, q)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
