#include "engine/resample_math.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace pimo::engine {

namespace {

constexpr std::int64_t kLargestSide = std::numeric_limits<int>::max();

// A computed side: at least 1, nullopt when it does not fit an int.
std::optional<int> Side(double exact) {
    if (!std::isfinite(exact) || exact > static_cast<double>(kLargestSide)) return std::nullopt;
    const std::int64_t rounded = RoundHalfAwayWide(exact);
    if (rounded > kLargestSide) return std::nullopt;
    return rounded < 1 ? 1 : static_cast<int>(rounded);
}

std::optional<ImageSize> SizeOf(double width, double height) {
    const std::optional<int> w = Side(width), h = Side(height);
    if (!w || !h) return std::nullopt;
    return ImageSize{*w, *h};
}

}  // namespace

std::int64_t RoundHalfAwayWide(double x) {
    // Saturate rather than convert an out-of-range double (undefined).
    constexpr double kLimit = 9.0e18;
    if (std::isnan(x)) return 0;
    if (x >= kLimit) return static_cast<std::int64_t>(kLimit);
    if (x <= -kLimit) return -static_cast<std::int64_t>(kLimit);
    return static_cast<std::int64_t>(x < 0 ? x - 0.5 : x + 0.5);
}

std::optional<ImageSize> ResampleTargetSize(ImageSize current, const ResampleRequest& request) {
    const int w = request.width;
    int h = request.height;
    const double W = current.width, H = current.height;
    if (current.width <= 0 || current.height <= 0 || w < 0 || h < 0) return std::nullopt;
    if (w == 0 && h == 0) return std::nullopt;
    if (request.percent ? (w == 100 && h == 100) : (w == current.width && h == current.height)) {
        return std::nullopt;
    }

    // One side only: that side is pixels, whatever the unit.
    if (h == 0) return SizeOf(w, H * w / W);
    if (w == 0) return SizeOf(W * h / H, h);

    if (request.percent) {
        if (request.keepAspect && h != w) h = w;
        return SizeOf(W * w / 100.0, H * h / 100.0);
    }
    if (!request.keepAspect) return ImageSize{w, h};

    // The aspect ratios are compared in single precision, as the dialog
    // computes them, so that a box typed with the source's ratio matches.
    const float sourceRatio = static_cast<float>(W / H);
    const float boxRatio = static_cast<float>(static_cast<double>(w) / h);
    if (sourceRatio == boxRatio) return ImageSize{w, h};
    if (sourceRatio < boxRatio) {
        // The source is narrower than the box: the height fills it.
        return SizeOf(static_cast<double>(h) * sourceRatio, h);
    }
    return SizeOf(w, H * w / W);
}

// ---- the resample dialog ----

int SizeEditValue(std::string_view text) {
    if (text.empty()) return 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return 0;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

std::string OriginalSizeText(ImageSize original) {
    return "Original size: " + std::to_string(original.width) + " x " +
           std::to_string(original.height);
}

SizeEditTexts SizeEditTextsForUnit(int unit, ImageSize original) {
    if (unit == kResampleUnitPercent) return {"100", "100"};
    return {std::to_string(original.width), std::to_string(original.height)};
}

std::optional<std::string> MirroredSizeText(const SizeEditChange& change, ImageSize original) {
    if (!change.typedByUser || !change.keepAspect) return std::nullopt;
    if (change.unit == kResampleUnitPercent) return std::string(change.typedText);

    const double typed = SizeEditValue(change.typedText);
    const double from = change.widthEdited ? original.width : original.height;
    const double to = change.widthEdited ? original.height : original.width;
    if (from <= 0) return std::string("0");
    return std::to_string(RoundHalfAwayWide(typed * to / from));
}

ResampleRequest DialogResampleRequest(std::string_view widthText, std::string_view heightText,
                                      int unit, bool keepAspectChecked) {
    ResampleRequest request;
    request.width = SizeEditValue(widthText);
    request.height = SizeEditValue(heightText);
    request.percent = unit == kResampleUnitPercent;
    request.keepAspect = keepAspectChecked && (widthText.empty() || heightText.empty());
    return request;
}

}  // namespace pimo::engine
