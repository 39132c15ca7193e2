// Our BMP decoder (the headers the library refuses) over any bytes.
#include "engine/imagelib/bmp_decoder.h"
#include "engine/imagelib/freeimage_ext.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)pimo::imagelib::NeedsOwnBmpDecoder(bytes);
    pimo::imagelib::Bitmap bitmap(pimo::imagelib::DecodeBmp(bytes));
    return 0;
}
