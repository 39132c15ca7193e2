#pragma once
// A JPEG file at the level of its quantized DCT coefficients: read once, then
// written again any number of times with other quantization tables and other
// coefficients, keeping the file's markers (JFIF, Exif, ICC profile,
// comments), its size, colour space and chroma subsampling.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace pimo::imagelib {

/// One quantization table, in the natural (row by row) order of a block.
using QuantTable = std::array<std::uint16_t, 64>;

/// One component's blocks, each 64 coefficients in natural order, the
/// blocks row by row: the blocks that cover the component's samples (the
/// writer completes the last MCUs of a row or column itself).
struct CoefficientPlane {
    int hSampling = 1, vSampling = 1;  // the component's sampling factors
    unsigned widthInBlocks = 0, heightInBlocks = 0;
    int table = 0;  // the quantization table's slot in the file
    std::vector<std::int16_t> values;

    std::int16_t* block(unsigned bx, unsigned by) {
        return values.data() + (std::size_t{by} * widthInBlocks + bx) * 64;
    }
    const std::int16_t* block(unsigned bx, unsigned by) const {
        return values.data() + (std::size_t{by} * widthInBlocks + bx) * 64;
    }
};

class JpegCoefficients {
  public:
    /// Reads `bytes`; an empty object (see valid()) when they are no JPEG the
    /// library reads whole, or an image of other than 1 or 3 components.
    static JpegCoefficients Read(std::span<const std::uint8_t> bytes);

    JpegCoefficients();
    ~JpegCoefficients();
    JpegCoefficients(JpegCoefficients&&) noexcept;
    JpegCoefficients& operator=(JpegCoefficients&&) noexcept;

    bool valid() const;
    unsigned width() const;
    unsigned height() const;
    /// The largest sampling factors: one MCU covers 8 times these in pixels.
    int maxHSampling() const;
    int maxVSampling() const;
    /// The coefficients as read, quantized by the file's tables.
    const std::vector<CoefficientPlane>& planes() const;
    /// The file's table for `plane`.
    const QuantTable& tableOf(std::size_t plane) const;

    /// The same file with `planes` (as planes() in layout, quantized by
    /// `tables`, one per plane) in place of the coefficients read, Huffman
    /// tables made for them, baseline or progressive. Empty when the library
    /// fails or the planes do not match. Writes through the reader's own
    /// coefficient arrays: one call at a time per object.
    std::vector<std::uint8_t> Write(const std::vector<CoefficientPlane>& planes,
                                    const std::vector<QuantTable>& tables, bool progressive) const;

  private:
    struct Data;
    std::unique_ptr<Data> m_data;
};

}  // namespace pimo::imagelib
