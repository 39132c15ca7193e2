// The palette step of the PNG and GIF outputs on photograph-like images of
// 0.2, 1 and 12 megapixels, 256 colours: Wu, our NeuQuant, the library's own
// NeuQuant (the reference our NeuQuant must match in quality at no more than
// twice Wu's time) and libimagequant with dithering. Each run reports the
// PSNR of the palette image against the original, in dB.

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/palette_quantize.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;
using imagelib::Quantizer;

// One photo per size (the benchmark's argument is its width, at 4:3), made
// once and kept for every run.
FIBITMAP* Photo(unsigned width) {
    static std::map<unsigned, test::Bitmap> photos;
    test::Bitmap& photo = photos[width];
    if (!photo) photo = test::MakePhotoLike(width, width * 3 / 4);
    return photo.get();
}

double Psnr(FIBITMAP* original, FIBITMAP* palettized) {
    const unsigned width = ::FreeImage_GetWidth(original), height = ::FreeImage_GetHeight(original);
    const RGBQUAD* palette = ::FreeImage_GetPalette(palettized);
    double sum = 0;
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = ::FreeImage_GetScanLine(original, y);
        const BYTE* indices = ::FreeImage_GetScanLine(palettized, y);
        for (unsigned x = 0; x < width; ++x, in += 3) {
            const RGBQUAD& c = palette[indices[x]];
            const double db = in[FI_RGBA_BLUE] - c.rgbBlue, dg = in[FI_RGBA_GREEN] - c.rgbGreen,
                         dr = in[FI_RGBA_RED] - c.rgbRed;
            sum += db * db + dg * dg + dr * dr;
        }
    }
    const double mse = sum / (3.0 * width * height);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

template <typename Quantize>
void Run(benchmark::State& state, Quantize quantize) {
    imagelib::Bitmap result;
    FIBITMAP* photo = Photo(static_cast<unsigned>(state.range(0)));  // made outside the timing
    for (auto _ : state) {
        result.reset(quantize(photo));
        benchmark::DoNotOptimize(result.get());
    }
    if (result) state.counters["psnr_db"] = Psnr(photo, result.get());
}

void BM_QuantizeWu(benchmark::State& state) {
    Run(state, [](FIBITMAP* b) { return imagelib::QuantizeToPalette(b, Quantizer::Wu, 256); });
}
void BM_QuantizeNeuQuant(benchmark::State& state) {
    Run(state,
        [](FIBITMAP* b) { return imagelib::QuantizeToPalette(b, Quantizer::NeuQuant, 256); });
}
void BM_QuantizeLibraryNeuQuant(benchmark::State& state) {
    Run(state,
        [](FIBITMAP* b) { return ::FreeImage_ColorQuantizeEx(b, FIQ_NNQUANT, 256, 0, nullptr); });
}
void BM_QuantizeImageQuant(benchmark::State& state) {
    Run(state,
        [](FIBITMAP* b) { return imagelib::QuantizeToPalette(b, Quantizer::ImageQuant, 256); });
}

// Widths at 4:3: 0.2, 1 and 12 megapixels.
void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(512)->Arg(1152)->Arg(4000);
}

BENCHMARK(BM_QuantizeWu)
    ->Apply(Sizes)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(3);
BENCHMARK(BM_QuantizeNeuQuant)
    ->Apply(Sizes)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(3);
BENCHMARK(BM_QuantizeLibraryNeuQuant)
    ->Apply(Sizes)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(1);
BENCHMARK(BM_QuantizeImageQuant)
    ->Apply(Sizes)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(1);

}  // namespace
