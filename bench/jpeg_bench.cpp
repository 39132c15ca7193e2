// Load, normalise and encode a 12-megapixel photograph-like image to JPEG
// (quality 75, 4:2:0, optimised Huffman tables), beside libjpeg-turbo's own
// cjpeg doing the same encode from a PPM file.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;

constexpr unsigned kWidth = 4000, kHeight = 3000;

const test::Bytes& PhotoPpm() {
    static const test::Bytes bytes = [] {
        auto photo = test::MakePhotoLike(kWidth, kHeight);
        return test::EncodeWithLibrary(FIF_PPMRAW, photo.get(), 0);
    }();
    return bytes;
}

void BM_EncodeJpeg(benchmark::State& state) {
    test::FakeHost host;
    engine::Engine engine(host);
    engine.Interactive = false;
    engine.SourceBitmap.reset(imagelib::FreeImage_LoadFromBytes(FIF_PPMRAW, PhotoPpm(), 0));
    engine.SourceFormat = imagelib::FromLibraryFormat(FIF_PPMRAW);
    for (auto _ : state) {
        state.PauseTiming();
        engine::Bitmap working(imagelib::FreeImage_Clone(engine.SourceBitmap.get()));
        state.ResumeTiming();
        imagelib::MemoryStream stream = imagelib::OpenMemoryStream();
        imagelib::FreeImage_SaveToMemory(imagelib::kFormatJpeg, working.get(), stream.get(),
                                         engine.JpegSaveFlags());
        benchmark::DoNotOptimize(::FreeImage_TellMemory(stream.get()));
    }
    state.counters["megapixels"] = kWidth * kHeight / 1e6;
}
BENCHMARK(BM_EncodeJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadNormaliseEncode(benchmark::State& state) {
    test::TempDir dir;
    const std::string path = dir.file("photo.ppm");
    test::WriteFileBytes(path, PhotoPpm());
    test::FakeHost host;
    engine::Engine engine(host);
    engine.Interactive = false;
    // The settings as they stand (quality 75, 4:2:0, optimised), as cjpeg is
    // told below: the automatic modes would pick other ones for this picture.
    engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
    for (auto _ : state) {
        engine.LoadImageFile(path);
        benchmark::DoNotOptimize(engine.OptimizeImage(""));
    }
}
BENCHMARK(BM_LoadNormaliseEncode)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: cjpeg reading the same PPM and writing an optimised
// baseline JPEG at quality 75 with 4:2:0 sampling.
void BM_CjpegOptimize(benchmark::State& state) {
    test::TempDir dir;
    test::WriteFileBytes(dir.path() / "photo.ppm", PhotoPpm());
    const std::string command = "cjpeg -quality 75 -optimize -sample 2x2 '" +
                                (dir.path() / "photo.ppm").string() + "' > '" +
                                (dir.path() / "out.jpg").string() + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("cjpeg is not installed");
            break;
        }
    }
}
BENCHMARK(BM_CjpegOptimize)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
