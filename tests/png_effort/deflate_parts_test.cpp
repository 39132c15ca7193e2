// Zopfli over parts compressed at once and joined into one zlib stream, and
// trials run in batches over the cores: zlib's own inflate reads every stream
// back, and a batch must choose as trying its candidates in order would.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "engine/imagelib/png_trials.h"
#include "engine/imagelib/zopfli_parts.h"
#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

using namespace imagelib::png;

// ---- joining bit streams ---------------------------------------------------

// Bits least significant first, one per element: a plain model of deflate's
// packing to hold AppendBits against.
std::vector<bool> BitsOf(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    std::vector<bool> bits;
    for (std::size_t i = 0; i < count; ++i) bits.push_back((bytes[i / 8] >> (i % 8)) & 1);
    return bits;
}

struct AppendCase {
    unsigned toBits;   // bits already in the last byte of the target
    std::size_t bits;  // bits appended
};

TEST(ZopfliParts, AppendBitsPacksLikeOneStream) {
    const std::vector<std::uint8_t> source = {0xA5, 0x3C, 0xFF, 0x01, 0x80, 0x5A};
    const std::vector<AppendCase> cases = {{0, 0},  {0, 5},  {0, 16}, {0, 45}, {3, 0},
                                           {3, 5},  {3, 8},  {3, 21}, {7, 1},  {7, 9},
                                           {7, 48}, {1, 47}, {5, 3}};
    for (const AppendCase& c : cases) {
        SCOPED_TRACE("to " + std::to_string(c.toBits) + " bits, appending " +
                     std::to_string(c.bits));
        // A target of one full byte and then toBits bits of a pattern.
        std::vector<std::uint8_t> target = {0x6B};
        std::size_t targetBits = 8;
        if (c.toBits > 0) {
            target.push_back(static_cast<std::uint8_t>(0x55 & ((1u << c.toBits) - 1)));
            targetBits += c.toBits;
        }
        std::vector<bool> expected = BitsOf(target, targetBits);
        const std::vector<bool> appended = BitsOf(source, c.bits);
        expected.insert(expected.end(), appended.begin(), appended.end());

        const unsigned left = AppendBits(target, c.toBits, source, c.bits);
        EXPECT_EQ(left, expected.size() % 8);
        EXPECT_EQ(target.size(), (expected.size() + 7) / 8);
        EXPECT_EQ(BitsOf(target, expected.size()), expected);
        // Bits past the end stay clear, as the stream's padding must be.
        if (left != 0) {
            EXPECT_EQ(target.back() >> left, 0);
        }
    }
}

// ---- where the data is cut ---------------------------------------------------

struct CutCase {
    std::size_t size, partBytes, unit;
    std::vector<std::size_t> ends;
};

TEST(ZopfliParts, PartEndsFallOnUnitsNearEqualShares) {
    const std::vector<CutCase> cases = {
        {10, 100, 1, {10}},  // smaller than one part
        {3000, 1000, 1, {1000, 2000, 3000}},
        {2400, 1000, 1, {1200, 2400}},        // the rest shared, not a small last part
        {3000, 1000, 7, {1001, 2002, 3000}},  // on rows of 7 bytes
        {100, 10, 40, {40, 80, 100}},         // rows longer than a part: one row each
        {1, 1000, 1, {1}},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + "/" + std::to_string(c.partBytes) + "/" +
                     std::to_string(c.unit));
        EXPECT_EQ(PartEnds(c.size, c.partBytes, c.unit), c.ends);
    }
}

// ---- the joined stream ---------------------------------------------------------

Bytes Inflated(const Bytes& stream, std::size_t size) {
    Bytes out(size + 1);
    uLongf outSize = static_cast<uLongf>(out.size());
    const int result = ::uncompress(out.data(), &outSize, stream.data(), stream.size());
    EXPECT_EQ(result, Z_OK) << "zlib could not inflate the stream";
    out.resize(outSize);
    return out;
}

TEST(ZopfliParts, PartsJoinIntoOneStreamThatRefersAcrossThem) {
    // A block of noise repeated: every part after the first is a copy of data
    // before it, which costs next to nothing only when parts see back.
    std::mt19937 rng(3);
    Bytes block(3000);
    for (std::uint8_t& b : block) b = static_cast<std::uint8_t>(rng());
    Bytes data;
    for (int i = 0; i < 8; ++i) data.insert(data.end(), block.begin(), block.end());
    data.insert(data.end(), block.begin(), block.begin() + 1234);  // an odd tail

    const Bytes stream = ZopfliZlibStream(data, 2, 3000, 1);
    EXPECT_EQ(Inflated(stream, data.size()), data);
    EXPECT_LT(stream.size(), 2 * block.size());
    EXPECT_EQ(ZopfliZlibStream(data, 2, 3000, 1), stream) << "not the same on a second run";
}

TEST(ZopfliParts, ManyPartsOfMixedDataInflateExactly) {
    // Runs, text-like repeats and noise: parts end at every bit offset, and
    // zopfli stores some noise as it is, in blocks that must start on a byte.
    std::mt19937 rng(11);
    Bytes data;
    while (data.size() < 200 * 1000) {
        const unsigned kind = rng() % 3;
        const std::size_t n = 50 + rng() % 900;
        for (std::size_t i = 0; i < n; ++i) {
            data.push_back(kind == 0   ? std::uint8_t(0x20)
                           : kind == 1 ? std::uint8_t("pixel rows "[i % 11])
                                       : static_cast<std::uint8_t>(rng()));
        }
    }
    const Bytes stream = ZopfliZlibStream(data, 1, 7 * 1000, 13);
    EXPECT_EQ(Inflated(stream, data.size()), data);
}

// ---- trials in batches ----------------------------------------------------------

PngImage Gradient(std::uint32_t width, std::uint32_t height) {
    PngImage image;
    image.width = width;
    image.height = height;
    image.colourType = ColourType::kRgb;
    image.bitDepth = 8;
    image.pixels.resize(image.RowBytes() * height);
    std::mt19937 rng(5);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < image.RowBytes(); ++i)
            image.Row(y)[i] = static_cast<std::uint8_t>(i / 3 + y * 2 + (rng() % 4));
    }
    return image;
}

DeflateMethod Zlib(int level, int strategy) {
    return DeflateMethod{DeflateMethod::Engine::kZlib, level, strategy, 8, 0};
}

TEST(TrialBatches, ChooseAsTryingInOrderWould) {
    const PngImage image = Gradient(300, 200);
    const std::vector<Candidate> candidates = {
        {FilterStrategy::kNone, Zlib(9, Z_DEFAULT_STRATEGY)},
        {FilterStrategy::kSub, Zlib(9, Z_HUFFMAN_ONLY)},
        {FilterStrategy::kUp, Zlib(9, Z_FILTERED)},
        {FilterStrategy::kMinSum, Zlib(9, Z_RLE)},
        {FilterStrategy::kPaeth, Zlib(6, Z_FILTERED)},
        {FilterStrategy::kAverage, Zlib(1, Z_DEFAULT_STRATEGY)},
    };
    TrialEvaluator inOrder(image, SIZE_MAX);
    for (const Candidate& candidate : candidates) inOrder.Try(candidate);
    TrialEvaluator batched(image, SIZE_MAX);
    batched.TryAll(candidates);
    ASSERT_TRUE(inOrder.Best() && batched.Best());
    EXPECT_EQ(batched.Best()->candidate, inOrder.Best()->candidate);
    EXPECT_EQ(batched.Best()->stream, inOrder.Best()->stream);
    for (const Candidate& candidate : candidates) EXPECT_TRUE(batched.Tried(candidate));
    // Not one of them is larger: the winner is the smallest of all.
    for (const Candidate& candidate : candidates) {
        const std::size_t size =
            DeflatedStream(FilteredImageData(image, candidate.filter), candidate.deflate, SIZE_MAX)
                ->size();
        EXPECT_LE(batched.Best()->stream.size(), size);
    }
}

TEST(TrialBatches, TiesGoToTheEarlierCandidateAndToTheBestBefore) {
    // Rows filtered "as input" with Sub on every row are the Sub data itself:
    // the two candidates make the same stream.
    PngImage image = Gradient(64, 40);
    image.inputFilters.assign(image.height, 1);
    const Candidate sub{FilterStrategy::kSub, Zlib(9, Z_FILTERED)};
    const Candidate asInput{FilterStrategy::kAsInput, Zlib(9, Z_FILTERED)};
    // Stored data between them puts the pair into separate groups of filters.
    const Candidate storedNone{FilterStrategy::kNone, Zlib(0, Z_DEFAULT_STRATEGY)};
    const Candidate storedUp{FilterStrategy::kUp, Zlib(0, Z_DEFAULT_STRATEGY)};
    for (const auto& order : {std::vector{sub, asInput}, std::vector{asInput, sub},
                              std::vector{asInput, storedNone, storedUp, sub}}) {
        TrialEvaluator evaluator(image, SIZE_MAX);
        evaluator.TryAll(order);
        ASSERT_TRUE(evaluator.Best());
        EXPECT_EQ(evaluator.Best()->candidate, order.front());
    }
    // A later batch does not replace an equal stream found before it.
    TrialEvaluator evaluator(image, SIZE_MAX);
    evaluator.Try(asInput);
    const std::vector<Candidate> later = {sub,
                                          {FilterStrategy::kNone, Zlib(0, Z_DEFAULT_STRATEGY)}};
    evaluator.TryAll(later);
    ASSERT_TRUE(evaluator.Best());
    EXPECT_EQ(evaluator.Best()->candidate, asInput);
}

TEST(TrialBatches, NothingAtOrAboveTheBoundIsKept) {
    const PngImage image = Gradient(100, 50);
    const std::vector<Candidate> candidates = {{FilterStrategy::kNone, Zlib(9, Z_HUFFMAN_ONLY)},
                                               {FilterStrategy::kUp, Zlib(9, Z_RLE)}};
    TrialEvaluator evaluator(image, 16);
    evaluator.TryAll(candidates);
    EXPECT_FALSE(evaluator.Best());
}

TEST(TrialBatches, ZopfliOverRowsOfALargeImageInflatesToTheFilteredRows) {
    // Above one part, so that several parts are joined, cut between rows.
    const PngImage image = Gradient(700, 600);
    ASSERT_GT(image.pixels.size(), kZopfliPartBytes);
    TrialEvaluator evaluator(image, SIZE_MAX);
    const std::vector<Candidate> zopfli = {
        {FilterStrategy::kSub, DeflateMethod{DeflateMethod::Engine::kZopfli, 0, 0, 0, 1}}};
    evaluator.TryAll(zopfli);
    ASSERT_TRUE(evaluator.Best());
    const Bytes filtered = FilteredImageData(image, FilterStrategy::kSub);
    EXPECT_EQ(Inflated(evaluator.Best()->stream, filtered.size()), filtered);
}

}  // namespace
}  // namespace pimo::test
