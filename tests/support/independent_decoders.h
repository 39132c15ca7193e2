#pragma once
// Decoders that do not go through the image library, to check what our
// encoders wrote: libpng for PNG, giflib for GIF, libjpeg for JPEG.

#include <cstdint>
#include <string>
#include <vector>

namespace pimo::test {

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

struct DecodedPng {
    bool valid = false;
    int width = 0, height = 0;
    int colorType = -1, bitDepth = 0, interlace = 0;
    int paletteSize = 0;
    std::vector<std::uint8_t> transparency;  // tRNS entries of a palette image
    std::vector<std::string> chunks;         // every chunk name, in file order
    std::vector<std::string> textKeywords;   // keywords of tEXt, zTXt and iTXt chunks
    std::vector<std::uint8_t> indices;       // palette images: the index of each pixel
    std::vector<Rgba> pixels;                // every image: expanded to 8-bit RGBA
    bool hasChunk(const std::string& name) const;
    bool hasText(const std::string& keyword) const;
};

/// A small but valid RGB display ICC profile (header and an empty tag table),
/// accepted by libpng's profile checks.
std::vector<std::uint8_t> MakeIccProfile();

DecodedPng DecodePng(const std::vector<std::uint8_t>& bytes);

struct DecodedGif {
    bool valid = false;
    int width = 0, height = 0;
    int imageCount = 0;
    bool interlaced = false;
    int colorCount = 0;  // size of the colour map the image uses
    int transparentIndex = -1;
    bool hasLoopBlock = false;  // NETSCAPE2.0 application extension
    std::vector<Rgba> colorMap;
    std::vector<std::uint8_t> indices;  // in display order, rows top to bottom
};

DecodedGif DecodeGif(const std::vector<std::uint8_t>& bytes);

struct DecodedJpeg {
    bool valid = false;
    int width = 0, height = 0;
    int components = 0;        // as stored: 1 grey, 3 colour
    std::vector<Rgba> pixels;  // rows top to bottom, grey expanded to RGB
};

DecodedJpeg DecodeJpeg(const std::vector<std::uint8_t>& bytes);

}  // namespace pimo::test
