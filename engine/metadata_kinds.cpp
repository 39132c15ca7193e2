#include "engine/metadata_kinds.h"

#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace {

bool Carries(FIBITMAP* bitmap, FREE_IMAGE_MDMODEL model) {
    return ::FreeImage_GetMetadataCount(model, bitmap) > 0;
}

bool CarriesIcc(FIBITMAP* bitmap) {
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(bitmap);
    return profile && profile->data && profile->size > 0;
}

}  // namespace

MetadataKinds MetadataCarried(FIBITMAP* bitmap) {
    if (!bitmap) return {};
    return {Carries(bitmap, FIMD_COMMENTS), Carries(bitmap, FIMD_IPTC), Carries(bitmap, FIMD_XMP),
            Carries(bitmap, FIMD_EXIF_RAW), CarriesIcc(bitmap)};
}

MetadataKinds MetadataKeptBy(int format) {
    const bool jpeg = format == kFormatJpeg;
    const bool gif = format == kFormatGif;
    return {true, jpeg, !gif, jpeg, !gif};
}

MetadataKinds MetadataRemovalRequested(const OptimizationSettings& settings) {
    return {settings.MetadataRemoveComments, settings.MetadataRemoveIPTC,
            settings.MetadataRemoveXMP, settings.MetadataRemoveEXIF, settings.MetadataRemoveICC};
}

}  // namespace pimo::engine
