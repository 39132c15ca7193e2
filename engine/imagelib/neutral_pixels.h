#pragma once
// Whether a colour bitmap holds only greys.

#include <FreeImage.h>

namespace pimo::imagelib {

/// True when every pixel of a 24- or 32-bit bitmap has equal red, green and
/// blue (alpha ignored); false at the first that does not, for other depths
/// and for no bitmap.
bool HasOnlyGreyPixels(FIBITMAP* bitmap);

}  // namespace pimo::imagelib
