#include "tests/imagelib/hostile_files.h"

#include <zlib.h>

#include <cstring>

#include "tests/imagelib/codec_fixtures.h"
#include "tests/support/libpng_reader.h"
#include "tests/support/test_images.h"

namespace pimo::test {

Bytes ProgressiveJpegDeclaring65000() {
    auto photo = MakePhotoLike(256, 256);
    Bytes jpeg = EncodeWithLibrary(FIF_JPEG, photo.get(), JPEG_PROGRESSIVE | JPEG_QUALITYSUPERB);
    for (std::size_t at = 2; at + 9 < jpeg.size();) {
        if (jpeg[at + 1] == 0xC2) {
            const std::uint8_t side[2] = {0xFD, 0xE8};  // 65000, big-endian
            std::memcpy(jpeg.data() + at + 5, side, 2);
            std::memcpy(jpeg.data() + at + 7, side, 2);
            break;
        }
        at += 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    return jpeg;
}

Bytes SunRasterBomb() {
    Bytes raster;
    for (std::uint32_t field : {0x59A66A95u, 48u, 33554465u, 24u, 0u, 2u /* RLE */, 0u, 0u})
        PutBe32(raster, field);
    // Runs of 256 black bytes: 0x80, count - 1, value.
    while (raster.size() + 3 <= 497) raster.insert(raster.end(), {0x80, 0xFF, 0x00});
    raster.resize(499, 0);
    return raster;
}

Bytes OneBitPng60000() {
    // Deflating 450 MB takes seconds: made once per test run.
    static const Bytes png = [] {
        constexpr std::uint32_t kSide = 60000;
        Bytes ihdr;
        PutBe32(ihdr, kSide);
        PutBe32(ihdr, kSide);
        ihdr.insert(ihdr.end(),
                    {1, 0, 0, 0, 0});  // depth 1, grey, deflate, no filter, no interlace

        // Streamed: the 450 MB of rows are never held at once.
        z_stream stream{};
        deflateInit(&stream, Z_BEST_COMPRESSION);
        const Bytes row(1 + kSide / 8, 0);  // filter byte "none" and 7500 black bytes
        Bytes idat;
        std::vector<std::uint8_t> chunk(1 << 16);
        for (std::uint32_t y = 0; y < kSide; ++y) {
            stream.next_in = const_cast<std::uint8_t*>(row.data());
            stream.avail_in = static_cast<uInt>(row.size());
            const int flush = y + 1 == kSide ? Z_FINISH : Z_NO_FLUSH;
            do {
                stream.next_out = chunk.data();
                stream.avail_out = static_cast<uInt>(chunk.size());
                deflate(&stream, flush);
                idat.insert(idat.end(), chunk.data(),
                            chunk.data() + (chunk.size() - stream.avail_out));
            } while (stream.avail_out == 0);
        }
        deflateEnd(&stream);

        Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        for (const Bytes& part :
             {PngChunk("IHDR", ihdr), PngChunk("IDAT", idat), PngChunk("IEND", {})}) {
            png.insert(png.end(), part.begin(), part.end());
        }
        return png;
    }();
    return png;
}

bool HasMarker(const Bytes& jpeg, std::uint8_t marker) {
    for (std::size_t at = 2; at + 3 < jpeg.size() && jpeg[at] == 0xFF;) {
        if (jpeg[at + 1] == marker) return true;
        if (jpeg[at + 1] == 0xDA) return false;
        at += 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    }
    return false;
}

bool PngRowsDecodeWithLibpng(const Bytes& bytes) {
    LibpngImage image;
    return DecodeWithLibpng(bytes, image, {LibpngPixels::Discard, /*anySize=*/true});
}

}  // namespace pimo::test

namespace pimo::test {

Bytes TruncatedXbm() {
    const std::string text = "#define a_width 8\n#define a_height 2\nstatic char a_bits[] = {\n 0";
    return Bytes(text.begin(), text.end());
}

}  // namespace pimo::test
