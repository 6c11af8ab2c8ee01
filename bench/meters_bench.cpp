// SPDX-License-Identifier: MIT
// vintrel's learn meters: what one progress report costs on the user-interface thread,
// drawn into the real picture boxes (offscreen): clear both, light every segment of value
// 100 (34 + 11 rectangles), and the carrier caption. Sizes and twips per pixel are read at
// every draw, as the window does.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "controls.h"
#include "main_learn_view.h"
#include "vintrel/learn/meters.h"

namespace {

QApplication &application() {
    static int argc = 1;
    static char name[] = "bench_meters";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication app(argc, argv);
    return app;
}

void BM_DrawOneReport(benchmark::State &state) {
    application();
    const auto value = static_cast<std::int16_t>(state.range(0));
    vintrel::app::PictureBox progressBox;
    vintrel::app::PictureBox qualityBox;
    progressBox.resize(329, 17);
    qualityBox.resize(25, 105);
    vintrel::app::PictureBoxCanvas progress(&progressBox);
    vintrel::app::PictureBoxCanvas quality(&qualityBox);
    for (auto _ : state) {
        vintrel::learn::drawLearnProgressMeter(progress, value);
        vintrel::learn::drawSigQualityMeter(quality, value);
        benchmark::DoNotOptimize(vintrel::learn::carrierText(38000));
    }
}
BENCHMARK(BM_DrawOneReport)->Arg(0)->Arg(50)->Arg(100);

}  // namespace
