// The image view with a 12-megapixel picture in both panes (offscreen): the
// time from a zoom step or a pan step to the painted frame, at the fit, 100 %,
// 400 % and 1600 %; and the one-off preparation of a new picture, the only
// place where the view touches every pixel. A frame should take under 16 ms.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include "ui/image_view.h"

namespace {

using pimo::ui::ImageView;

constexpr int kWidth = 4000, kHeight = 3000;

// Smooth gradients with fine noise: a photograph's mix of flat and busy areas,
// in the 32-bit format the window's bitmap conversion hands over.
const QImage& Photo() {
    static const QImage photo = [] {
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < kHeight; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                const int noise = int(random.bounded(24u)) - 12;
                line[x] = qRgb(qBound(0, x * 255 / kWidth + noise, 255),
                               qBound(0, y * 255 / kHeight + noise, 255),
                               qBound(0, ((x ^ y) & 255) / 2 + 64 + noise, 255));
            }
        }
        return image;
    }();
    return photo;
}

// Counts the paints of both panes, to show that every step paints them.
struct PaintCounter : QObject {
    int paints = 0;
    explicit PaintCounter(ImageView& view) {
        for (const char* name : {"Image1", "Image2"})
            view.findChild<QWidget*>(name)->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// The zoom levels: 0 fit, then 100, 400 and 1600 percent.
constexpr int kLevels[] = {0, 100, 400, 1600};

struct OpenView {
    ImageView view;
    explicit OpenView(int percent) {
        view.resize(1600, 1000);
        view.show();
        (void)QTest::qWaitForWindowExposed(&view);
        view.setSourceImage(Photo());
        view.setResultImage(Photo());
        view.setZoomFactor(2.0f);
        if (percent == 0) return;
        view.actual_sizeExecute();
        for (int p = 100; p < percent; p *= 2) view.zoom_inExecute();
    }
};

void BM_ZoomStep(benchmark::State& state) {
    const int percent = kLevels[state.range(0)];
    OpenView open(percent);
    open.view.setZoomFactor(1.2f);
    PaintCounter counter(open.view);
    // Alternate in and out so the level stays where it is; each step paints.
    bool in = true;
    for (auto _ : state) {
        if (in)
            open.view.zoom_inExecute();
        else
            open.view.zoom_outExecute();
        in = !in;
        open.view.repaint();
    }
    state.counters["pane_paints_per_step"] = double(counter.paints) / state.iterations();
    state.SetLabel(percent == 0 ? "fit" : std::to_string(percent) + "%");
}

void BM_PanStep(benchmark::State& state) {
    const int percent = kLevels[state.range(0)];
    OpenView open(percent);
    QWidget* canvas = open.view.findChild<QWidget*>("Image2");
    auto send = [canvas](QEvent::Type type, QPoint at, Qt::MouseButton button) {
        QMouseEvent event(type, QPointF(at), canvas->mapToGlobal(QPointF(at)), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(canvas, &event);
    };
    send(QEvent::MouseButtonPress, {300, 300}, Qt::LeftButton);
    PaintCounter counter(open.view);
    // Back and forth by 40 pixels: every move scrolls and repaints both panes.
    bool right = true;
    for (auto _ : state) {
        send(QEvent::MouseMove, right ? QPoint(340, 320) : QPoint(300, 300), Qt::NoButton);
        right = !right;
    }
    send(QEvent::MouseButtonRelease, {300, 300}, Qt::LeftButton);
    state.counters["pane_paints_per_step"] = double(counter.paints) / state.iterations();
    state.SetLabel(std::to_string(percent) + "%");
}

void BM_NewPicture(benchmark::State& state) {
    ImageView view;
    view.resize(1600, 1000);
    view.setSourceImage(Photo());
    for (auto _ : state) {
        view.setResultImage(Photo());
        view.repaint();
    }
}

BENCHMARK(BM_ZoomStep)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanStep)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NewPicture)->Unit(benchmark::kMillisecond);

}  // namespace
