// Wu and NeuQuant quantization of a 12-megapixel photograph-like image to
// 256 colours, the palette step of the PNG and GIF outputs.

#include <benchmark/benchmark.h>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;

FIBITMAP* Photo() {
    static test::Bitmap photo = test::MakePhotoLike(4000, 3000);
    return photo.get();
}

void Quantize(benchmark::State& state, FREE_IMAGE_QUANTIZE method) {
    for (auto _ : state) {
        imagelib::Bitmap result(imagelib::FreeImage_ColorQuantizeEx(Photo(), method, 256));
        benchmark::DoNotOptimize(result.get());
    }
}

void BM_QuantizeWu(benchmark::State& state) { Quantize(state, FIQ_WUQUANT); }
void BM_QuantizeNeuQuant(benchmark::State& state) { Quantize(state, FIQ_NNQUANT); }

BENCHMARK(BM_QuantizeWu)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QuantizeNeuQuant)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
