#pragma once
// Encoded files made in code for the repair tests: BMP files with any header
// the format allows, JPEG files written by libjpeg itself (CMYK with and
// without the Adobe marker, extra APP segments), PNG files assembled chunk by
// chunk, EXIF blocks and a small TIFF.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pimo::test {

using Bytes = std::vector<std::uint8_t>;

// ---- BMP ---------------------------------------------------------------------

struct BmpSpec {
    std::uint32_t headerSize = 124;  // 40, 52, 56, 108 or 124
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows stored top-down
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;         // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS, 6 ALPHABITFIELDS
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    std::vector<std::array<std::uint8_t, 3>> palette;  // red, green, blue
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    Bytes profile;  // embedded ICC profile (124-byte header only)
    // One value per pixel in file row order (the first row is the bottom one
    // unless the height is negative): a palette index, or the packed pixel
    // (0xRRGGBB for 24 bits, the raw 16- or 32-bit word otherwise).
    std::vector<std::uint32_t> values;
    Bytes rawPixels;  // when not empty, written as the pixel data as it is (RLE)
};

/// A complete BMP file. The masks go into the header for sizes 52 and more,
/// and after a 40-byte header when the compression is a bit-field one.
Bytes BuildBmp(const BmpSpec& shape);

// ---- JPEG (libjpeg) ------------------------------------------------------------

struct JpegFixture {
    int width = 8;
    int height = 8;
    int components = 3;  // 1 grey, 3 RGB, 4 CMYK
    int quality = 90;
    bool baseline = true;     // false lets libjpeg write 16-bit tables at low qualities
    bool ycck = false;        // store the four components as YCCK (Adobe transform 2)
    bool adobeMarker = true;  // libjpeg writes it for CMYK unless told not to
    std::vector<std::pair<int, Bytes>> markers;  // (marker code, payload) after the headers
    // The stored sample of component c at (x, y), y counted from the top.
    std::function<std::uint8_t(int x, int y, int c)> sample;
};

/// A JPEG written by libjpeg with its standard quantisation tables scaled to
/// `quality`. Throws std::runtime_error when libjpeg refuses.
Bytes EncodeJpeg(const JpegFixture& shape);

/// What libjpeg itself reads from a JPEG's headers.
struct JpegFacts {
    int components = 0;
    bool adobeMarker = false;
    int adobeTransform = -1;
};
JpegFacts ReadJpegFacts(const Bytes& jpeg);

/// The JPEG without its segments of type `marker` (0xDB: the quantisation tables).
Bytes WithoutSegments(const Bytes& jpeg, std::uint8_t marker);
/// An APP2 payload carrying a whole ICC profile.
Bytes IccApp2Payload(const Bytes& profile);

// ---- PNG (chunk by chunk) ------------------------------------------------------

/// A PNG chunk with its length and CRC.
Bytes PngChunk(const std::string& type, const Bytes& data);
/// zlib stream of `data`.
Bytes Deflate(const Bytes& data);
/// An 8-bit RGB PNG of `width` x `height` pixels, colour(x, y) = 0xRRGGBB,
/// with `extraChunks` (complete chunks) between IHDR and IDAT.
Bytes BuildRgbPng(int width, int height, const std::function<std::uint32_t(int, int)>& colour,
                  const std::vector<Bytes>& extraChunks = {});
/// The payload of an iCCP chunk: name, NUL, method 0, compressed profile.
Bytes IccpPayload(const std::string& name, const Bytes& profile);
/// A small ICC profile (XYZ connection space) that libpng accepts for an RGB
/// image, with `marker` inside its copyright text so that two profiles can be
/// told apart. The text is long enough that the compressed chunk is not
/// refused by libpng 1.6 as "too short".
Bytes MakeIccProfile(const std::string& marker, const char* colourSpace = "RGB ");

// ---- EXIF ------------------------------------------------------------------------

/// An APP1 payload "Exif\0\0" + TIFF structure in the given byte order with
/// IFD0 holding Orientation (and a Software text so that the tag is not alone).
Bytes BuildExifApp1(bool bigEndian, std::uint16_t orientation);
/// The Orientation value in an EXIF block (with or without the "Exif\0\0"
/// prefix), 0 when there is none.
std::uint16_t ExifOrientationIn(const Bytes& exif);

// ---- TIFF ------------------------------------------------------------------------

/// An uncompressed 8-bit RGB TIFF (little-endian), optionally carrying a
/// private tag the codec library does not know.
Bytes BuildRgbTiff(int width, int height, bool withUnknownTag);

// ---- byte helpers ---------------------------------------------------------------

void PutLe16(Bytes& out, std::uint32_t value);
void PutLe32(Bytes& out, std::uint32_t value);
void PutBe16(Bytes& out, std::uint32_t value);
void PutBe32(Bytes& out, std::uint32_t value);

}  // namespace pimo::test
