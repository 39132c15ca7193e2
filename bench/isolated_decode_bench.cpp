// The cost of decoding in a child process beside decoding in this one: a
// 12-megapixel photograph as JPEG and as PNG, and a small PNG where the fixed
// cost of the fork and the hand-over dominates.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <map>
#include <tuple>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace {

using namespace pimo;

const test::Bytes& Photo(FREE_IMAGE_FORMAT format, unsigned width, unsigned height) {
    static std::map<std::tuple<int, unsigned, unsigned>, test::Bytes> cache;
    auto& bytes = cache[{format, width, height}];
    if (bytes.empty()) {
        auto photo = test::MakePhotoLike(width, height);
        bytes = test::EncodeWithLibrary(format, photo.get(), format == FIF_JPEG ? 90 : 0);
    }
    return bytes;
}

long Faults(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_minflt;
}

// CPU time of this process and of its ended children: on a shared machine
// the wall time mostly measures the neighbours.
double CpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

template <bool kIsolated>
void Decode(benchmark::State& state, FREE_IMAGE_FORMAT format, unsigned width, unsigned height) {
    const test::Bytes& bytes = Photo(format, width, height);
    const int system = imagelib::FromLibraryFormat(format);
    const int flags = format == FIF_JPEG ? JPEG_ACCURATE | imagelib::kJpegLoadDetectQuality : 0;
    const double cpuBefore = CpuSeconds();
    const long selfFaults = Faults(RUSAGE_SELF), childFaults = Faults(RUSAGE_CHILDREN);
    for (auto _ : state) {
        imagelib::Bitmap bitmap(kIsolated
                                    ? imagelib::FreeImage_LoadIsolated(system, bytes, flags)
                                    : imagelib::FreeImage_LoadFromBytes(system, bytes, flags));
        if (!bitmap) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(bitmap.get());
    }
    state.counters["cpu_ms_with_children"] = benchmark::Counter(
        (CpuSeconds() - cpuBefore) * 1000 / static_cast<double>(state.iterations()));
    state.counters["faults_here"] = benchmark::Counter(double(Faults(RUSAGE_SELF) - selfFaults) /
                                                       static_cast<double>(state.iterations()));
    state.counters["faults_children"] = benchmark::Counter(
        double(Faults(RUSAGE_CHILDREN) - childFaults) / static_cast<double>(state.iterations()));
}

void BM_Jpeg12MP_InProcess(benchmark::State& s) {
    Decode<false>(s, FIF_JPEG, 4000, 3000);
}
void BM_Jpeg12MP_Isolated(benchmark::State& s) {
    Decode<true>(s, FIF_JPEG, 4000, 3000);
}
void BM_Png12MP_InProcess(benchmark::State& s) {
    Decode<false>(s, FIF_PNG, 4000, 3000);
}
void BM_Png12MP_Isolated(benchmark::State& s) {
    Decode<true>(s, FIF_PNG, 4000, 3000);
}
void BM_SmallPng_InProcess(benchmark::State& s) {
    Decode<false>(s, FIF_PNG, 160, 120);
}
void BM_SmallPng_Isolated(benchmark::State& s) {
    Decode<true>(s, FIF_PNG, 160, 120);
}

BENCHMARK(BM_Jpeg12MP_InProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jpeg12MP_Isolated)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png12MP_InProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Png12MP_Isolated)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SmallPng_InProcess)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SmallPng_Isolated)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
