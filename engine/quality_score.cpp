#include "engine/quality_score.h"

#include <jxl/butteraugli_cxx.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <cstdio>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"

namespace pimo::engine {

namespace {

// butteraugli_main's viewing conditions: an sRGB display of 80 nits, and its
// weighting of ringing against blurring. With them our scores and the
// tool's agree to the printed digit.
constexpr float kIntensityTargetNits = 80.0f;
constexpr float kHfAsymmetry = 0.8f;

constexpr double kVisibleThreshold = 1.0;
constexpr double kPlainlyVisibleThreshold = 3.0;

imagelib::Background ToBackground(Rgb color) {
    return {color.red, color.green, color.blue};
}

}  // namespace

QualityReading ReadingOf(double distance) {
    if (distance < kVisibleThreshold) return QualityReading::VeryGood;
    return distance < kPlainlyVisibleThreshold ? QualityReading::Good : QualityReading::Poor;
}

std::string_view ReadingText(QualityReading reading) {
    switch (reading) {
        case QualityReading::VeryGood:
            return "very good";
        case QualityReading::Good:
            return "good";
        case QualityReading::Poor:
            break;
    }
    return "poor";
}

std::string_view ReadingDescription(QualityReading reading) {
    switch (reading) {
        case QualityReading::VeryGood:
            return "No difference visible at normal viewing distance";
        case QualityReading::Good:
            return "Differences visible on close inspection";
        case QualityReading::Poor:
            break;
    }
    return "Differences plainly visible";
}

std::string QualityText(double distance) {
    char number[32];
    std::snprintf(number, sizeof number, "%.2f", distance);
    return std::string(number) + " (" + std::string(ReadingText(ReadingOf(distance))) + ")";
}

ScoreOutcome ScorePixels(const imagelib::RgbPixels& source, const imagelib::RgbPixels& result) {
    if (source.empty() || result.empty()) return {{}, "There is no image to compare."};
    if (source.width != result.width || source.height != result.height) {
        return {{}, "The result's size differs from the source's."};
    }
    const JxlButteraugliApiPtr api(JxlButteraugliApiCreate(nullptr));
    // The runner's workers live as long as the call: nothing is shared
    // between calls on different threads.
    const JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (!api || !runner) return {{}, "The perceptual comparison could not start."};
    JxlButteraugliApiSetParallelRunner(api.get(), JxlThreadParallelRunner, runner.get());
    JxlButteraugliApiSetIntensityTarget(api.get(), kIntensityTargetNits);
    JxlButteraugliApiSetHFAsymmetry(api.get(), kHfAsymmetry);

    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const JxlButteraugliResultPtr computed(JxlButteraugliCompute(
        api.get(), source.width, source.height, &format, source.bytes.data(), source.bytes.size(),
        &format, result.bytes.data(), result.bytes.size()));
    if (!computed) return {{}, "The perceptual comparison failed."};
    return {QualityScore{JxlButteraugliResultGetMaxDistance(computed.get()),
                         JxlButteraugliResultGetDistance(computed.get(), 3.0f)},
            {}};
}

imagelib::RgbPixels ViewedPixels(FIBITMAP* bitmap, Rgb background) {
    return imagelib::CompositedRgb(bitmap, ToBackground(background));
}

ScoreOutcome ScoreEncoded(const imagelib::RgbPixels& source, int format,
                          std::span<const std::uint8_t> encoded, Rgb background) {
    const imagelib::RgbPixels result =
        imagelib::DecodedCompositedRgb(format, encoded, ToBackground(background));
    if (result.empty()) return {{}, "The result does not decode."};
    return ScorePixels(source, result);
}

std::optional<ResultScoreInput> CaptureResultScoreInput(const Engine& engine) {
    if (!engine.SourceBitmap || !engine.ResultStream) return std::nullopt;
    ResultScoreInput input;
    input.source.reset(imagelib::FreeImage_Clone(engine.SourceBitmap.get()));
    input.format = engine.settings.Format;
    input.encoded = imagelib::StreamBytes(engine.ResultStream.get());
    input.background = engine.settings.BackgroundColor;
    if (!input.source || input.encoded.empty()) return std::nullopt;
    return input;
}

ScoreOutcome ScoreResult(const ResultScoreInput& input) {
    return ScoreEncoded(ViewedPixels(input.source.get(), input.background), input.format,
                        input.encoded, input.background);
}

}  // namespace pimo::engine
