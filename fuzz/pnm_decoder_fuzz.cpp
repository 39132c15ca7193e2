// Our binary PNM decoder over any bytes.
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/pnm_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pimo::imagelib::Bitmap bitmap(
        pimo::imagelib::DecodeBinaryPnm(std::span<const std::uint8_t>(data, size)));
    return 0;
}
