// The entry of the benchmarks that need a QApplication: offscreen unless a
// platform is asked for, so that they run without a display.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Windows a benchmark kept open go while the application still exists.
    for (QWidget* window : QApplication::topLevelWidgets())
        window->setAttribute(Qt::WA_DeleteOnClose);
    QApplication::closeAllWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
