#include "engine/imagelib/load_repairs.h"

namespace pimo::imagelib {

FIBITMAP* DecodeWhereLibraryFails(FREE_IMAGE_FORMAT, std::span<const std::uint8_t>, int) {
    return nullptr;
}

void RepairDecodedBitmap(FREE_IMAGE_FORMAT, std::span<const std::uint8_t>, int, FIBITMAP*) {}

int EstimateJpegQuality(std::span<const std::uint8_t>) { return 0; }

void RouteCodecWarnings() {}

}  // namespace pimo::imagelib
