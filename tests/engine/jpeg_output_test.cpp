// JPEG output, checked in the written bytes.

#include <gtest/gtest.h>

#include <cstring>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/load_repairs.h"
#include "tests/support/fake_host.h"
#include "tests/support/jpeg_inspect.h"
#include "tests/support/test_images.h"

namespace pimo::engine {
namespace {

using test::AttachTag;
using test::Bytes;
using test::FakeHost;
using test::TempDir;

/// A JPEG file carrying a comment, XMP, IPTC, EXIF and an ICC profile.
Bytes JpegWithAllMetadata() {
    auto photo = test::MakePhotoLike(96, 64);
    const char comment[] = "a comment";
    const char xmp[] = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>";
    const char caption[] = "a caption";
    const Bytes exif = test::MakeExifBlock(1);
    std::vector<std::uint8_t> icc(200, 0x42);
    AttachTag(photo.get(), FIMD_COMMENTS, "Comment", 0, FIDT_ASCII, comment, sizeof comment);
    AttachTag(photo.get(), FIMD_XMP, "XMLPacket", 0, FIDT_ASCII, xmp, sizeof xmp);
    AttachTag(photo.get(), FIMD_IPTC, "Caption-Abstract", 0x0278, FIDT_ASCII, caption,
              sizeof caption);
    AttachTag(photo.get(), FIMD_EXIF_RAW, "ExifRaw", 0, FIDT_BYTE, exif.data(),
              static_cast<DWORD>(exif.size()));
    ::FreeImage_CreateICCProfile(photo.get(), icc.data(), static_cast<long>(icc.size()));
    return test::EncodeWithLibrary(FIF_JPEG, photo.get(), 95);
}

class JpegOutputTest : public ::testing::Test {
  protected:
    // Manual mode: each test sets the settings it checks.
    JpegOutputTest() { m_engine.settings.Mode = pimo::engine::OptimizationMode::Manual; }

    void Load(const Bytes& bytes, const char* name = "source.jpg") {
        test::WriteFileBytes(m_dir.file(name), bytes);
        m_engine.Interactive = false;
        ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file(name)));
        m_engine.settings.Format = kFormatJpeg;
    }
    Bytes Encode() {
        const std::uint32_t size = m_engine.OptimizeImage("");
        Bytes bytes = imagelib::StreamBytes(m_engine.ResultStream.get());
        EXPECT_EQ(size, bytes.size());
        return bytes;
    }

    TempDir m_dir;
    FakeHost m_host;
    Engine m_engine{m_host};
};

TEST_F(JpegOutputTest, FixtureCarriesEveryMetadataKind) {
    const test::JpegStructure source = test::InspectJpeg(JpegWithAllMetadata());
    EXPECT_TRUE(source.hasComment && source.hasXmp && source.hasIptc && source.hasExif &&
                source.hasIcc);
}

struct MetadataCase {
    const char* name;
    bool OptimizationSettings::*flag;
    bool test::JpegStructure::*present;
};

void PrintTo(const MetadataCase& c, std::ostream* os) {
    *os << c.name;
}

class JpegMetadataTest : public JpegOutputTest,
                         public ::testing::WithParamInterface<MetadataCase> {};

TEST_P(JpegMetadataTest, EachKindKeptOrRemovedByItsFlag) {
    Load(JpegWithAllMetadata());
    OptimizationSettings& s = m_engine.settings;
    for (bool OptimizationSettings::*flag :
         {&OptimizationSettings::MetadataRemoveComments, &OptimizationSettings::MetadataRemoveIPTC,
          &OptimizationSettings::MetadataRemoveXMP, &OptimizationSettings::MetadataRemoveEXIF,
          &OptimizationSettings::MetadataRemoveICC}) {
        s.*flag = false;
    }
    const test::JpegStructure kept = test::InspectJpeg(Encode());
    EXPECT_TRUE(kept.*(GetParam().present)) << "kept when its flag is off";

    s.*(GetParam().flag) = true;
    const test::JpegStructure removed = test::InspectJpeg(Encode());
    EXPECT_FALSE(removed.*(GetParam().present)) << "removed when its flag is on";
    // The other kinds stay.
    const int others =
        removed.hasComment + removed.hasIptc + removed.hasXmp + removed.hasExif + removed.hasIcc;
    EXPECT_EQ(others, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JpegMetadataTest,
    ::testing::Values(MetadataCase{"Comments", &OptimizationSettings::MetadataRemoveComments,
                                   &test::JpegStructure::hasComment},
                      MetadataCase{"IPTC", &OptimizationSettings::MetadataRemoveIPTC,
                                   &test::JpegStructure::hasIptc},
                      MetadataCase{"XMP", &OptimizationSettings::MetadataRemoveXMP,
                                   &test::JpegStructure::hasXmp},
                      MetadataCase{"EXIF", &OptimizationSettings::MetadataRemoveEXIF,
                                   &test::JpegStructure::hasExif},
                      MetadataCase{"ICC", &OptimizationSettings::MetadataRemoveICC,
                                   &test::JpegStructure::hasIcc}),
    [](const ::testing::TestParamInfo<MetadataCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(JpegOutputTest, SourceWithoutMetadataEncodesIdenticallyWhateverTheFlags) {
    auto photo = test::MakePhotoLike(64, 64);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "plain.png");
    const Bytes removing = Encode();
    OptimizationSettings& s = m_engine.settings;
    s.MetadataRemoveComments = s.MetadataRemoveIPTC = s.MetadataRemoveXMP = s.MetadataRemoveEXIF =
        s.MetadataRemoveICC = false;
    EXPECT_EQ(Encode(), removing);
}

// Without colour adjustments the JPEG stage encodes the source's own pixels,
// not a copy: the bytes must be those of a full copy's encode, and neither
// the pixels nor the metadata of the source may change on the way.
TEST_F(JpegOutputTest, EncodingWithoutACopyLeavesTheSourceWhole) {
    Load(JpegWithAllMetadata());
    FIBITMAP* source = m_engine.SourceBitmap.get();
    const std::size_t pixelBytes =
        std::size_t{::FreeImage_GetPitch(source)} * ::FreeImage_GetHeight(source);
    const Bytes pixelsBefore(::FreeImage_GetBits(source), ::FreeImage_GetBits(source) + pixelBytes);
    OptimizationSettings& s = m_engine.settings;
    s.MetadataRemoveComments = s.MetadataRemoveIPTC = s.MetadataRemoveXMP = s.MetadataRemoveEXIF =
        s.MetadataRemoveICC = true;

    const test::JpegStructure stripped = test::InspectJpeg(Encode());
    EXPECT_FALSE(stripped.hasComment || stripped.hasIptc || stripped.hasXmp || stripped.hasExif ||
                 stripped.hasIcc);
    EXPECT_FALSE(m_engine.WorkingBitmap) << "a bitmap over the source's pixels is not kept";
    ASSERT_EQ(m_engine.SourceBitmap.get(), source);
    EXPECT_EQ(Bytes(::FreeImage_GetBits(source), ::FreeImage_GetBits(source) + pixelBytes),
              pixelsBefore);
    EXPECT_GT(::FreeImage_GetMetadataCount(FIMD_EXIF_RAW, source), 0u);
    EXPECT_NE(::FreeImage_GetICCProfile(source)->size, 0);

    // Everything kept: the bytes of the library's own encode of a full clone.
    s.MetadataRemoveComments = s.MetadataRemoveIPTC = s.MetadataRemoveXMP = s.MetadataRemoveEXIF =
        s.MetadataRemoveICC = false;
    const Bytes kept = Encode();
    const test::JpegStructure all = test::InspectJpeg(kept);
    EXPECT_TRUE(all.hasComment && all.hasIptc && all.hasXmp && all.hasExif && all.hasIcc);
    imagelib::Bitmap clone(imagelib::FreeImage_Clone(source));
    imagelib::MemoryStream stream = imagelib::OpenMemoryStream();
    ASSERT_TRUE(imagelib::FreeImage_SaveToMemory(imagelib::kFormatJpeg, clone.get(), stream.get(),
                                                 m_engine.JpegSaveFlags()));
    EXPECT_EQ(kept, imagelib::StreamBytes(stream.get()));
}

// An engine told that nothing reads the source after a run gives the
// source's memory back while the encoder takes its rows, and keeps no source
// afterwards; the bytes are those of a run that keeps it. Only a run that
// encodes the source's own pixels into memory without a window does so.
struct ReleaseCase {
    const char* name;
    bool flag;
    bool interactive;
    bool adjusted;
    int format;
    bool released;
};

class JpegSourceReleaseTest : public JpegOutputTest,
                              public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(JpegSourceReleaseTest, ReleasesTheSourceOnlyWhenItsPixelsAreEncodedForTheLastTime) {
    const ReleaseCase& c = GetParam();
    Load(JpegWithAllMetadata());
    m_engine.settings.Format = c.format;
    m_engine.settings.AdjustInvert = c.adjusted;
    const Bytes kept = Encode();
    ASSERT_FALSE(kept.empty());
    ASSERT_TRUE(m_engine.SourceBitmap);

    m_engine.ReleaseSourceWhileEncoding = c.flag;
    m_engine.Interactive = c.interactive;
    const std::uint32_t size = m_engine.OptimizeImage("");
    EXPECT_EQ(imagelib::StreamBytes(m_engine.ResultStream.get()), kept);
    EXPECT_EQ(size, kept.size());
    EXPECT_EQ(!m_engine.SourceBitmap, c.released);
    if (c.released) {
        EXPECT_FALSE(m_engine.WorkingBitmap);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, JpegSourceReleaseTest,
    ::testing::Values(ReleaseCase{"Released", true, false, false, kFormatJpeg, true},
                      ReleaseCase{"NotAsked", false, false, false, kFormatJpeg, false},
                      ReleaseCase{"Window", true, true, false, kFormatJpeg, false},
                      ReleaseCase{"Adjusted", true, false, true, kFormatJpeg, false},
                      ReleaseCase{"Png", true, false, false, kFormatPng, false}),
    [](const ::testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.name); });

// With an adjustment the pixels change, so they are a copy's, never the source's.
TEST_F(JpegOutputTest, AdjustedEncodeWorksOnACopy) {
    auto photo = test::MakePhotoLike(48, 32);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    FIBITMAP* source = m_engine.SourceBitmap.get();
    const RGBQUAD before = test::PixelAt(source, 7, 5);
    m_engine.settings.AdjustInvert = true;
    EXPECT_GT(m_engine.OptimizeImage(""), 0u);
    ASSERT_TRUE(m_engine.WorkingBitmap);
    EXPECT_NE(::FreeImage_GetBits(m_engine.WorkingBitmap.get()), ::FreeImage_GetBits(source));
    const RGBQUAD after = test::PixelAt(source, 7, 5);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST(SharedPixelsViewTest, SharesPixelsOnlyOfTrueColourBitmaps) {
    auto photo = test::MakePhotoLike(16, 8);
    ::FreeImage_SetDotsPerMeterX(photo.get(), 2835);
    imagelib::Bitmap view(imagelib::FreeImage_SharedPixelsView(photo.get()));
    ASSERT_TRUE(view);
    EXPECT_EQ(::FreeImage_GetBits(view.get()), ::FreeImage_GetBits(photo.get()));
    EXPECT_EQ(::FreeImage_GetPitch(view.get()), ::FreeImage_GetPitch(photo.get()));
    EXPECT_EQ(::FreeImage_GetDotsPerMeterX(view.get()), 2835u);
    const RGBQUAD a = test::PixelAt(view.get(), 3, 6), b = test::PixelAt(photo.get(), 3, 6);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    imagelib::Bitmap grey(::FreeImage_ConvertToGreyscale(photo.get()));
    EXPECT_EQ(imagelib::FreeImage_SharedPixelsView(grey.get()), nullptr);
    EXPECT_EQ(imagelib::FreeImage_SharedPixelsView(nullptr), nullptr);
}

struct SubsamplingCase {
    int setting;
    int lumaHorizontal, lumaVertical;
};

class JpegSubsamplingTest : public JpegOutputTest,
                            public ::testing::WithParamInterface<SubsamplingCase> {};

TEST_P(JpegSubsamplingTest, WritesTheChosenSamplingFactors) {
    auto photo = test::MakePhotoLike(64, 48);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    m_engine.settings.JPEGChromaSubsampling = GetParam().setting;
    const test::JpegStructure jpeg = test::InspectJpeg(Encode());
    ASSERT_EQ(jpeg.components.size(), 3u);
    EXPECT_EQ(jpeg.components[0].horizontal, GetParam().lumaHorizontal);
    EXPECT_EQ(jpeg.components[0].vertical, GetParam().lumaVertical);
    EXPECT_EQ(jpeg.components[1].horizontal, 1);
    EXPECT_EQ(jpeg.components[1].vertical, 1);
}

INSTANTIATE_TEST_SUITE_P(Settings, JpegSubsamplingTest,
                         ::testing::Values(SubsamplingCase{0, 1, 1}, SubsamplingCase{1, 2, 1},
                                           SubsamplingCase{2, 2, 2}, SubsamplingCase{3, 4, 1}));

TEST_F(JpegOutputTest, BaselineIsOptimisedAndProgressiveIsProgressive) {
    auto photo = test::MakePhotoLike(160, 120);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    EXPECT_EQ(m_engine.JpegSaveFlags(), 75 | 0x20000 | 0x4000);

    const Bytes baseline = Encode();
    EXPECT_EQ(test::InspectJpeg(baseline).frameMarker, 0xC0);
    // Optimised Huffman tables make it smaller than the plain baseline encoding.
    Bitmap working(imagelib::FreeImage_Clone(m_engine.SourceBitmap.get()));
    const Bytes plain = test::EncodeWithLibrary(FIF_JPEG, working.get(), 75 | JPEG_SUBSAMPLING_420);
    EXPECT_LT(baseline.size(), plain.size());

    m_engine.settings.JPEGProgressive = true;
    EXPECT_EQ(test::InspectJpeg(Encode()).frameMarker, 0xC2);
}

TEST_F(JpegOutputTest, WrittenQualityReadsBackFromTheFile) {
    auto photo = test::MakePhotoLike(64, 48);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    for (int quality : {10, 33, 75, 92, 100}) {
        m_engine.settings.JPEGQuality = quality;
        const Bytes jpeg = Encode();
        EXPECT_NEAR(imagelib::EstimateJpegQuality(jpeg), quality, 1) << quality;
        imagelib::Bitmap decoded(imagelib::FreeImage_LoadFromBytes(
            imagelib::kFormatJpeg, jpeg, JPEG_ACCURATE | imagelib::kJpegLoadDetectQuality));
        EXPECT_NEAR(imagelib::FreeImage_GetJPEGQuality(decoded.get()), quality, 1) << quality;
    }
}

TEST_F(JpegOutputTest, QualityFlagsPassUnchanged) {
    auto photo = test::MakePhotoLike(32, 32);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    m_engine.settings.JPEGQuality = 1;
    EXPECT_EQ(m_engine.JpegSaveFlags() & 0x7F, 1);
    m_engine.settings.JPEGQuality = 100;
    EXPECT_EQ(m_engine.JpegSaveFlags() & 0x7F, 100);
    const Bytes best = Encode();
    m_engine.settings.JPEGQuality = 1;
    EXPECT_LT(Encode().size(), best.size());
}

TEST_F(JpegOutputTest, GreyscaleWritesOneComponent) {
    auto photo = test::MakePhotoLike(40, 40);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    m_engine.settings.AdjustGrayscale = true;
    m_engine.settings.JPEGChromaSubsampling = 0;
    const test::JpegStructure jpeg = test::InspectJpeg(Encode());
    ASSERT_EQ(jpeg.components.size(), 1u);
    EXPECT_EQ(jpeg.components[0].horizontal, 1);
}

TEST_F(JpegOutputTest, FileTargetWritesWhatMemoryWould) {
    auto photo = test::MakePhotoLike(50, 30);
    Load(test::EncodeWithLibrary(FIF_PNG, photo.get(), 0), "photo.png");
    const Bytes inMemory = Encode();
    const std::string target = m_dir.file("out.jpg");
    EXPECT_EQ(m_engine.OptimizeImage(target), inMemory.size());
    EXPECT_EQ(test::ReadFileBytes(target), inMemory);
    EXPECT_EQ(m_engine.OptimizeImage(m_dir.file("missing-folder/out.jpg")), 0u);
}

TEST_F(JpegOutputTest, InteractiveRunShowsTheDecodedResult) {
    auto photo = test::MakePhotoLike(50, 30);
    test::WriteFileBytes(m_dir.file("photo.png"), test::EncodeWithLibrary(FIF_PNG, photo.get(), 0));
    m_engine.options.AutomaticPreview = false;
    ASSERT_TRUE(m_engine.LoadImageFile(m_dir.file("photo.png")));
    m_engine.settings.Format = kFormatJpeg;
    EXPECT_GT(m_engine.OptimizeImage(""), 0u);
    ASSERT_TRUE(m_engine.WorkingBitmap);
    EXPECT_EQ(imagelib::FreeImage_GetOriginalBPP(m_engine.WorkingBitmap.get()), 24u);
    const auto& statuses = m_host.statusTexts;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Optimizing..."), statuses.end());
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Loading result"), statuses.end());
}

}  // namespace
}  // namespace pimo::engine
