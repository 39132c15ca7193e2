#pragma once
// Turning a library bitmap into a picture the toolkit can show.

#include <QImage>

#include "engine/imagelib/handles.h"

namespace pimo::ui {

/// A 32-bit ARGB copy of any displayable bitmap; a null image when the
/// bitmap is missing or cannot be converted.
QImage ToQImage(FIBITMAP* bitmap);

}  // namespace pimo::ui
