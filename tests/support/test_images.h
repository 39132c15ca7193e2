#pragma once
// Images made in code for tests, temporary folders and byte helpers.

#include <FreeImage.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::test {

using imagelib::Bitmap;
using Bytes = std::vector<std::uint8_t>;

/// A 24-bit bitmap whose pixel (x, y) (y counted from the top) is `color(x, y)`.
Bitmap MakeRgb(unsigned width, unsigned height,
               const std::function<RGBQUAD(unsigned, unsigned)>& color);
/// A 32-bit bitmap with alpha, marked transparent.
Bitmap MakeRgba(unsigned width, unsigned height,
                const std::function<RGBQUAD(unsigned, unsigned)>& color);
/// A deterministic photograph-like 24-bit image: smooth gradients with noise,
/// millions of colours at large sizes.
Bitmap MakePhotoLike(unsigned width, unsigned height, std::uint32_t seed = 1);
/// Pixel (x, y), y counted from the top, of a 24- or 32-bit bitmap.
RGBQUAD PixelAt(FIBITMAP* bitmap, unsigned x, unsigned y);

/// Encodes with the library itself (library format identifier).
Bytes EncodeWithLibrary(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, int flags);
/// A file of several frames or pages (GIF, TIFF, ICO), one per bitmap in
/// order, written by the library's multi-page writer. GIF frames must be
/// palettised.
Bytes EncodePagesWithLibrary(FREE_IMAGE_FORMAT format, const std::vector<FIBITMAP*>& pages);
/// Decodes with the library itself, without our layer's repairs.
Bitmap DecodeWithLibrary(FREE_IMAGE_FORMAT format, const Bytes& bytes, int flags = 0);

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

/// The folder of fixture files shipped with the tests.
std::filesystem::path FixturePath(const std::string& name);

/// A fresh folder, removed with everything in it when the object goes.
/// Attaches a tag of `length` bytes of `value` under `key` and `id` to
/// `bitmap`'s metadata `model`.
void AttachTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key, WORD id,
               FREE_IMAGE_MDTYPE type, const void* value, DWORD length);

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    /// The path of `name` inside the folder, as UTF-8 text.
    std::string file(const std::string& name) const;

  private:
    std::filesystem::path m_path;
};

}  // namespace pimo::test
