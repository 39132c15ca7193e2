// The JPEG stage of the pipeline, and the file writer the other outputs share.

#include "app/pimoutil.h"
#include "engine/engine.h"
#include "engine/imagelib/neutral_pixels.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {
constexpr int kSubsamplingFlags[4] = {JPEG_SUBSAMPLING_444, JPEG_SUBSAMPLING_422, JPEG_SUBSAMPLING_420,
                                      JPEG_SUBSAMPLING_411};

bool Carries(FIBITMAP* source, FREE_IMAGE_MDMODEL model) {
    return ::FreeImage_GetMetadataCount(model, source) > 0;
}

bool CarriesIcc(FIBITMAP* source) {
    const FIICCPROFILE* profile = ::FreeImage_GetICCProfile(source);
    return profile && profile->data && profile->size > 0;
}
}  // namespace

int Engine::JpegSaveFlags() const {
    int flags = settings.JPEGQuality;
    flags |= settings.JPEGProgressive ? JPEG_PROGRESSIVE : JPEG_OPTIMIZE;
    flags |= kSubsamplingFlags[settings.JPEGChromaSubsampling & 3];
    return flags;
}

void Engine::RemoveMetadata(bool comments, bool iptc, bool xmp, bool exif, bool icc) {
    FIBITMAP* source = SourceBitmap.get();
    FIBITMAP* working = WorkingBitmap.get();
    if (!working) return;
    if (comments && settings.MetadataRemoveComments && Carries(source, FIMD_COMMENTS)) {
        ::FreeImage_SetMetadata(FIMD_COMMENTS, working, nullptr, nullptr);
    }
    if (iptc && settings.MetadataRemoveIPTC && Carries(source, FIMD_IPTC)) {
        ::FreeImage_SetMetadata(FIMD_IPTC, working, nullptr, nullptr);
    }
    if (xmp && settings.MetadataRemoveXMP && Carries(source, FIMD_XMP)) {
        ::FreeImage_SetMetadata(FIMD_XMP, working, nullptr, nullptr);
    }
    if (exif && settings.MetadataRemoveEXIF && Carries(source, FIMD_EXIF_RAW)) {
        ::FreeImage_SetMetadata(FIMD_EXIF_RAW, working, nullptr, nullptr);
    }
    if (icc && settings.MetadataRemoveICC && CarriesIcc(source)) {
        ::FreeImage_DestroyICCProfile(working);
    }
}

std::uint32_t Engine::SaveBitmapToFile(int format, FIBITMAP* bitmap, const std::string& path, int flags) {
    if (!fi::FreeImage_Save(format, bitmap, path, flags)) return 0;
    const std::int64_t size = util::GetFileSizeOrMinusOne(path);
    return size < 0 ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t Engine::EncodeJPEG(const std::string& targetPath) {
    if (!SourceBitmap) return 0;
    // A grey image is written with one component, as the greyscale
    // adjustment asks: three would only repeat it. The analysis says whether
    // the source is grey; the working copy is checked too, since a coloured
    // background under transparency can tint it.
    if (settings.AdjustGrayscale ||
        (imageInfo.Greyscale && fi::HasOnlyGreyPixels(WorkingBitmap.get()))) {
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_ConvertToGreyscale(WorkingBitmap.get()));
    }
    const int flags = JpegSaveFlags();
    RemoveMetadata(true, true, true, true, true);
    // The thumbnail (the file's JFXX one, or the one the library read from the
    // EXIF block) is camera data like the EXIF block, and goes with it.
    if (WorkingBitmap && settings.MetadataRemoveEXIF) {
        ::FreeImage_SetThumbnail(WorkingBitmap.get(), nullptr);
    }

    if (!targetPath.empty()) return SaveBitmapToFile(fi::kFormatJpeg, WorkingBitmap.get(), targetPath, flags);

    ::FreeImage_SeekMemory(ResultStream.get(), 0, SEEK_SET);
    status("Optimizing...");
    fi::FreeImage_SaveToMemory(fi::kFormatJpeg, WorkingBitmap.get(), ResultStream.get(), flags);
    const auto size = static_cast<std::uint32_t>(::FreeImage_TellMemory(ResultStream.get()));

    if (Interactive) {
        // Show the decoded JPEG, with its compression artefacts.
        status("Loading result");
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_LoadFromMemory(fi::kFormatJpeg, ResultStream.get(), JPEG_ACCURATE));
    }
    return size;
}

}  // namespace pimo::engine
