// The whole load path of a user's file: format detection, the header checks,
// our decoders and repairs and the library's, in the decoder process, and the
// bitmap rebuilt here. A crash or a hang of the library must cost the decode,
// never this process.
#include <array>

#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/freeimage_ext.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::imagelib;
    static const bool quiet = [] {
        SetDecodeBudget(DecodeBudget{256u << 20, 5});
        FreeImage_SetOutputMessage([](int, const std::string&) {});
        return true;
    }();
    (void)quiet;
    static constexpr std::array<int, 12> kFlags = {
        0,
        0,
        0,
        0,
        JPEG_ACCURATE | kJpegLoadDetectQuality,
        JPEG_ACCURATE | kJpegLoadDetectQuality | JPEG_EXIFROTATE,
        0x0001,
        0,
        0,
        0,
        0,
        0};
    const pimo::fuzz::Input input = pimo::fuzz::Split(data, size);
    if (input.rest.empty()) return 0;
    // The format by signature as the engine finds it, else the choice byte's.
    int format = FreeImage_GetFileTypeFromMemory(input.rest);
    if (format == kFormatUnknown || !FreeImage_FIFSupportsReading(format))
        format = input.choice % 37;
    if (!FreeImage_FIFSupportsReading(format)) return 0;
    Bitmap bitmap(FreeImage_LoadIsolated(format, input.rest, kFlags[input.choice % kFlags.size()]));
    return 0;
}
