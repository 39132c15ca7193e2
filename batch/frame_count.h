#pragma once
// How many frames (GIF) or pages (TIFF, icon sizes) a file holds. The
// engine loads only the first, so a run must know before it writes one
// picture in place of many.

#include <string>

namespace pimo::batch {

/// The number of frames or pages of the file at `path`, of `format` (a
/// system format identifier), as the image library's multi-page reader
/// counts them: 1 for formats that hold one picture (the file is not read),
/// and 0 when the file cannot be read or opened as pages.
int FrameCount(int format, const std::string& path);

}  // namespace pimo::batch
