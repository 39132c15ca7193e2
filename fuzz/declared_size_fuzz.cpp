// Our header readers over any bytes, for every format they read.
#include <array>

#include "engine/imagelib/declared_size.h"
#include "engine/imagelib/decode_budget.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::imagelib;
    static constexpr std::array<FREE_IMAGE_FORMAT, 18> kFormats = {
        FIF_JPEG, FIF_PNG, FIF_GIF,   FIF_BMP, FIF_TIFF, FIF_PPMRAW, FIF_PFM,  FIF_RAS, FIF_PSD,
        FIF_ICO,  FIF_PCX, FIF_TARGA, FIF_DDS, FIF_SGI,  FIF_PICT,   FIF_WEBP, FIF_XBM, FIF_WBMP};
    const pimo::fuzz::Input input = pimo::fuzz::Split(data, size);
    const auto declared = ReadDeclaredSize(kFormats[input.choice % kFormats.size()], input.rest);
    if (declared) {
        (void)OpeningCost(*declared);
        (void)RefusalForDeclaredSize(*declared, DecodeBudget{1u << 30, 1});
        (void)RefusalForImplausibleSize(*declared, input.rest.size());
    }
    return 0;
}
