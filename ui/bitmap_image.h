#pragma once
// Turning a library bitmap into a picture the toolkit can show.

#include <QImage>

#include "engine/imagelib/handles.h"

namespace pimo::ui {

/// A 32-bit ARGB copy of any displayable bitmap; a null image when the
/// bitmap is missing or cannot be converted. The pixels go into `reuse`'s
/// memory when it has the same size and kind and nothing else shares it: a
/// fresh buffer of a dozen megapixels costs more to fault in than to fill.
QImage ToQImage(FIBITMAP* bitmap, QImage reuse = QImage());

}  // namespace pimo::ui
