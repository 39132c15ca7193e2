// The main window with a 12-megapixel photo open (offscreen): the time from a
// JPEG quality change to the new result painted, beside the engine's own
// pipeline time for the same change. What the window adds (decoding the
// result to show its artefacts, only as large as the fitted view shows it,
// turning it into a display image with its halved copies, the quiet state of
// the commands, the paint) should stay under a fifth of the pipeline's time.
// The other benchmarks take the window's time apart: the engine's preview
// with the window as its host, its pipeline in that engine (which decodes the
// result), the full decode alone, the display decode at each reduction, the
// showing of a full and of a reduced result, the display conversion (with a
// fresh image each time, which the window avoids), the halved copies, the
// quiet state of a long call, and the paints.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/target_quality.h"
#include "platform/known_folders.h"
#include "tests/support/test_images.h"
#include "ui/bitmap_image.h"
#include "ui/display_image.h"
#include "ui/image_view.h"
#include "ui/main_window.h"

namespace {

namespace fs = std::filesystem;
using pimo::ui::TForm1;

constexpr unsigned kWidth = 4000, kHeight = 3000;

// A window over a JPEG photo, in manual mode so that a quality change is the
// only change; the quality score is off, its worker would share the cores.
struct OpenWindow {
    pimo::test::TempDir dir;
    // Deleted with the other windows before the application ends.
    QPointer<TForm1> window;

    OpenWindow() {
        auto photo = pimo::test::MakePhotoLike(kWidth, kHeight);
        const fs::path file = dir.path() / "photo.jpg";
        pimo::test::WriteFileBytes(file, pimo::test::EncodeWithLibrary(FIF_JPEG, photo.get(), 90));
        auto folders = std::make_shared<pimo::platform::FixedKnownFolders>();
        folders->executable = dir.path() / "program";
        folders->localAppData = dir.path() / "appdata";
        fs::create_directories(dir.path() / "appdata" / "Pimo");
        std::ofstream(dir.path() / "appdata" / "Pimo" / "Pimo.ini")
            << "[PIMO]\nMode=3\nFormat=0\nJPEGQuality=70\nAskToResizeLargeImages=0\n"
               "ShowQualityScore=0\nCheck4Updates=0\nWidth=1400\nHeight=900\n";
        pimo::ui::WindowEnvironment environment;
        environment.folders = folders;
        environment.webSite = "";
        window = new TForm1(QStringList{QString::fromStdString(file.string())}, environment);
        QSignalSpy started(window.data(), &TForm1::startedUp);
        window->show();
        (void)QTest::qWaitForWindowExposed(window.data());
        if (started.isEmpty()) (void)started.wait(60000);
    }
};

OpenWindow& Window() {
    static OpenWindow open;
    return open;
}

// Each iteration sets quality 70 or 71, the other one than before, and runs
// `step` on `engine`.
template <typename Step>
void AlternateQuality(benchmark::State& state, pimo::engine::Engine& engine, Step step) {
    int value = 70;
    for (auto _ : state) {
        value = value == 70 ? 71 : 70;
        engine.settings.JPEGQuality = value;
        step();
    }
}

// Quality 70 and 71 in turn: each step makes and paints a new result.
void BM_QualityChangeToPaintedResult(benchmark::State& state) {
    OpenWindow& open = Window();
    auto* quality = open.window->findChild<QLineEdit*>("jpeg_calitate");
    auto* view = open.window->findChild<pimo::ui::ImageView*>();
    if (quality == nullptr || view == nullptr || !open.window->engine().SourceBitmap) {
        state.SkipWithError("the window did not open the photo");
        return;
    }
    int value = 70;
    for (auto _ : state) {
        value = value == 70 ? 71 : 70;
        quality->setText(QString::number(value));
        QTest::keyClick(quality, Qt::Key_Return);
        view->repaint();
        QApplication::processEvents();
    }
}

// The same change through a private engine over the same source and
// settings: the pipeline alone.
void BM_QualityChangePipelineOnly(benchmark::State& state) {
    OpenWindow& open = Window();
    if (!open.window->engine().SourceBitmap) {
        state.SkipWithError("the window did not open the photo");
        return;
    }
    pimo::engine::ProbeEngine probe(open.window->engine());
    pimo::engine::Engine& engine = probe.engine();
    AlternateQuality(state, engine, [&] { benchmark::DoNotOptimize(engine.OptimizeImage("")); });
}

// The parts of the window's time: the engine's preview with the window as
// its host (pipeline, display image, status), and one paint of the view.
void BM_PreviewWithWindowHost(benchmark::State& state) {
    pimo::engine::Engine& engine = Window().window->engine();
    AlternateQuality(state, engine, [&] { engine.PreviewImage(); });
}

void BM_OptimizeWithWindowHost(benchmark::State& state) {
    pimo::engine::Engine& engine = Window().window->engine();
    AlternateQuality(state, engine, [&] { benchmark::DoNotOptimize(engine.OptimizeImage("")); });
}

// The result as the window's engine holds it after a run: decoded.
pimo::engine::Bitmap DecodedResult(pimo::engine::Engine& engine) {
    pimo::engine::ProbeEngine probe(engine);
    probe.engine().OptimizeImage("");
    return pimo::engine::Bitmap(pimo::imagelib::FreeImage_LoadFromMemory(
        pimo::imagelib::kFormatJpeg, probe.engine().ResultStream.get(), JPEG_ACCURATE));
}

void BM_DecodeResult(benchmark::State& state) {
    pimo::engine::ProbeEngine probe(Window().window->engine());
    probe.engine().OptimizeImage("");
    for (auto _ : state) {
        pimo::engine::Bitmap decoded(pimo::imagelib::FreeImage_LoadFromMemory(
            pimo::imagelib::kFormatJpeg, probe.engine().ResultStream.get(), JPEG_ACCURATE));
        benchmark::DoNotOptimize(decoded.get());
    }
}

// The decode the window's engine makes for display, at the reduction of the
// argument (1: every pixel; 4: the fitted photo in this window).
void BM_DecodeResultForDisplay(benchmark::State& state) {
    pimo::engine::ProbeEngine probe(Window().window->engine());
    probe.engine().OptimizeImage("");
    const std::vector<std::uint8_t> encoded =
        pimo::imagelib::StreamBytes(probe.engine().ResultStream.get());
    for (auto _ : state) {
        auto reduction = static_cast<unsigned>(state.range(0));
        pimo::engine::Bitmap decoded(pimo::engine::DecodeJpegForDisplay(encoded, reduction));
        benchmark::DoNotOptimize(decoded.get());
    }
}

// The window showing a decoded result (reduced by the argument), as after a
// preview: display conversion and halved copies.
void BM_ShowResult(benchmark::State& state) {
    OpenWindow& open = Window();
    pimo::engine::Engine& engine = open.window->engine();
    pimo::engine::ProbeEngine probe(engine);
    probe.engine().OptimizeImage("");
    const std::vector<std::uint8_t> encoded =
        pimo::imagelib::StreamBytes(probe.engine().ResultStream.get());
    auto reduction = static_cast<unsigned>(state.range(0));
    const pimo::engine::Bitmap result(pimo::engine::DecodeJpegForDisplay(encoded, reduction));
    if (!result) {
        state.SkipWithError("the result did not decode");
        return;
    }
    // The size the window was last told is the photo's.
    open.window->resultDisplayReduction(kWidth, kHeight);
    for (auto _ : state) {
        state.PauseTiming();
        engine.WorkingBitmap.reset(FreeImage_Clone(result.get()));
        engine.ResultReduction = reduction;
        state.ResumeTiming();
        open.window->showResultImage();
    }
    engine.WorkingBitmap.reset();
}

void BM_DisplayConversion(benchmark::State& state) {
    const pimo::engine::Bitmap result = DecodedResult(Window().window->engine());
    for (auto _ : state) benchmark::DoNotOptimize(pimo::ui::ToQImage(result.get()));
}

void BM_HalvedCopies(benchmark::State& state) {
    const pimo::engine::Bitmap result = DecodedResult(Window().window->engine());
    const QImage image = pimo::ui::ToQImage(result.get());
    for (auto _ : state) benchmark::DoNotOptimize(pimo::ui::DisplayImage(image).size());
}

// What every long engine call costs the window: its commands go quiet and
// come back.
void BM_QuietAndBack(benchmark::State& state) {
    OpenWindow& open = Window();
    for (auto _ : state) {
        open.window->setMainWindowEnabled(false);
        open.window->setMainWindowEnabled(true);
        QApplication::processEvents();
    }
}

void BM_PaintWindow(benchmark::State& state) {
    OpenWindow& open = Window();
    for (auto _ : state) open.window->repaint();
}

void BM_PaintView(benchmark::State& state) {
    OpenWindow& open = Window();
    auto* view = open.window->findChild<pimo::ui::ImageView*>();
    for (auto _ : state) view->repaint();
}

BENCHMARK(BM_PreviewWithWindowHost)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_OptimizeWithWindowHost)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_DecodeResult)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeResultForDisplay)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_ShowResult)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_DisplayConversion)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_HalvedCopies)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QuietAndBack)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PaintWindow)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PaintView)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_QualityChangePipelineOnly)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_QualityChangeToPaintedResult)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
