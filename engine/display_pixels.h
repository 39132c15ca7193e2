#pragma once
// A bitmap as a window draws it: 32-bit pixels, top row first, in
// blue-green-red-alpha byte order (the layout of a 32-bit ARGB word on a
// little-endian machine), written straight into the window's own buffer.

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/imagelib/handles.h"

namespace pimo::engine {

struct DisplayFormat {
    int width = 0;
    int height = 0;
    /// Whether the fourth byte is alpha; otherwise it may hold anything.
    bool transparent = false;
};

/// The size and kind of the display pixels of `bitmap`; zero size for none.
DisplayFormat DisplayFormatOf(FIBITMAP* bitmap);

/// Writes the display pixels of `bitmap` into `target`, whose rows are
/// `rowBytes` apart and at least width x 4 bytes long. False when the bitmap
/// is missing, cannot be converted, or the target is too small.
bool CopyDisplayPixels(FIBITMAP* bitmap, std::span<std::uint8_t> target, std::size_t rowBytes);

}  // namespace pimo::engine
