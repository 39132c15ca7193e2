// JPEG marker segments, the quality estimate, the EXIF orientation writer and
// the stream check.
#include <vector>

#include "engine/imagelib/jpeg_exif.h"
#include "engine/imagelib/jpeg_markers.h"
#include "engine/imagelib/jpeg_quality.h"
#include "engine/imagelib/jpeg_stream_check.h"
#include "engine/imagelib/load_repairs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pimo::imagelib;
    const std::span<const std::uint8_t> bytes(data, size);
    const JpegHeader header = ReadJpegHeader(bytes);
    (void)EstimateLibjpegQuality(header);
    (void)EstimateJpegQuality(bytes);
    std::vector<std::uint8_t> block(bytes.begin(), bytes.end());
    (void)SetExifBlockOrientation(block, 1);
    (void)CheckJpegStream(bytes, 64, 64);
    return 0;
}
