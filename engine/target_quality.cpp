#include "engine/target_quality.h"

#include <algorithm>
#include <cmath>

#include "engine/imagelib/freeimage_ext.h"
#include "engine/imagelib/jpeg_coefficients.h"
#include "engine/jpeg_block_pruning.h"

namespace pimo::engine {

namespace {

// JPEGChromaSubsampling values.
constexpr int kFullChroma = 0;  // 4:4:4
constexpr int kHalfChroma = 2;  // 4:2:0

// The probe behind both the search and the curve: a full pipeline run into
// memory with the setting at `value`, scored against the source.
QualityProbe ProbeSetting(Engine& engine, SizeSetting setting, int value,
                          const imagelib::RgbPixels& source) {
    // Written straight into the record: a probe is no settings change.
    SettingField(engine.settings, setting) = value;
    QualityProbe probe{value, engine.OptimizeImage(""), std::nullopt};
    if (probe.bytes != 0) probe.score = ScoreEngineResult(engine, source);
    return probe;
}

imagelib::RgbPixels SourcePixels(const Engine& engine) {
    return ViewedPixels(engine.SourceBitmap.get(), engine.settings.BackgroundColor);
}

// Where the sampled curve turns most: the interior point farthest from the
// chord of its neighbours, size and distance each scaled to their span.
// Returns a value to sample next (the middle of the wider gap beside that
// point), or none when every gap is closed.
std::optional<int> NextCurveValue(const std::vector<QualityProbe>& points) {
    double maxBytes = 1, maxDistance = 1e-9;
    for (const QualityProbe& p : points) {
        maxBytes = std::max(maxBytes, static_cast<double>(p.bytes));
        if (p.score) maxDistance = std::max(maxDistance, p.score->maxDistance);
    }
    const auto distanceOf = [&](const QualityProbe& p) {
        return p.score ? p.score->maxDistance / maxDistance : 0.0;
    };
    const auto gapMiddle = [&](std::size_t left) -> std::optional<int> {
        const int low = points[left].value, high = points[left + 1].value;
        if (high - low < 2) return std::nullopt;
        return low + (high - low) / 2;
    };

    double bestTurn = -1;
    std::optional<int> next;
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        const QualityProbe &a = points[i - 1], &b = points[i], &c = points[i + 1];
        const double t = static_cast<double>(b.value - a.value) / (c.value - a.value);
        const double bytesOff =
            std::abs(b.bytes - (a.bytes + t * (static_cast<double>(c.bytes) - a.bytes))) / maxBytes;
        const double distanceOff =
            std::abs(distanceOf(b) - (distanceOf(a) + t * (distanceOf(c) - distanceOf(a))));
        const bool leftWider = b.value - a.value >= c.value - b.value;
        std::optional<int> candidate = leftWider ? gapMiddle(i - 1) : gapMiddle(i);
        if (!candidate) candidate = leftWider ? gapMiddle(i) : gapMiddle(i - 1);
        if (candidate && bytesOff + distanceOff > bestTurn) {
            bestTurn = bytesOff + distanceOff;
            next = candidate;
        }
    }
    if (next) return next;
    // Too few points to see a bend: split the widest gap.
    std::size_t widest = 0;
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        if (points[i + 1].value - points[i].value > points[widest + 1].value - points[widest].value)
            widest = i;
    }
    return points.size() >= 2 ? gapMiddle(widest) : std::nullopt;
}

}  // namespace

QualitySearch SearchDistanceSetting(double target, SettingRange range,
                                    const std::function<QualityProbe(int)>& probe) {
    QualitySearch search;
    int low = range.minimum, high = range.maximum;
    while (high >= low) {
        const int middle = (low + high) / 2;
        QualityProbe measured = probe(middle);
        const bool within = measured.score && measured.score->maxDistance <= target;
        if (within && (search.best == 0 || middle < search.best)) {
            search.best = middle;
            search.bestScore = measured.score;
        }
        search.probes.push_back(std::move(measured));
        if (within) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return search;
}

QualitySearch SearchQualitySetting(Engine& engine, double target, SizeSetting setting,
                                   bool pruneJpeg) {
    if (!engine.SourceBitmap) return {};
    const imagelib::RgbPixels source = SourcePixels(engine);
    const auto searchOver = [&](SettingRange range) {
        return SearchDistanceSetting(
            target, range, [&](int value) { return ProbeSetting(engine, setting, value, source); });
    };
    const SettingRange range = RangeOf(engine.settings, setting);
    if (setting != SizeSetting::JPEGQuality) return searchOver(range);

    // The quality is searched with the settings' chroma subsampling, then
    // with the other of full chroma (4:4:4) and the usual 4:2:0: which of
    // the two reaches a distance in fewer bytes depends on the picture
    // (fine colour detail needs full chroma, or a high quality to make up
    // for its loss). Full chroma looks no worse at the same quality, so the
    // second search stays at or below the first one's value.
    int& subsampling = engine.settings.JPEGChromaSubsampling;
    const int first = subsampling;
    const int second = first == kFullChroma ? kHalfChroma : kFullChroma;
    QualitySearch search = searchOver(range);
    search.chromaSubsampling = first;
    subsampling = second;
    QualitySearch other =
        searchOver({range.minimum, search.best > 0 ? search.best : range.maximum});
    // Each search's own probes: the second may probe the first's value too.
    const auto bytesAt = [](const QualitySearch& s) {
        std::uint32_t bytes = 0;
        for (const QualityProbe& p : s.probes) {
            if (p.value == s.best) bytes = p.bytes;
        }
        return bytes;
    };
    std::uint32_t bytes = bytesAt(search);
    search.probes.insert(search.probes.end(), other.probes.begin(), other.probes.end());
    if (other.best > 0 && (search.best == 0 || bytesAt(other) < bytes)) {
        bytes = bytesAt(other);
        search.best = other.best;
        search.bestScore = other.bestScore;
        search.chromaSubsampling = second;
    }
    if (search.best == 0) {
        subsampling = first;
        search.chromaSubsampling.reset();
        return search;
    }

    // The other arrangement of the same coefficients: no new score.
    subsampling = *search.chromaSubsampling;
    const bool probed = engine.settings.JPEGProgressive;
    engine.settings.JPEGQuality = search.best;
    engine.settings.JPEGProgressive = !probed;
    const std::uint32_t rearranged = engine.OptimizeImage("");
    search.progressive = rearranged != 0 && rearranged < bytes ? !probed : probed;
    if (rearranged != 0) bytes = std::min(bytes, rearranged);
    if (!pruneJpeg) return search;

    // The file found, its coefficients pruned where the distance leaves room.
    engine.settings.JPEGQuality = search.best;
    engine.settings.JPEGProgressive = false;
    if (engine.OptimizeImage("") != 0 && engine.ResultStream) {
        const imagelib::JpegCoefficients found =
            imagelib::JpegCoefficients::Read(imagelib::StreamBytes(engine.ResultStream.get()));
        const Rgb background = engine.settings.BackgroundColor;
        std::optional<PrunedJpeg> pruned =
            PruneToDistance(imagelib::ViewedImage(source), found, target, engine.settings.Format,
                            {background.red, background.green, background.blue});
        if (pruned) search.prunedEncodings = pruned->encodings;
        if (pruned && pruned->bytes.size() < bytes) {
            search.encoded = std::move(pruned->bytes);
            search.bestScore = pruned->score;
            search.progressive = pruned->progressive;
        }
    }
    engine.settings.JPEGQuality = search.best;
    engine.settings.JPEGProgressive = probed;
    return search;
}

std::optional<QualityScore> ScoreEngineResult(const Engine& engine,
                                              const imagelib::RgbPixels& source) {
    if (!engine.ResultStream) return std::nullopt;
    const std::vector<std::uint8_t> bytes = imagelib::StreamBytes(engine.ResultStream.get());
    return ScoreEncoded(source, engine.settings.Format, bytes, engine.settings.BackgroundColor)
        .score;
}

ProbeEngine::ProbeEngine(const Engine& from) : m_engine(m_host) {
    m_engine.Interactive = false;
    m_engine.settings = from.settings;
    m_engine.options = from.options;
    m_engine.SourceFormat = from.SourceFormat;
    m_engine.SourceFileSize = from.SourceFileSize;
    m_engine.imageInfo = from.imageInfo;
    m_engine.SourcePath = from.SourcePath;
    m_engine.PngTrueColorName = from.PngTrueColorName;
    if (from.SourceBitmap) {
        m_engine.SourceBitmap.reset(imagelib::FreeImage_Clone(from.SourceBitmap.get()));
    }
}

std::vector<QualityProbe> SampleQualityCurve(Engine& engine, SizeSetting setting,
                                             CurveSampling sampling,
                                             const std::function<bool()>& stopRequested) {
    std::vector<QualityProbe> points;
    if (!engine.SourceBitmap) return points;
    const auto stopped = [&] { return stopRequested && stopRequested(); };
    int& field = SettingField(engine.settings, setting);
    const int saved = field;
    const SettingRange range = RangeOf(engine.settings, setting);
    const imagelib::RgbPixels source = SourcePixels(engine);

    const auto sample = [&](int value) {
        points.push_back(ProbeSetting(engine, setting, value, source));
        std::sort(points.begin(), points.end(),
                  [](const QualityProbe& a, const QualityProbe& b) { return a.value < b.value; });
    };
    const int spread = std::max(sampling.initialPoints, 2) - 1;
    for (int i = 0; i <= spread && !stopped(); ++i) {
        const int value = range.minimum + (range.maximum - range.minimum) * i / spread;
        const bool sampled = std::any_of(points.begin(), points.end(),
                                         [&](const QualityProbe& p) { return p.value == value; });
        if (!sampled) sample(value);
    }
    for (int i = 0; i < sampling.refinements && !stopped(); ++i) {
        const std::optional<int> next = NextCurveValue(points);
        if (!next) break;
        sample(*next);
    }
    field = saved;
    return points;
}

}  // namespace pimo::engine
