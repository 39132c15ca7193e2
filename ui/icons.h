#pragma once
// Toolbar icons by name: the desktop's icon theme where it has a fitting
// icon, else a small drawing of our own shipped with the program.

#include <QIcon>
#include <QString>
#include <QStringList>

namespace pimo::ui {

/// The icon for one of the names in ToolbarIconNames() ("open", "save",
/// "save_as", "batch", "options", "rotate_left", "rotate_right", "flip_h",
/// "flip_v", "compress_to_size", "preview", "zoom_in", "zoom_out",
/// "actual_size", "fit", "compare", "full_screen", "mode"). A null icon for
/// any other name.
QIcon ToolbarIcon(const QString& name);

/// Every name ToolbarIcon() knows.
QStringList ToolbarIconNames();

/// Our own drawing for `name`, ignoring the theme (null for an unknown name).
QIcon BuiltInIcon(const QString& name);

}  // namespace pimo::ui
