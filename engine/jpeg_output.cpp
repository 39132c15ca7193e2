// The JPEG stage of the pipeline, and the file writer the other outputs share.

#include <utility>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_encode.h"
#include "engine/imagelib/neutral_pixels.h"
#include "util/pimoutil.h"

namespace pimo::engine {

namespace fi = imagelib;

namespace {
constexpr int kSubsamplingFlags[4] = {JPEG_SUBSAMPLING_444, JPEG_SUBSAMPLING_422,
                                      JPEG_SUBSAMPLING_420, JPEG_SUBSAMPLING_411};

}  // namespace

int Engine::JpegSaveFlags() const {
    int flags = settings.JPEGQuality;
    flags |= settings.JPEGProgressive ? JPEG_PROGRESSIVE : JPEG_OPTIMIZE;
    flags |= kSubsamplingFlags[settings.JPEGChromaSubsampling & 3];
    return flags;
}

void Engine::RemoveMetadata(const MetadataKinds& honoured) {
    FIBITMAP* working = WorkingBitmap.get();
    if (!working) return;
    const MetadataKinds carried = MetadataCarried(SourceBitmap.get());
    const MetadataKinds requested = MetadataRemovalRequested(settings);
    const auto removes = [&](MetadataKind kind) {
        return honoured.has(kind) && requested.has(kind) && carried.has(kind);
    };
    constexpr std::pair<MetadataKind, FREE_IMAGE_MDMODEL> kModels[] = {
        {MetadataKind::Comments, FIMD_COMMENTS},
        {MetadataKind::Iptc, FIMD_IPTC},
        {MetadataKind::Xmp, FIMD_XMP},
        {MetadataKind::Exif, FIMD_EXIF_RAW}};
    for (const auto& [kind, model] : kModels)
        if (removes(kind)) ::FreeImage_SetMetadata(model, working, nullptr, nullptr);
    if (removes(MetadataKind::Icc)) ::FreeImage_DestroyICCProfile(working);
}

std::uint32_t Engine::SaveBitmapToFile(int format, FIBITMAP* bitmap, const std::string& path,
                                       int flags) {
    if (!fi::FreeImage_Save(format, bitmap, path, flags)) return 0;
    const std::int64_t size = util::GetFileSizeOrMinusOne(path);
    return size < 0 ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t Engine::EncodeJPEG(const std::string& targetPath) {
    if (!SourceBitmap) return 0;
    // A grey image is written with one component, as the greyscale
    // adjustment asks: three would only repeat it. The analysis says whether
    // the source is grey (or, unanalysed, the source's pixels); the working
    // copy is checked too, since a coloured background under transparency
    // can tint it.
    const auto greySource = [this] {
        return SourceAnalysisSkipped() ? fi::HasOnlyGreyPixels(SourceBitmap.get())
                                       : imageInfo.Greyscale;
    };
    if (settings.AdjustGrayscale || (greySource() && fi::HasOnlyGreyPixels(WorkingBitmap.get()))) {
        ReplaceBitmap(WorkingBitmap, fi::FreeImage_ConvertToGreyscale(WorkingBitmap.get()));
    }
    const int flags = JpegSaveFlags();
    RemoveMetadata(MetadataKeptBy(kFormatJpeg));
    // The thumbnail (the file's JFXX one, or the one the library read from the
    // EXIF block) is camera data like the EXIF block, and goes with it.
    if (WorkingBitmap && settings.MetadataRemoveEXIF) {
        ::FreeImage_SetThumbnail(WorkingBitmap.get(), nullptr);
    }

    if (!targetPath.empty())
        return SaveBitmapToFile(fi::kFormatJpeg, WorkingBitmap.get(), targetPath, flags);

    // The last look at the source's own pixels: they go as they are encoded.
    const bool releaseSource =
        ReleaseSourceWhileEncoding && !Interactive && WorkingBitmap && SourceBitmap &&
        ::FreeImage_GetBits(WorkingBitmap.get()) == ::FreeImage_GetBits(SourceBitmap.get());
    ::FreeImage_SeekMemory(ResultStream.get(), 0, SEEK_SET);
    status("Optimizing...");
    fi::FreeImage_SaveToMemory(fi::kFormatJpeg, WorkingBitmap.get(), ResultStream.get(),
                               releaseSource ? flags | fi::kJpegSaveReleaseRows : flags);
    const auto size = static_cast<std::uint32_t>(::FreeImage_TellMemory(ResultStream.get()));
    if (releaseSource) {
        // Their pages read as zeros now: neither bitmap may be looked at again.
        WorkingBitmap.reset();
        SourceBitmap.reset();
    }

    if (Interactive) {
        // Show the decoded JPEG, with its compression artefacts.
        status("Loading result");
        ReplaceBitmap(WorkingBitmap, DecodeJpegResultForDisplay(WorkingBitmap.get()));
    }
    return size;
}

}  // namespace pimo::engine
