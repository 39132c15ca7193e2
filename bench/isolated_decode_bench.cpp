// The cost of decoding in a child process beside decoding in this one: a
// 12-megapixel photograph as JPEG and as PNG, and a small PNG where the fixed
// cost of the hand-over dominates.
//
// Each iteration decodes the file both ways, in turns (which goes first
// alternates), so that a busy moment of a shared machine weighs on both
// alike; the counters give each way's median wall time and their ratio, and
// the CPU time of each way: of this process and of every process below it
// (the decoder launcher, the decoder processes it forked, living or ended).

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

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

// User and system clock ticks of a living process and of the children it
// has reaped, and of every process below it still living.
long TreeTicks(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> field(std::istream_iterator<std::string>(fields), {});
    // After the name: state is field 3 of the line; utime 14 .. cstime 17.
    if (field.size() < 15) return 0;
    long ticks = 0;
    for (int i = 11; i <= 14; ++i) ticks += std::stol(field[static_cast<std::size_t>(i)]);
    if (DIR* tasks = ::opendir(("/proc/" + pid + "/task").c_str())) {
        while (const dirent* task = ::readdir(tasks)) {
            if (task->d_name[0] == '.') continue;
            std::ifstream children("/proc/" + pid + "/task/" + task->d_name + "/children");
            std::string child;
            while (children >> child) ticks += TreeTicks(child);
        }
        ::closedir(tasks);
    }
    return ticks;
}

// CPU seconds of this process and of every process below it.
double TreeCpuSeconds() {
    return static_cast<double>(TreeTicks(std::to_string(::getpid()))) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void DecodeBothWays(benchmark::State& state, FREE_IMAGE_FORMAT format, unsigned width,
                    unsigned height) {
    const test::Bytes& bytes = Photo(format, width, height);
    const int system = imagelib::FromLibraryFormat(format);
    const int flags = format == FIF_JPEG ? JPEG_ACCURATE | imagelib::kJpegLoadDetectQuality : 0;
    // Counted in CPU seconds over all iterations: one reading of the clock
    // ticks is too coarse for a decode of a few milliseconds.
    std::vector<double> wall[2];
    double cpu[2] = {0, 0};
    unsigned turn = 0;
    for (auto _ : state) {
        for (unsigned i = 0; i < 2; ++i) {
            const bool isolated = ((turn + i) % 2) == 1;
            const double cpuBefore = TreeCpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            imagelib::Bitmap bitmap(isolated
                                        ? imagelib::FreeImage_LoadIsolated(system, bytes, flags)
                                        : imagelib::FreeImage_LoadFromBytes(system, bytes, flags));
            benchmark::DoNotOptimize(bitmap.get());
            if (!bitmap) state.SkipWithError("decode failed");
            bitmap.reset();
            wall[isolated].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            cpu[isolated] += TreeCpuSeconds() - cpuBefore;
        }
        ++turn;
    }
    const double iterations = static_cast<double>(state.iterations());
    const double here = Median(wall[0]), there = Median(wall[1]);
    state.counters["here_ms"] = here;
    state.counters["isolated_ms"] = there;
    state.counters["wall_ratio"] = here > 0 ? there / here : 0;
    state.counters["here_cpu_ms"] = cpu[0] * 1000 / iterations;
    state.counters["isolated_cpu_ms"] = cpu[1] * 1000 / iterations;
    state.counters["cpu_ratio"] = cpu[0] > 0 ? cpu[1] / cpu[0] : 0;
}

void BM_Jpeg12MP(benchmark::State& s) {
    DecodeBothWays(s, FIF_JPEG, 4000, 3000);
}
void BM_Png12MP(benchmark::State& s) {
    DecodeBothWays(s, FIF_PNG, 4000, 3000);
}
void BM_SmallPng(benchmark::State& s) {
    DecodeBothWays(s, FIF_PNG, 160, 120);
}

BENCHMARK(BM_Jpeg12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_Png12MP)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_SmallPng)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2);

}  // namespace
