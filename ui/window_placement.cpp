#include "ui/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "settings/settings_keys.h"
#include "settings/settings_store.h"

namespace pimo::ui {

namespace {

// Most of the screen, centred, so that a photo shows at a useful size from
// the start.
void PlaceForFirstRun(QMainWindow& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    const QSize size(std::min(available.width() * 4 / 5, 1600),
                     std::min(available.height() * 17 / 20, 1100));
    window.resize(size);
    window.move(available.center() - QPoint(size.width() / 2, size.height() / 2));
}

}  // namespace

void PlaceWindow(QMainWindow& window, const settings::IniStore& store,
                 settings::SettingsFields fields) {
    settings::WindowSettings& placement = fields.window;
    placement.Width = window.width();
    placement.Height = window.height();
    placement.Left = window.x();
    placement.Top = window.y();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->virtualGeometry();
        placement.DesktopWidth = desktop.width();
        placement.DesktopHeight = desktop.height();
    }
    if (!store.isOpen() || !store.ValueExists(settings::kMainSection, "Width")) {
        PlaceForFirstRun(window);
        return;
    }
    settings::LoadWindowPlacement(store, fields);
    window.resize(placement.Width, placement.Height);
    window.move(placement.Left, placement.Top);
    if (placement.WindowState == settings::kWindowMaximized)
        window.setWindowState(Qt::WindowMaximized);
    if (placement.WindowState == settings::kWindowMinimized)
        window.setWindowState(Qt::WindowMinimized);
}

void RememberPlacement(const QMainWindow& window, settings::WindowSettings& placement) {
    const QRect normal = window.normalGeometry();
    // The stored position is the frame's, as the window is placed again.
    const QPoint frameOffset = window.geometry().topLeft() - window.frameGeometry().topLeft();
    placement.Width = normal.width();
    placement.Height = normal.height();
    placement.Left = normal.x() - frameOffset.x();
    placement.Top = normal.y() - frameOffset.y();
    placement.WindowState = window.isMaximized()   ? settings::kWindowMaximized
                            : window.isMinimized() ? settings::kWindowMinimized
                                                   : settings::kWindowNormal;
}

}  // namespace pimo::ui
