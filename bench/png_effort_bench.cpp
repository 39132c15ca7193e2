// PNG compression types 0 to 4 against external optimizers, on true-colour
// images made in code: a photograph-like picture, a screenshot-like graphic,
// an icon with alpha, and two 9-megapixel graphics (a large screenshot and a
// chart) for the large-image paths.
//
//   PngType/<image>/<type>     bytes and time of the engine's encoder per
//                              PNGCompressionType (plain level 1, plain level 9,
//                              extended effort 1, 4, 9)
//   Tool/<image>/<tool>        optipng -o2, optipng -o5 and zopflipng run on
//                              the plain level-9 PNG (skipped when not installed)
//   Targets/<image>            one run of each, reported as ratios:
//                              t2_vs_t1_bytes, t2_vs_t1_time  (targets: < 1, <= 1.5)
//                              t3_vs_o2_bytes, t3_vs_o2_time  (targets: <= 1.02, <= 1)
//                              t4_vs_o5_bytes                 (target: <= 1)
//   Peers/<image>              types 2 and 4 beside optipng -o2 and zopflipng,
//                              one run each, bytes and milliseconds of all four
//                              and the ratios t2_vs_o2_bytes, t2_vs_o2_time
//                              (targets: <= 1.01, <= 1) and t4_vs_zopfli_bytes,
//                              t4_vs_zopfli_time (targets: <= 1, <= 1)
//
// The small images run by default; the 9-megapixel ones (graphic9, chart9)
// are registered under Peers only, as zopflipng takes minutes on them. With
// PNG_EFFORT_BENCH_KEEP set to a folder, the plain level-9 inputs and the
// tools' outputs are written there and kept.
//
// Times of the tools include starting the process and file input and output.

#include <FreeImage.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"
#include "tests/support/test_images.h"

namespace {

using pimo::test::Bitmap;
using pimo::test::Bytes;

// ---- images ------------------------------------------------------------------

// Smooth light, a soft texture and sensor noise.
Bitmap PhotoLike(unsigned w, unsigned h) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 1.6);
    return pimo::test::MakeRgb(w, h, [&](unsigned x, unsigned y) {
        const double fx = double(x) / w, fy = double(y) / h;
        const double sky = 1 - fy;
        const double hill = 0.5 + 0.5 * std::sin(fx * 9 + std::sin(fy * 7) * 2);
        const double texture =
            0.5 + 0.5 * std::sin(x * 0.31 + std::sin(y * 0.17) * 3) * std::cos(y * 0.23);
        const auto channel = [&](double v) {
            return BYTE(std::clamp(int(std::lround(v + noise(rng))), 0, 255));
        };
        return RGBQUAD{channel(200 * sky + 40 * texture * fx),
                       channel(90 + 100 * hill * fy + 30 * texture),
                       channel(60 + 150 * sky * hill + 20 * texture), 0};
    });
}

// A flat desktop, two windows with gradient title bars and lines of "text".
Bitmap ScreenshotLike(unsigned w, unsigned h) {
    struct Window {
        unsigned x0, y0, x1, y1;
    };
    const Window windows[] = {{40, 30, w * 2 / 3, h * 2 / 3}, {w / 3, h / 3, w - 30, h - 40}};
    return pimo::test::MakeRgb(w, h, [&](unsigned x, unsigned y) {
        RGBQUAD c{0x80, 0x60, 0x30, 0};
        for (const Window& win : windows) {
            if (x < win.x0 || x >= win.x1 || y < win.y0 || y >= win.y1) continue;
            if (x == win.x0 || x == win.x1 - 1 || y == win.y0 || y == win.y1 - 1) {
                c = RGBQUAD{0x40, 0x40, 0x40, 0};
            } else if (y < win.y0 + 24) {
                const BYTE t = BYTE(255 * (x - win.x0) / (win.x1 - win.x0));
                c = RGBQUAD{BYTE(200 - t / 4), BYTE(120 + t / 3), BYTE(40 + t / 2), 0};
            } else {
                c = RGBQUAD{0xF4, 0xF4, 0xF4, 0};
                const unsigned line = (y - win.y0 - 30) % 18, column = x - win.x0 - 10;
                if (y > win.y0 + 30 && line < 11 && column < (win.x1 - win.x0) - 40) {
                    const unsigned word = (column / 7 + (y - win.y0) / 18 * 13) * 2654435761u;
                    if (((word >> ((column % 7) + line)) & 1) && (column / 7) % 9 != 8) {
                        c = RGBQUAD{0x20, 0x20, 0x20, 0};
                    } else if (((word >> (line + 3)) & 7) == 0) {
                        c = RGBQUAD{0x90, 0x90, 0x90, 0};  // antialiasing
                    }
                }
            }
        }
        return c;
    });
}

// A shaded disc with an antialiased rim and a soft shadow, on transparency.
Bitmap IconWithAlpha(unsigned size) {
    return pimo::test::MakeRgba(size, size, [&](unsigned x, unsigned y) {
        const double cx = size * 0.45, cy = size * 0.45, r = size * 0.38;
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
        const double ds = std::hypot(x + 0.5 - cx - size * 0.06, y + 0.5 - cy - size * 0.06);
        const double cover = std::clamp(r - d + 0.5, 0.0, 1.0);
        const double shadow = std::clamp((r + size * 0.04 - ds) / (size * 0.08), 0.0, 1.0) * 0.5;
        const double light =
            std::clamp(1.0 - std::hypot(x - cx * 0.7, y - cy * 0.7) / (r * 1.6), 0.0, 1.0);
        const double a = cover + (1 - cover) * shadow;
        if (a <= 0) return RGBQUAD{0, 0, 0, 0};
        const double k = cover / a;  // share of the disc in the blended colour
        const auto channel = [&](double disc) { return BYTE(std::lround(k * disc)); };
        return RGBQUAD{channel(90 + 160 * light), channel(60 + 120 * light),
                       channel(200 + 55 * light), BYTE(std::lround(255 * a))};
    });
}

// A bar chart on a white page: axes, a grid, bars with a vertical gradient,
// an antialiased line graph, a legend and rows of "labels".
Bitmap ChartLike(unsigned w, unsigned h) {
    const unsigned left = w / 12, bottom = h - h / 10, top = h / 12, right = w - w / 20;
    const unsigned bars = 24;
    const unsigned barWidth = (right - left) / bars;
    const auto barHeight = [&](unsigned i) {
        return unsigned((bottom - top) * (0.2 + 0.7 * std::fabs(std::sin(i * 1.7 + 0.4))));
    };
    const RGBQUAD palette[] = {{0xC0, 0x70, 0x20, 0}, {0x30, 0x90, 0xE0, 0}, {0x40, 0xB0, 0x60, 0}};
    return pimo::test::MakeRgb(w, h, [&](unsigned x, unsigned y) {
        RGBQUAD c{0xFF, 0xFF, 0xFF, 0};
        if (x >= left && x < right && y >= top && y < bottom) {
            if ((bottom - y) % (h / 16) == 0 || (x - left) % barWidth == 0)
                c = RGBQUAD{0xE0, 0xE0, 0xE0, 0};  // grid
            const unsigned i = (x - left) / barWidth, offset = (x - left) % barWidth;
            if (i < bars && offset > barWidth / 6 && offset < barWidth * 5 / 6 &&
                bottom - y < barHeight(i)) {
                const RGBQUAD base = palette[i % 3];
                const unsigned shade = (bottom - y) * 60 / (bottom - top);
                c = RGBQUAD{BYTE(base.rgbBlue + shade / 2), BYTE(base.rgbGreen + shade / 3),
                            BYTE(std::min(255u, base.rgbRed + shade)), 0};
            }
            // A curve over the bars, two pixels wide and antialiased.
            const double curve = top + (bottom - top) * (0.5 + 0.35 * std::sin(x * 6.0 / w));
            const double d = std::fabs(y + 0.5 - curve);
            if (d < 2.5) {
                const double k = std::clamp(2.5 - d, 0.0, 1.0);
                const auto mix = [&](BYTE from, int to) {
                    return BYTE(std::lround(from + (to - from) * k));
                };
                c = RGBQUAD{mix(c.rgbBlue, 0x30), mix(c.rgbGreen, 0x20), mix(c.rgbRed, 0xB0), 0};
            }
        }
        if ((x == left && y >= top && y <= bottom) || (y == bottom && x >= left && x <= right))
            c = RGBQUAD{0x20, 0x20, 0x20, 0};  // axes
        // Labels under the axis and down the left side: glyph-like ink.
        const bool underAxis = y > bottom + 10 && y < bottom + 24 && x > left && x < right;
        const bool besideAxis = x > 10 && x < left - 10 && (y - top) % (h / 16) < 14;
        if (underAxis || besideAxis) {
            const unsigned glyph = (x / 8 + y / 16 * 7) * 2654435761u;
            if (((glyph >> (x % 8 + y % 14)) & 1) && (x / 8) % 6 != 5)
                c = RGBQUAD{0x30, 0x30, 0x30, 0};
        }
        return c;
    });
}

struct Sample {
    std::string name;
    Bitmap bitmap;
    std::filesystem::path plainLevel9;  // the input the tools get
};

// PNG_EFFORT_BENCH_KEEP, or a temporary folder removed at the end.
const std::filesystem::path& Folder() {
    static pimo::test::TempDir temporary;
    static const std::filesystem::path folder = [] {
        const char* keep = std::getenv("PNG_EFFORT_BENCH_KEEP");
        if (!keep || !*keep) return temporary.path();
        std::filesystem::create_directories(keep);
        return std::filesystem::path(keep);
    }();
    return folder;
}

constexpr int kTypeFlags[] = {0x0001, 0x0009, 0x0401, 0x0404, 0x0409};

Bytes Encode(FIBITMAP* bitmap, int flags) {
    pimo::imagelib::MemoryStream stream = pimo::imagelib::OpenMemoryStream();
    if (!pimo::imagelib::FreeImage_SaveToMemory(pimo::imagelib::kFormatPng, bitmap, stream.get(),
                                                flags))
        return {};
    return pimo::imagelib::StreamBytes(stream.get());
}

Sample& SampleNamed(const std::string& name) {
    static std::map<std::string, Sample> samples;
    auto it = samples.find(name);
    if (it != samples.end()) return it->second;
    Bitmap bitmap = name == "photo"        ? PhotoLike(640, 480)
                    : name == "screenshot" ? ScreenshotLike(800, 600)
                    : name == "graphic9"   ? ScreenshotLike(3464, 2598)
                    : name == "chart9"     ? ChartLike(3464, 2598)
                                           : IconWithAlpha(256);
    const std::filesystem::path path = Folder() / (name + "-plain9.png");
    pimo::test::WriteFileBytes(path, Encode(bitmap.get(), kTypeFlags[1]));
    return samples.emplace(name, Sample{name, std::move(bitmap), path}).first->second;
}

// ---- measuring ---------------------------------------------------------------

struct Measurement {
    std::size_t bytes = 0;
    double ms = 0;
};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

Measurement MeasureType(Sample& sample, int type) {
    const auto start = std::chrono::steady_clock::now();
    const Bytes png = Encode(sample.bitmap.get(), kTypeFlags[type]);
    return Measurement{png.size(), MillisecondsSince(start)};
}

struct Tool {
    std::string name;
    std::string program;
    std::string command;  // {in} and {out} are replaced by paths
};

const std::vector<Tool>& Tools() {
    static const std::vector<Tool> tools = {
        {"optipng-o2", "optipng", "optipng -quiet -o2 -out {out} {in}"},
        {"optipng-o5", "optipng", "optipng -quiet -o5 -out {out} {in}"},
        {"zopflipng", "zopflipng", "zopflipng -y {in} {out} > /dev/null"},
    };
    return tools;
}

bool Installed(const std::string& program) {
    return std::system(("command -v " + program + " > /dev/null 2>&1").c_str()) == 0;
}

std::string Replaced(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

// Runs a tool on the plain level-9 PNG; bytes 0 when it failed.
Measurement MeasureTool(Sample& sample, const Tool& tool) {
    const std::filesystem::path out = Folder() / (sample.name + "-" + tool.name + ".png");
    std::filesystem::remove(out);
    const std::string command = Replaced(
        Replaced(tool.command, "{in}", sample.plainLevel9.string()), "{out}", out.string());
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double ms = MillisecondsSince(start);
    std::error_code error;
    const auto size = std::filesystem::file_size(out, error);
    return Measurement{status == 0 && !error ? static_cast<std::size_t>(size) : 0, ms};
}

// Best of `runs` times (the least disturbed by other work), bytes of the last.
template <typename Measure>
Measurement BestOf(int runs, Measure measure) {
    Measurement best;
    for (int i = 0; i < runs; ++i) {
        const Measurement m = measure();
        best.bytes = m.bytes;
        best.ms = i == 0 ? m.ms : std::min(best.ms, m.ms);
    }
    return best;
}

// ---- benchmarks ----------------------------------------------------------------

void PngType(benchmark::State& state, const std::string& image, int type) {
    Sample& sample = SampleNamed(image);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const Bytes png = Encode(sample.bitmap.get(), kTypeFlags[type]);
        bytes = png.size();
        benchmark::DoNotOptimize(png.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void ToolRun(benchmark::State& state, const std::string& image, const Tool& tool) {
    if (!Installed(tool.program)) {
        state.SkipWithError((tool.program + " is not installed").c_str());
        return;
    }
    Sample& sample = SampleNamed(image);
    Measurement last;
    for (auto _ : state) {
        last = MeasureTool(sample, tool);
        state.SetIterationTime(last.ms / 1000.0);
    }
    state.counters["bytes"] = static_cast<double>(last.bytes);
}

void Targets(benchmark::State& state, const std::string& image) {
    if (!Installed("optipng")) {
        state.SkipWithError("optipng is not installed");
        return;
    }
    Sample& sample = SampleNamed(image);
    for (auto _ : state) {
        const Measurement t1 = BestOf(3, [&] { return MeasureType(sample, 1); });
        const Measurement t2 = BestOf(3, [&] { return MeasureType(sample, 2); });
        const Measurement t3 = BestOf(3, [&] { return MeasureType(sample, 3); });
        const Measurement t4 = MeasureType(sample, 4);
        const Measurement o2 = BestOf(3, [&] { return MeasureTool(sample, Tools()[0]); });
        const Measurement o5 = MeasureTool(sample, Tools()[1]);
        state.counters["t2_vs_t1_bytes"] = double(t2.bytes) / double(t1.bytes);
        state.counters["t2_vs_t1_time"] = t2.ms / t1.ms;
        state.counters["t3_vs_o2_bytes"] = double(t3.bytes) / double(o2.bytes);
        state.counters["t3_vs_o2_time"] = t3.ms / o2.ms;
        state.counters["t4_vs_o5_bytes"] = double(t4.bytes) / double(o5.bytes);
    }
}

// Types 2 and 4 beside their peers, one run each (the large images take
// minutes under zopflipng).
void Peers(benchmark::State& state, const std::string& image) {
    if (!Installed("optipng") || !Installed("zopflipng")) {
        state.SkipWithError("optipng or zopflipng is not installed");
        return;
    }
    Sample& sample = SampleNamed(image);
    for (auto _ : state) {
        const Measurement t2 = MeasureType(sample, 2);
        const Measurement o2 = MeasureTool(sample, Tools()[0]);
        const Measurement t4 = MeasureType(sample, 4);
        const Measurement zopfli = MeasureTool(sample, Tools()[2]);
        state.counters["t2_bytes"] = double(t2.bytes);
        state.counters["t2_ms"] = t2.ms;
        state.counters["o2_bytes"] = double(o2.bytes);
        state.counters["o2_ms"] = o2.ms;
        state.counters["t4_bytes"] = double(t4.bytes);
        state.counters["t4_ms"] = t4.ms;
        state.counters["zopfli_bytes"] = double(zopfli.bytes);
        state.counters["zopfli_ms"] = zopfli.ms;
        state.counters["t2_vs_o2_bytes"] = double(t2.bytes) / double(o2.bytes);
        state.counters["t2_vs_o2_time"] = t2.ms / o2.ms;
        state.counters["t4_vs_zopfli_bytes"] = double(t4.bytes) / double(zopfli.bytes);
        state.counters["t4_vs_zopfli_time"] = t4.ms / zopfli.ms;
    }
}

const char* const kImages[] = {"photo", "screenshot", "icon"};
const char* const kPeerImages[] = {"photo", "screenshot", "icon", "graphic9", "chart9"};

const bool kRegistered = [] {
    for (const char* image : kImages) {
        for (int type = 0; type < 5; ++type) {
            benchmark::RegisterBenchmark(
                ("PngType/" + std::string(image) + "/" + std::to_string(type)).c_str(),
                [image, type](benchmark::State& state) { PngType(state, image, type); })
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime()
                ->UseRealTime();
        }
        for (const Tool& tool : Tools()) {
            benchmark::RegisterBenchmark(
                ("Tool/" + std::string(image) + "/" + tool.name).c_str(),
                [image, &tool](benchmark::State& state) { ToolRun(state, image, tool); })
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
        }
        benchmark::RegisterBenchmark(("Targets/" + std::string(image)).c_str(),
                                     [image](benchmark::State& state) { Targets(state, image); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    for (const char* image : kPeerImages) {
        benchmark::RegisterBenchmark(("Peers/" + std::string(image)).c_str(),
                                     [image](benchmark::State& state) { Peers(state, image); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    return true;
}();

}  // namespace
