#pragma once
// Where the main window stands: placed from the stored size, state and
// position (or, on a first run, over most of the screen), and its placement
// copied back before the settings are saved.

#include <QMainWindow>

#include "settings/ini_store.h"
#include "settings/window_settings.h"

namespace pimo::ui {

/// Places `window` from the "PIMO" keys of `store` through `fields` (a
/// position the platform chose stays when the file has none or one beyond
/// the desktop); without stored keys, over most of the screen, centred.
void PlaceWindow(QMainWindow& window, const settings::IniStore& store,
                 settings::SettingsFields fields);

/// Copies the window's normal size, its frame's position and its state into
/// `placement`, as they are stored.
void RememberPlacement(const QMainWindow& window, settings::WindowSettings& placement);

}  // namespace pimo::ui
