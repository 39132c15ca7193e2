// Image analysis of 12-megapixel images, against a plain read of the same
// pixel bytes (a sum over them) as the floor.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "engine/image_info.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;

constexpr unsigned kWidth = 4000, kHeight = 3000;

FIBITMAP* Photo() {
    static test::Bitmap photo = test::MakePhotoLike(kWidth, kHeight);
    return photo.get();
}

// 200 colours, with alpha: a graphic with transparent and half-transparent areas.
FIBITMAP* Graphic() {
    static test::Bitmap graphic = test::MakeRgba(kWidth, kHeight, [](unsigned x, unsigned y) {
        const unsigned i = (x / 40 + y / 30) % 200;
        const BYTE alpha = i < 20 ? 0 : i < 40 ? 128 : 255;
        return RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 3),
                       alpha};
    });
    return graphic.get();
}

void ReportPerPixel(benchmark::State& state) {
    state.counters["ns_per_pixel"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Analyse(benchmark::State& state, FIBITMAP* bitmap) {
    for (auto _ : state) benchmark::DoNotOptimize(engine::AnalyseImage(bitmap));
    ReportPerPixel(state);
}

void SumBytes(benchmark::State& state, FIBITMAP* bitmap) {
    const unsigned pitch = ::FreeImage_GetPitch(bitmap);
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (unsigned y = 0; y < kHeight; ++y) {
            const BYTE* row = ::FreeImage_GetScanLine(bitmap, y);
            for (unsigned i = 0; i < pitch; ++i) sum += row[i];
        }
        benchmark::DoNotOptimize(sum);
    }
    ReportPerPixel(state);
}

void BM_AnalysePhoto(benchmark::State& state) {
    Analyse(state, Photo());
}
void BM_FloorPhoto(benchmark::State& state) {
    SumBytes(state, Photo());
}
void BM_AnalyseGraphicWithAlpha(benchmark::State& state) {
    Analyse(state, Graphic());
}
void BM_FloorGraphicWithAlpha(benchmark::State& state) {
    SumBytes(state, Graphic());
}

BENCHMARK(BM_AnalysePhoto)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorPhoto)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyseGraphicWithAlpha)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorGraphicWithAlpha)->Unit(benchmark::kMillisecond);

}  // namespace
