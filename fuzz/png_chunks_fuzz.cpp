// The PNG chunk walk, the decode of its pixels and the lossless reductions,
// the profile reader and the length walk of pasted PNG data.
#include "engine/imagelib/file_io.h"
#include "engine/imagelib/png_chunks.h"
#include "engine/imagelib/png_chunks_io.h"
#include "engine/imagelib/png_image.h"
#include "engine/imagelib/png_reductions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::imagelib;
    const std::span<const std::uint8_t> bytes(data, size);
    (void)PngLengthInBuffer(data, size);
    (void)PngIccProfile(bytes);
    const auto chunks = png::ParseChunks(bytes);
    if (!chunks) return 0;
    auto image = png::DecodedImage(*chunks);
    // Reductions work on whole pixel arrays: keep the fuzzer on small images.
    if (!image || std::uint64_t{image->width} * image->height > (1u << 20)) return 0;
    (void)png::ReducedImage(*image, {});
    return 0;
}
