#pragma once
// The system's format identifiers and the owning handles of the image
// library's bitmaps and memory streams, for code that holds images without
// calling the library itself. Only this folder includes the library's header.

#include <memory>

struct FIBITMAP;
struct FIMEMORY;

namespace pimo::imagelib {

// System format identifiers.
inline constexpr int kFormatUnknown = -1;
inline constexpr int kFormatJpeg = 0;
inline constexpr int kFormatPng = 1;
inline constexpr int kFormatGif = 2;
inline constexpr int kFormatPastedBitmap = 3;  // a device-independent bitmap from the clipboard
inline constexpr int kFormatIcon = 6;          // loaded with flag 0x0001: alpha from the AND mask

struct BitmapDeleter {
    void operator()(FIBITMAP* bitmap) const;
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapDeleter>;

struct MemoryDeleter {
    void operator()(FIMEMORY* stream) const;
};
using MemoryStream = std::unique_ptr<FIMEMORY, MemoryDeleter>;

}  // namespace pimo::imagelib
