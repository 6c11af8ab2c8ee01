// SPDX-License-Identifier: MIT
// Pronto codec: validating and parsing the longest code the code box accepts (validation
// runs on every keystroke), and encoding a learned NEC code.
#include <benchmark/benchmark.h>

#include <string>

#include "ir/pronto.h"

namespace {

// A valid code of exactly kMaxProntoChars characters: 202 pairs and line breaks.
std::string longest_code() {
    std::string text = "0000 006D 00CA 0000";
    for (int i = 0; i < 2 * 202; ++i) {
        text += i % 2 == 0 ? " 0015" : " 0040";
    }
    text += std::string(ir::kMaxProntoChars - text.size(), '\n');
    return text;
}

void BM_ValidatePronto2048(benchmark::State &state) {
    const std::string text = longest_code();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ir::is_valid_pronto(text));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_ValidatePronto2048);

void BM_ParsePronto2048(benchmark::State &state) {
    const std::string text = longest_code();
    for (auto _ : state) {
        ir::ParseResult r = ir::parse_pronto(text);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_ParsePronto2048);

void BM_RefuseJunk1MB(benchmark::State &state) {
    const std::string junk(1 << 20, 'G');
    for (auto _ : state) {
        ir::ParseResult r = ir::parse_pronto(junk);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_RefuseJunk1MB);

void BM_EncodeNec(benchmark::State &state) {
    const ir::Signal nec = ir::parse_pronto("900A 006C 0000 0001 0CF3 38C7").signal;
    for (auto _ : state) {
        ir::EncodeResult r = ir::encode_pronto(nec);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_EncodeNec);

void BM_EncodePronto202Pairs(benchmark::State &state) {
    const ir::Signal s = ir::parse_pronto(longest_code()).signal;
    for (auto _ : state) {
        ir::EncodeResult r = ir::encode_pronto(s);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_EncodePronto202Pairs);

}  // namespace
