// The cost of one perceptual score at 1, 4 and 12 megapixels, beside the
// cost of producing the result it scores (one JPEG pipeline run at quality
// 75 into memory). A score is what the window computes after every new
// result, and what each probe of a quality-target search adds to its encode.
//
// The score and the distance are timed with the score workers warm, as in a
// window scoring one result after another: each is run once before its
// timed runs. The first score after a while without one also faults in the
// workers' memory, timed apart.
//
// The machine may be shared: beside the real time, the CPU time is that of
// the whole process (every worker), and "faults" counts the fresh pages
// touched per iteration, the cost a busy neighbour does not change.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <map>
#include <memory>

#include "engine/engine.h"
#include "engine/quality_score.h"
#include "engine/score_workers.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;

struct Photo {
    test::FakeHost host;
    engine::Engine engine{host};

    Photo(unsigned width, unsigned height) {
        engine.Interactive = false;
        engine.options.AutomaticPreview = false;
        engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
        engine.SourceBitmap = test::MakePhotoLike(width, height);
        engine.SourceFormat = imagelib::kFormatPastedBitmap;
        engine.OpenLoadedImage("", false, false);
        engine.settings.Format = engine::kFormatJpeg;
        engine.settings.JPEGQuality = 75;
    }
};

// 1, 4 and 12 megapixels in the 4:3 shape of a camera's picture.
engine::Engine& PhotoEngine(int megapixels) {
    static std::map<int, std::unique_ptr<Photo>> photos;
    std::unique_ptr<Photo>& photo = photos[megapixels];
    if (!photo) {
        const unsigned width = megapixels == 1 ? 1152 : megapixels == 4 ? 2304 : 4000;
        photo = std::make_unique<Photo>(width, width * 3 / 4);
    }
    return photo->engine;
}

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Fresh pages touched per iteration of `state`'s loop, from a count taken
// before it.
void CountFaults(benchmark::State& state, long before) {
    state.counters["faults"] = benchmark::Counter(static_cast<double>(MinorFaults() - before),
                                                  benchmark::Counter::kAvgIterations);
}

void BM_ProduceResult(benchmark::State& state) {
    engine::Engine& e = PhotoEngine(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(e.OptimizeImage(""));
}

// The whole score of a result as the window runs it on its worker: the
// source composited, the result decoded and composited, the distance.
void BM_ScoreResult(benchmark::State& state) {
    engine::Engine& e = PhotoEngine(static_cast<int>(state.range(0)));
    e.OptimizeImage("");
    const std::optional<engine::ResultScoreInput> input = engine::CaptureResultScoreInput(e);
    engine::ScoreOutcome outcome = engine::ScoreResult(*input);  // workers warm
    const long faults = MinorFaults();
    for (auto _ : state) {
        outcome = engine::ScoreResult(*input);
        benchmark::DoNotOptimize(outcome.score);
    }
    CountFaults(state, faults);
    if (outcome.score) state.counters["distance"] = outcome.score->maxDistance;
}

// A score with the workers' memory given back first, as the first score of
// a session or after an idle while.
void BM_FirstScore(benchmark::State& state) {
    engine::Engine& e = PhotoEngine(static_cast<int>(state.range(0)));
    e.OptimizeImage("");
    const std::optional<engine::ResultScoreInput> input = engine::CaptureResultScoreInput(e);
    long faults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        engine::ScoreWorkers::Shared().release();
        const long before = MinorFaults();
        state.ResumeTiming();
        benchmark::DoNotOptimize(engine::ScoreResult(*input).score);
        faults += MinorFaults() - before;
    }
    state.counters["faults"] =
        benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
}

// The distance alone, on pixels made ready beforehand.
void BM_DistanceOnly(benchmark::State& state) {
    engine::Engine& e = PhotoEngine(static_cast<int>(state.range(0)));
    e.OptimizeImage("");
    const std::optional<engine::ResultScoreInput> input = engine::CaptureResultScoreInput(e);
    const imagelib::RgbPixels source = engine::ViewedPixels(input->source.get(), input->background);
    const imagelib::RgbPixels result = imagelib::DecodedCompositedRgb(
        imagelib::kFormatJpeg, input->encoded, imagelib::Background{});
    engine::ScorePixels(source, result);  // workers warm
    const long faults = MinorFaults();
    for (auto _ : state) benchmark::DoNotOptimize(engine::ScorePixels(source, result).score);
    CountFaults(state, faults);
}

BENCHMARK(BM_ProduceResult)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_ScoreResult)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(3);
BENCHMARK(BM_FirstScore)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(3);
BENCHMARK(BM_DistanceOnly)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(3);

}  // namespace
