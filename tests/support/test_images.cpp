#include "tests/support/test_images.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::test {

namespace {
Bitmap Make(unsigned width, unsigned height, unsigned bpp,
            const std::function<RGBQUAD(unsigned, unsigned)>& color) {
    Bitmap bitmap(::FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height),
                                       static_cast<int>(bpp)));
    if (!bitmap) throw std::runtime_error("allocation failed");
    const unsigned step = bpp / 8;
    for (unsigned y = 0; y < height; ++y) {
        // The library stores rows bottom-up.
        BYTE* pixel = ::FreeImage_GetScanLine(bitmap.get(), height - 1 - y);
        for (unsigned x = 0; x < width; ++x, pixel += step) {
            const RGBQUAD c = color(x, y);
            pixel[FI_RGBA_RED] = c.rgbRed;
            pixel[FI_RGBA_GREEN] = c.rgbGreen;
            pixel[FI_RGBA_BLUE] = c.rgbBlue;
            if (step == 4) pixel[FI_RGBA_ALPHA] = c.rgbReserved;
        }
    }
    return bitmap;
}
}  // namespace

Bitmap MakeRgb(unsigned width, unsigned height,
               const std::function<RGBQUAD(unsigned, unsigned)>& color) {
    return Make(width, height, 24, color);
}

Bitmap MakeRgba(unsigned width, unsigned height,
                const std::function<RGBQUAD(unsigned, unsigned)>& color) {
    Bitmap bitmap = Make(width, height, 32, color);
    ::FreeImage_SetTransparent(bitmap.get(), TRUE);
    return bitmap;
}

Bitmap MakePhotoLike(unsigned width, unsigned height, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    return MakeRgb(width, height, [&](unsigned x, unsigned y) {
        const double fx = double(x) / width, fy = double(y) / height;
        const auto channel = [&](double base) {
            return static_cast<BYTE>(std::clamp(static_cast<int>(base) + noise(random), 0, 255));
        };
        return RGBQUAD{channel(255 * fy * (1 - fx)), channel(128 + 120 * std::sin(fx * 6.3) * fy),
                       channel(255 * fx), 0};
    });
}

RGBQUAD PixelAt(FIBITMAP* bitmap, unsigned x, unsigned y) {
    const unsigned step = ::FreeImage_GetBPP(bitmap) / 8;
    const BYTE* pixel =
        ::FreeImage_GetScanLine(bitmap, ::FreeImage_GetHeight(bitmap) - 1 - y) + x * step;
    return RGBQUAD{pixel[FI_RGBA_BLUE], pixel[FI_RGBA_GREEN], pixel[FI_RGBA_RED],
                   static_cast<BYTE>(step == 4 ? pixel[FI_RGBA_ALPHA] : 255)};
}

Bytes EncodePagesWithLibrary(FREE_IMAGE_FORMAT format, const std::vector<FIBITMAP*>& pages) {
    // The library's multi-page writer works on a file only.
    const TempDir dir;
    const std::string path = dir.file("pages");
    FIMULTIBITMAP* file = ::FreeImage_OpenMultiBitmap(format, path.c_str(), TRUE, FALSE, TRUE, 0);
    if (!file) return {};
    for (FIBITMAP* page : pages) ::FreeImage_AppendPage(file, page);
    ::FreeImage_CloseMultiBitmap(file, 0);
    return ReadFileBytes(path);
}

Bytes EncodeWithLibrary(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, int flags) {
    FIMEMORY* stream = ::FreeImage_OpenMemory(nullptr, 0);
    Bytes bytes;
    if (::FreeImage_SaveToMemory(format, bitmap, stream, flags)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        ::FreeImage_AcquireMemory(stream, &data, &size);
        bytes.assign(data, data + size);
    }
    ::FreeImage_CloseMemory(stream);
    return bytes;
}

Bitmap DecodeWithLibrary(FREE_IMAGE_FORMAT format, const Bytes& bytes, int flags) {
    FIMEMORY* stream =
        ::FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    Bitmap bitmap(::FreeImage_LoadFromMemory(format, stream, flags));
    ::FreeImage_CloseMemory(stream);
    return bitmap;
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path FixturePath(const std::string& name) {
    return std::filesystem::path(PIMO_FIXTURE_DIR) / name;
}

TempDir::TempDir() {
    // A name nobody else can hold, even a test run of another process
    // namespace sharing the temporary folder.
    std::string pattern = (std::filesystem::temp_directory_path() / "pimo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder in " + pattern);
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::file(const std::string& name) const {
    const std::u8string text =
        (m_path / std::filesystem::path(std::u8string(name.begin(), name.end()))).u8string();
    return std::string(text.begin(), text.end());
}

void AttachTag(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model, const char* key, WORD id,
               FREE_IMAGE_MDTYPE type, const void* value, DWORD length) {
    FITAG* tag = ::FreeImage_CreateTag();
    ::FreeImage_SetTagKey(tag, key);
    ::FreeImage_SetTagID(tag, id);
    ::FreeImage_SetTagType(tag, type);
    ::FreeImage_SetTagCount(tag, length);
    ::FreeImage_SetTagLength(tag, length);
    ::FreeImage_SetTagValue(tag, value);
    ::FreeImage_SetMetadata(model, bitmap, key, tag);
    ::FreeImage_DeleteTag(tag);
}

}  // namespace pimo::test
