#include "engine/imagelib/png_effort.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>

#include "engine/imagelib/png_chunks_io.h"
#include "engine/imagelib/png_image.h"
#include "engine/imagelib/png_reductions.h"
#include "engine/imagelib/png_trials.h"

namespace pimo::imagelib {

namespace {

using png::Bytes;
using png::Candidate;
using png::Chunk;
using png::DeflateMethod;
using png::FilterStrategy;
using png::PngImage;

// Chunks that must come before PLTE when there is one.
bool PrecedesPalette(png::ChunkType type) {
    static constexpr std::array<png::ChunkType, 8> kTypes = {
        png::ChunkTypeOf("cHRM"), png::ChunkTypeOf("gAMA"), png::ChunkTypeOf("iCCP"),
        png::ChunkTypeOf("sBIT"), png::ChunkTypeOf("sRGB"), png::ChunkTypeOf("cICP"),
        png::ChunkTypeOf("mDCV"), png::ChunkTypeOf("cLLI")};
    return std::find(kTypes.begin(), kTypes.end(), type) != kTypes.end();
}

bool IsLayoutChunk(png::ChunkType type) {
    return type == png::kIHDR || type == png::kPLTE || type == png::ktRNS || type == png::kbKGD ||
           type == png::kIDAT || type == png::kIEND;
}

bool IsKnownCritical(png::ChunkType type) {
    return type == png::kIHDR || type == png::kPLTE || type == png::kIDAT || type == png::kIEND;
}

// Chunks whose meaning depends on the pixel layout in ways the reductions do
// not translate: with one of them the layout stays as it is.
bool BindsLayout(png::ChunkType type) {
    if (type == png::khIST || type == png::ksBIT) return true;
    static constexpr std::array<png::ChunkType, 17> kKnownAncillary = {
        png::ChunkTypeOf("cHRM"), png::ChunkTypeOf("gAMA"), png::ChunkTypeOf("iCCP"),
        png::ChunkTypeOf("sRGB"), png::ChunkTypeOf("cICP"), png::ChunkTypeOf("mDCV"),
        png::ChunkTypeOf("cLLI"), png::ChunkTypeOf("pHYs"), png::ChunkTypeOf("sPLT"),
        png::ChunkTypeOf("tIME"), png::ChunkTypeOf("tEXt"), png::ChunkTypeOf("zTXt"),
        png::ChunkTypeOf("iTXt"), png::ChunkTypeOf("eXIf"), png::ChunkTypeOf("oFFs"),
        png::ChunkTypeOf("pCAL"), png::ChunkTypeOf("sCAL")};
    const bool known =
        IsLayoutChunk(type) ||
        std::find(kKnownAncillary.begin(), kKnownAncillary.end(), type) != kKnownAncillary.end();
    // An unknown chunk that is not safe to copy may describe the pixels.
    return !known && !png::IsSafeToCopy(type);
}

// The new file around the image data: everything before IDAT and after it.
struct Envelope {
    Bytes head;
    Bytes tail;
};

Envelope EnvelopeFor(const std::vector<Chunk>& chunks, const PngImage& image) {
    Envelope envelope;
    Bytes& head = envelope.head;
    head.assign(png::PngSignature().begin(), png::PngSignature().end());
    png::AppendChunk(head, png::kIHDR, png::HeaderChunkData(image));
    const auto firstData = std::find_if(chunks.begin(), chunks.end(),
                                        [](const Chunk& c) { return c.type == png::kIDAT; });
    for (auto it = chunks.begin(); it != firstData; ++it) {
        if (PrecedesPalette(it->type)) png::AppendChunk(head, it->type, it->data);
    }
    const std::array<std::pair<png::ChunkType, Bytes>, 3> layout = {{
        {png::kPLTE, png::PaletteChunkData(image)},
        {png::ktRNS, png::TransparencyChunkData(image)},
        {png::kbKGD, png::BackgroundChunkData(image)},
    }};
    for (const auto& [type, data] : layout) {
        if (!data.empty()) png::AppendChunk(head, type, data);
    }
    for (auto it = chunks.begin(); it != firstData; ++it) {
        if (!PrecedesPalette(it->type) && !IsLayoutChunk(it->type))
            png::AppendChunk(head, it->type, it->data);
    }
    for (auto it = firstData; it != chunks.end(); ++it) {
        if (!IsLayoutChunk(it->type)) png::AppendChunk(envelope.tail, it->type, it->data);
    }
    png::AppendChunk(envelope.tail, png::kIEND, {});
    return envelope;
}

DeflateMethod Zlib(int level, int strategy, int memLevel) {
    return DeflateMethod{DeflateMethod::Engine::kZlib, level, strategy, memLevel, 0};
}

DeflateMethod Zopfli(int iterations) {
    return DeflateMethod{DeflateMethod::Engine::kZopfli, 0, 0, 0, iterations};
}

// Images of indices or sub-byte samples: filtering rarely pays, and the
// unfiltered data is one of their first trials.
bool IsIndexed(const PngImage& image) {
    return image.colourType == png::ColourType::kPalette || image.bitDepth < 8;
}

// Unfiltered data compresses best with zlib's general matching, filtered
// data with its preference for short matches.
int NaturalStrategy(FilterStrategy filter) {
    return filter == FilterStrategy::kNone ? Z_DEFAULT_STRATEGY : Z_FILTERED;
}
int OtherStrategy(FilterStrategy filter) {
    return filter == FilterStrategy::kNone ? Z_FILTERED : Z_DEFAULT_STRATEGY;
}

// Below this many bytes of pixels every trial is cheap.
constexpr std::size_t kSmallImageBytes = 64 * 1024;
// Above this many bytes of pixels, the highest level keeps its zlib passes
// few and leaves the work to zopfli.
constexpr std::size_t kLargeImageBytes = 4 * 1024 * 1024;
// Up to this many bytes of pixels, layouts other than the fully reduced one
// are tried too.
constexpr std::size_t kAlternativeLayoutBytes = 128 * 1024;

// Probes compress a band of rows this large from the middle of the image.
constexpr std::size_t kProbeSampleBytes = 256 * 1024;

// The probes that rank filters for the strongest zlib trials: a fast one for
// the high level, a closer one for the highest.
const DeflateMethod kRankingProbe = {DeflateMethod::Engine::kZlib, 4, Z_FILTERED, 8, 0};
const DeflateMethod kStrongRankingProbe = {DeflateMethod::Engine::kZlib, 6, Z_FILTERED, 8, 0};

// Huffman coding alone, or with runs only: fast, and the best there is for
// noisy, photograph-like data, where matching strings finds little. The
// memory level sets the block size and so how often the codes adapt.
void TryEntropyCoders(png::TrialEvaluator& evaluator, std::span<const FilterStrategy> filters,
                      std::initializer_list<int> memLevels) {
    std::vector<Candidate> candidates;
    for (const FilterStrategy filter : filters) {
        for (const int memLevel : memLevels) {
            candidates.push_back(Candidate{filter, Zlib(9, Z_HUFFMAN_ONLY, memLevel)});
            candidates.push_back(Candidate{filter, Zlib(9, Z_RLE, memLevel)});
        }
    }
    evaluator.TryAll(candidates);
}

// The filter of the best trial so far.
FilterStrategy Leader(const png::TrialEvaluator& evaluator) {
    return evaluator.Best() ? evaluator.Best()->candidate.filter : FilterStrategy::kMinSum;
}

// Zopfli rounds by the size of the data. Its parts run on all cores, and
// beyond the first few rounds cost less than the matching they refine, so a
// large image keeps enough rounds to beat a single-threaded run of more; data
// beyond 256 MiB gets a single round.
int ZopfliIterations(std::size_t rawBytes) {
    constexpr std::size_t kMiB = std::size_t(1) << 20;
    if (rawBytes <= 200 * 1024) return 15;
    if (rawBytes <= kMiB) return 10;
    return rawBytes <= 64 * kMiB ? 8 : 1;
}

// The input file's own row filters, when the layout kept them.
void AddInputFilters(const PngImage& image, std::vector<FilterStrategy>& filters) {
    if (!image.inputFilters.empty()) filters.push_back(FilterStrategy::kAsInput);
}

// Whether the best stream so far matches strings, rather than coding
// entropy alone: the full passes of the medium level have said so for the
// whole image.
bool MatchingPays(const png::TrialEvaluator& evaluator) {
    if (!evaluator.Best()) return true;
    const DeflateMethod& method = evaluator.Best()->candidate.deflate;
    return method.engine == DeflateMethod::Engine::kZopfli ||
           (method.strategy != Z_HUFFMAN_ONLY && method.strategy != Z_RLE);
}

// Level 1, medium: unfiltered data and the adaptive filters (minimum sum,
// and for images of whole-byte colours entropy too), each entropy-coded and
// deflated at full strength with the zlib strategy that suits it; then, when
// matching strings paid, the other strategy on the filter that led. A small
// image gets both strategies on every filter, as that costs next to nothing.
// The input's own filters are tried on a small image only: a large file
// from a common encoder filters by minimum sum already.
void RunMediumTrials(png::TrialEvaluator& evaluator, const PngImage& image) {
    std::vector<FilterStrategy> filters =
        IsIndexed(image)
            ? std::vector{FilterStrategy::kNone, FilterStrategy::kMinSum}
            : std::vector{FilterStrategy::kNone, FilterStrategy::kMinSum, FilterStrategy::kEntropy};
    const bool small = image.pixels.size() <= kSmallImageBytes;
    if (small) AddInputFilters(image, filters);
    // The entropy coders first: they are quick and set the size at which the
    // full passes stop.
    TryEntropyCoders(evaluator, filters, {8});
    std::vector<Candidate> passes;
    for (const FilterStrategy filter : filters) {
        passes.push_back(Candidate{filter, Zlib(9, NaturalStrategy(filter), 8)});
        if (small) passes.push_back(Candidate{filter, Zlib(9, OtherStrategy(filter), 8)});
    }
    evaluator.TryAll(passes);
    if (!MatchingPays(evaluator)) return;
    const FilterStrategy leader = Leader(evaluator);
    evaluator.Try(Candidate{leader, Zlib(9, OtherStrategy(leader), 8)});
}

// Every fixed filter and the cheap heuristics.
std::vector<FilterStrategy> CheapFilters(const PngImage& image) {
    std::vector<FilterStrategy> filters = {FilterStrategy::kNone,    FilterStrategy::kSub,
                                           FilterStrategy::kUp,      FilterStrategy::kAverage,
                                           FilterStrategy::kPaeth,   FilterStrategy::kMinSum,
                                           FilterStrategy::kEntropy, FilterStrategy::kBigrams};
    AddInputFilters(image, filters);
    return filters;
}

// Level 4, high: the medium trials, then every fixed filter and cheap
// heuristic entropy-coded. Noisy data gets more entropy-coder block sizes;
// other data one more full-strength zlib pass, on the best-ranked filter not
// yet tried. Returns whether matching pays, for the level above.
bool RunHighTrials(png::TrialEvaluator& evaluator, const PngImage& image) {
    RunMediumTrials(evaluator, image);
    const std::vector<FilterStrategy> filters = CheapFilters(image);
    TryEntropyCoders(evaluator, filters, {8});
    if (!MatchingPays(evaluator)) {
        const std::array<FilterStrategy, 1> best = {Leader(evaluator)};
        TryEntropyCoders(evaluator, best, {6, 7, 9});
        return false;
    }
    for (const png::RankedFilter& ranked :
         png::FiltersRanked(image, filters, kRankingProbe, kProbeSampleBytes)) {
        const Candidate candidate{ranked.filter, Zlib(9, NaturalStrategy(ranked.filter), 8)};
        if (evaluator.Tried(candidate)) continue;
        evaluator.Try(candidate);
        break;
    }
    return true;
}

// Level 9, highest: the high trials, then brute-force filtering too (a large
// image goes from the medium trials to zopfli). Noisy
// data gets every entropy-coder block size; other data both zlib strategies
// and memory levels on the three best-ranked filters, then zopfli.
void RunHighestTrials(png::TrialEvaluator& evaluator, const PngImage& image) {
    const bool large = image.pixels.size() > kLargeImageBytes;
    if (large) {
        // Zopfli takes minutes here, and the zlib passes beyond the medium
        // ones would only refine its choice of filter: when matching pays,
        // zopfli goes straight to the medium level's leading filter.
        RunMediumTrials(evaluator, image);
        if (MatchingPays(evaluator)) {
            evaluator.Try(
                Candidate{Leader(evaluator), Zopfli(ZopfliIterations(image.pixels.size()))});
            return;
        }
    }
    const bool matchingPays = RunHighTrials(evaluator, image);
    // Brute force deflates every row five times: on a large image that costs
    // more than it has ever won.
    const std::array<FilterStrategy, 1> bruteForce = {FilterStrategy::kBruteForce};
    if (!large) TryEntropyCoders(evaluator, bruteForce, {7, 8, 9});
    if (!matchingPays) {
        const std::array<FilterStrategy, 1> best = {Leader(evaluator)};
        TryEntropyCoders(evaluator, best, {4, 5, 6, 7, 9});
        return;
    }
    std::vector<FilterStrategy> filters = CheapFilters(image);
    if (!large) filters.push_back(FilterStrategy::kBruteForce);
    const std::vector<png::RankedFilter> ranked =
        png::FiltersRanked(image, filters, kStrongRankingProbe, kProbeSampleBytes);
    // On a large image these passes only choose the filter for zopfli, and
    // each costs seconds: the two best-ranked filters get one pass each.
    std::vector<Candidate> grid;
    for (std::size_t i = 0; i < (large ? 2u : 3u); ++i) {
        if (large) {
            grid.push_back(
                Candidate{ranked[i].filter, Zlib(9, NaturalStrategy(ranked[i].filter), 9)});
            continue;
        }
        for (const int memLevel : {8, 9}) {
            grid.push_back(
                Candidate{ranked[i].filter, Zlib(9, NaturalStrategy(ranked[i].filter), memLevel)});
            grid.push_back(
                Candidate{ranked[i].filter, Zlib(9, OtherStrategy(ranked[i].filter), memLevel)});
        }
    }
    evaluator.TryAll(grid);
    // Zopfli on the filter zlib did best with, and on a small image also on
    // the best-ranked one: its rounds cost seconds per megabyte.
    const int iterations = ZopfliIterations(image.pixels.size());
    const FilterStrategy leader = Leader(evaluator);
    evaluator.Try(Candidate{leader, Zopfli(iterations)});
    if (image.pixels.size() <= kSmallImageBytes && ranked[0].filter != leader) {
        evaluator.Try(Candidate{ranked[0].filter, Zopfli(iterations)});
    }
}

void RunTrials(png::TrialEvaluator& evaluator, const PngImage& image, int level) {
    if (level <= 1) {
        RunMediumTrials(evaluator, image);
    } else if (level <= 4) {
        RunHighTrials(evaluator, image);
    } else {
        RunHighestTrials(evaluator, image);
    }
}

#ifndef NDEBUG
bool SamePixels(const PngImage& a, const PngImage& b) {
    return a.width == b.width && a.height == b.height &&
           png::ExpandedRgba16(a) == png::ExpandedRgba16(b);
}
#endif

bool SameLayout(const PngImage& a, const PngImage& b) {
    return a.colourType == b.colourType && a.bitDepth == b.bitDepth && a.palette == b.palette &&
           a.colourKey == b.colourKey && a.inputFilters == b.inputFilters;
}

// The smallest file the trials find for `image`, when it is smaller than
// `sizeToBeat` bytes.
std::optional<Bytes> SmallestFile(const std::vector<Chunk>& chunks, const PngImage& image,
                                  int level, std::size_t sizeToBeat) {
    const Envelope envelope = EnvelopeFor(chunks, image);
    // The image data goes into one IDAT chunk (12 bytes of framing).
    const std::size_t framing = envelope.head.size() + envelope.tail.size() + 12;
    if (framing >= sizeToBeat) return std::nullopt;
    png::TrialEvaluator evaluator(image, sizeToBeat - framing);
    RunTrials(evaluator, image, level);
    if (!evaluator.Best()) return std::nullopt;
    const Bytes& stream = evaluator.Best()->stream;
    Bytes out = envelope.head;
    out.reserve(framing + stream.size());
    png::AppendChunk(out, png::kIDAT, stream);
    out.insert(out.end(), envelope.tail.begin(), envelope.tail.end());
    return out;
}

}  // namespace

std::vector<std::uint8_t> RecompressPng(std::span<const std::uint8_t> input, int level) {
    const Bytes unchanged(input.begin(), input.end());
    const std::optional<std::vector<Chunk>> chunks = png::ParseChunks(input);
    if (!chunks) return unchanged;
    // Animation frames and critical chunks we do not know share the layout of
    // the image data; such files are left alone.
    for (const Chunk& chunk : *chunks) {
        if (chunk.type == png::kacTL ||
            (png::IsCritical(chunk.type) && !IsKnownCritical(chunk.type))) {
            return unchanged;
        }
    }
    const std::optional<PngImage> decoded = png::DecodedImage(*chunks);
    if (!decoded) return unchanged;

    // The layouts to try: the reduced image and, for a small image, the same
    // without a new palette and the layout as it came. The reductions judge
    // by raw size, which deflate does not always bear out on small images.
    std::vector<PngImage> layouts;
    const bool layoutBound = std::any_of(chunks->begin(), chunks->end(),
                                         [](const Chunk& c) { return BindsLayout(c.type); });
    if (!layoutBound) {
        png::ReductionLimits limits;
        limits.keepColourClass = std::any_of(chunks->begin(), chunks->end(),
                                             [](const Chunk& c) { return c.type == png::kiCCP; });
        layouts.push_back(png::ReducedImage(*decoded, limits));
        if (decoded->pixels.size() <= kAlternativeLayoutBytes) {
            limits.paletteFromColours = false;
            layouts.push_back(png::ReducedImage(*decoded, limits));
        }
    }
    if (layouts.empty() || decoded->pixels.size() <= kAlternativeLayoutBytes)
        layouts.push_back(*decoded);
    for (std::size_t i = 1; i < layouts.size();) {
        const bool repeated =
            std::any_of(layouts.begin(), layouts.begin() + static_cast<std::ptrdiff_t>(i),
                        [&](const PngImage& other) { return SameLayout(other, layouts[i]); });
        if (repeated) {
            layouts.erase(layouts.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }

    Bytes best = unchanged;
    for (const PngImage& image : layouts) {
        // Every reduction keeps the background expressible; a layout that
        // could not would lose the chunk, so it is not used.
        if (image.background && !png::BackgroundFits(image, *image.background)) continue;
        std::optional<Bytes> file = SmallestFile(*chunks, image, level, best.size());
        if (!file) continue;
#ifndef NDEBUG
        // Debug builds check the claim of losslessness on every result.
        const std::optional<std::vector<Chunk>> written = png::ParseChunks(*file);
        const std::optional<PngImage> check = written ? png::DecodedImage(*written) : std::nullopt;
        if (!check || !SamePixels(*check, *decoded)) continue;
#endif
        best = std::move(*file);
    }
    return best;
}

}  // namespace pimo::imagelib
