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

Bytes PsdRowPastItsEnd() {
    Bytes psd = {'8', 'B', 'P', 'S'};
    PutBe16(psd, 1);              // version
    psd.insert(psd.end(), 6, 0);  // reserved
    PutBe16(psd, 1);              // channels
    PutBe32(psd, 1);              // rows
    PutBe32(psd, 1);              // columns
    PutBe16(psd, 8);              // bits per channel
    PutBe16(psd, 1);              // greyscale
    // Colour mode data, image resources, layers and masks: all empty.
    for (int section = 0; section < 3; ++section) PutBe32(psd, 0);
    PutBe16(psd, 1);  // RLE
    // The bad field: the one-byte row is packed as a literal packet of two
    // bytes, then a literal packet of one. The decoder clamps each packet's
    // copy to what is left of the row but always moves on by the packet's
    // full length, so the second packet starts one past the row's end and is
    // copied with the length (row end - position) = -1: memcpy of SIZE_MAX
    // bytes. With glibc it writes a few hundred bytes around the row buffer
    // and the process aborts in the allocator; elsewhere it faults.
    const Bytes row = {0x01, 0xAA, 0xBB, 0x00, 0xCC};
    PutBe16(psd, static_cast<std::uint32_t>(row.size()));  // the row's packed length
    psd.insert(psd.end(), row.begin(), row.end());
    return psd;
}

Bytes PictRunPastTheBitmap() {
    const auto rect = [](Bytes& out, std::uint32_t bottom, std::uint32_t right) {
        for (std::uint32_t value : {0u, 0u, bottom, right}) PutBe16(out, value);
    };
    constexpr std::uint32_t kWidth = 8;
    Bytes pict(512, 0);  // the unused file header
    PutBe16(pict, 0);    // picture size (version 1 field, ignored)
    rect(pict, 1, kWidth);
    pict.insert(pict.end(), {0x11, 0x01});  // version 1: one-byte opcodes
    pict.push_back(0x98);                   // PackBitsRect
    PutBe16(pict, 0x8000 | kWidth);         // row bytes; the high bit says pixel map
    rect(pict, 1, kWidth);                  // bounds: one row of 8 pixels
    // The pixel map: version, pack type, pack size, 72 dpi twice, pixel type,
    // 8 bits per pixel in one component, plane bytes, table, reserved.
    for (std::uint32_t field : {0u, 0u}) PutBe16(pict, field);
    for (std::uint32_t field : {0u, 72u << 16, 72u << 16}) PutBe32(pict, field);
    for (std::uint32_t field : {0u, 8u, 1u, 8u}) PutBe16(pict, field);
    for (std::uint32_t field : {0u, 0u, 0u}) PutBe32(pict, field);
    // The colour table: seed, flags, entries - 1, then one entry (index, RGB).
    PutBe32(pict, 0);
    for (std::uint32_t field : {0u, 0u, 0u, 0xFFFFu, 0xFFFFu, 0xFFFFu}) PutBe16(pict, field);
    rect(pict, 1, kWidth);  // source
    rect(pict, 1, kWidth);  // destination
    PutBe16(pict, 0);       // transfer mode
    // The bad field: the row's literal packet (0x7F: 128 bytes follow) is
    // sixteen times the size of its row of 8 bytes. The decoder unpacks an
    // 8-bit row straight into the bitmap, reading a literal packet with one
    // read of its whole length, so the read callback writes 120 bytes past
    // the last row, over the next heap block's header: the allocator aborts
    // when the bitmap is freed (or the heap is silently corrupted).
    constexpr std::uint32_t kRun = 128;
    pict.push_back(static_cast<std::uint8_t>(1 + kRun));  // the row's packed length
    pict.push_back(static_cast<std::uint8_t>(kRun - 1));
    pict.insert(pict.end(), kRun, 0x55);
    return pict;
}

}  // namespace pimo::test
