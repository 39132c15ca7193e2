// The direct PNG decode over any bytes, in this process: it must never crash,
// and whenever it succeeds its pixels must be those of the library's loader.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/png_direct_decode.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::imagelib;
    static const bool quiet = [] {
        SetDecodeBudget(DecodeBudget{64u << 20, 5});
        FreeImage_SetOutputMessage([](int, const std::string&) {});
        return true;
    }();
    (void)quiet;
    const pimo::fuzz::Input input = pimo::fuzz::Split(data, size);
    const int flags = (input.choice & 1) ? PNG_IGNOREGAMMA : 0;
    if (!DirectPngDecodeApplies(input.rest, flags)) return 0;
    Bitmap header(LoadPngWithoutPixels(input.rest, flags));
    if (!header) return 0;
    const std::size_t pitch = ::FreeImage_GetPitch(header.get());
    const unsigned height = ::FreeImage_GetHeight(header.get());
    std::vector<std::uint8_t> pixels(pitch * height);
    const bool decoded =
        DecodePngRows(input.rest, flags, header.get(),
                      [&](unsigned bottom, unsigned count, std::span<const std::uint8_t> rows) {
                          if (bottom + count > height || rows.size() != std::size_t{count} * pitch)
                              std::abort();
                          std::memcpy(pixels.data() + bottom * pitch, rows.data(), rows.size());
                          return true;
                      });
    if (!decoded) return 0;
    const Bitmap loaded(FreeImage_LoadFromBytes(kFormatPng, input.rest, flags));
    if (!loaded || ::FreeImage_GetPitch(loaded.get()) != pitch ||
        ::FreeImage_GetHeight(loaded.get()) != height ||
        std::memcmp(::FreeImage_GetBits(loaded.get()), pixels.data(), pixels.size()) != 0 ||
        FreeImage_OriginalHasAlpha(loaded.get()) != FreeImage_OriginalHasAlpha(header.get())) {
        std::abort();
    }
    return 0;
}
