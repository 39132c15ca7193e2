// Compress to size on a 12-megapixel photograph: the whole search, its probe
// count against the binary search's bound (7 for the quality 1..100, 8 for a
// colour count 2..256), and a single pipeline run as the unit a probe costs.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

#include "engine/automatic_settings.h"
#include "engine/compress_to_size.h"
#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;
using engine::SizeSetting;

constexpr unsigned kWidth = 4000, kHeight = 3000;

struct Photo {
    test::FakeHost host;
    engine::Engine engine{host};

    Photo() {
        // The batch runner's way: nothing interactive, no display decoding.
        engine.Interactive = false;
        engine.options.AutomaticPreview = false;
        engine.SourceBitmap = test::MakePhotoLike(kWidth, kHeight);
        engine.SourceFormat = imagelib::kFormatPastedBitmap;
        engine.OpenLoadedImage("", false, false);
        engine::ChooseAutomaticSettings(engine, engine::OptimizationMode::FullAuto);
    }
};

engine::Engine& PhotoEngine() {
    static Photo photo;
    return photo.engine;
}

// Puts the engine into the output the benchmark measures.
void Configure(engine::Engine& e, SizeSetting setting) {
    e.settings.Format = setting == SizeSetting::JPEGQuality    ? engine::kFormatJpeg
                        : setting == SizeSetting::PNGMaxColors ? engine::kFormatPng
                                                               : engine::kFormatGif;
    e.settings.PNGPalettePreset = 1;  // "Optimal 256 Colors Palette"
    e.settings.GIFPalettePreset = 0;
    e.settings.PNGQuantizationMethod = 0;  // Wu
    e.settings.GIFQuantizationMethod = 0;
}

std::uint32_t SizeAt(engine::Engine& e, SizeSetting setting, int value) {
    engine::SettingField(e.settings, setting) = value;
    return e.OptimizeImage("");
}

// A target between the sizes at `value` and `value` + 1, so that the search
// has a definite answer in the middle of the range.
std::int64_t TargetBetween(engine::Engine& e, SizeSetting setting, int value) {
    return (static_cast<std::int64_t>(SizeAt(e, setting, value)) + SizeAt(e, setting, value + 1)) /
           2;
}

void Search(benchmark::State& state, SizeSetting setting, int answerNear, int bound) {
    engine::Engine& e = PhotoEngine();
    Configure(e, setting);
    // answerNear 0: every size fits, the search climbs to the top of the
    // range, which takes the most probes.
    const std::int64_t target = answerNear > 0 ? TargetBetween(e, setting, answerNear) : INT32_MAX;
    engine::SizeSearch search;
    double elapsedMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        search = engine::SearchSizeSetting(e, target, setting);
        elapsedMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        benchmark::DoNotOptimize(search.best);
    }
    state.counters["target_bytes"] = static_cast<double>(target);
    state.counters["found"] = search.best;
    state.counters["probes"] = search.probes;
    state.counters["probe_bound"] = bound;
    // Wall time, as the user waits for it.
    state.counters["ms_per_probe"] =
        elapsedMs / (static_cast<double>(state.iterations()) * search.probes);
}

void OneProbe(benchmark::State& state, SizeSetting setting, int value) {
    engine::Engine& e = PhotoEngine();
    Configure(e, setting);
    for (auto _ : state) benchmark::DoNotOptimize(SizeAt(e, setting, value));
}

void BM_SearchJpegQuality(benchmark::State& state) {
    Search(state, SizeSetting::JPEGQuality, 62, 7);
}
void BM_SearchJpegQualityClimbToTop(benchmark::State& state) {
    Search(state, SizeSetting::JPEGQuality, 0, 7);
}
void BM_OneProbeJpegQuality(benchmark::State& state) {
    OneProbe(state, SizeSetting::JPEGQuality, 62);
}
void BM_SearchPngColors(benchmark::State& state) {
    Search(state, SizeSetting::PNGMaxColors, 100, 8);
}
void BM_OneProbePngColors(benchmark::State& state) {
    OneProbe(state, SizeSetting::PNGMaxColors, 100);
}
void BM_SearchGifColors(benchmark::State& state) {
    Search(state, SizeSetting::GIFMaxColors, 100, 8);
}
void BM_SearchGifColorsClimbToTop(benchmark::State& state) {
    Search(state, SizeSetting::GIFMaxColors, 0, 8);
}
void BM_OneProbeGifColors(benchmark::State& state) {
    OneProbe(state, SizeSetting::GIFMaxColors, 100);
}

BENCHMARK(BM_SearchJpegQuality)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_SearchJpegQualityClimbToTop)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_OneProbeJpegQuality)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SearchPngColors)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_OneProbePngColors)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_SearchGifColors)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SearchGifColorsClimbToTop)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_OneProbeGifColors)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
