#pragma once
// The size arithmetic of resampling: the target size of a request (pixels or
// percent, kept aspect ratio, one side only) and the arithmetic of the
// resample dialog (edits that follow each other, unit switching, reading the
// request on OK). Pure functions, no image library.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pimo::engine {

struct ImageSize {
    int width = 0;
    int height = 0;
    bool operator==(const ImageSize&) const = default;
};

/// Units of the dialog's radio group `unit_group` (and `ResampleUnit`).
inline constexpr int kResampleUnitPixels = 0;
inline constexpr int kResampleUnitPercent = 1;

/// What the user (or the batch runner) asks for. A zero side is "not given".
struct ResampleRequest {
    int width = 0;
    int height = 0;
    bool percent = false;
    bool keepAspect = false;
};

/// Rounds to the nearest integer, halves away from zero, in 64 bits so that
/// no request can overflow.
std::int64_t RoundHalfAwayWide(double x);

/// The size `current` becomes under `request`, or nullopt when the request
/// asks for nothing: the current size in pixels, 100 and 100 percent, both
/// sides 0, a negative side, or a target too large to describe. Rules:
///  - percent, both sides: with keep aspect the height percentage follows the
///    width's; each side is scaled by its percentage;
///  - pixels, both sides, keep aspect: the largest size of the source's
///    aspect ratio inside the box (ratios compared in single precision);
///  - pixels, both sides, no aspect: exactly the box;
///  - one side only: that side in pixels (in percent mode too), the other
///    in proportion.
/// A side that rounds to 0 becomes 1, so a tiny request never yields an
/// empty image.
std::optional<ImageSize> ResampleTargetSize(ImageSize current, const ResampleRequest& request);

// ---- the resample dialog --------------------------------------------------

/// The number in a size edit: decimal digits only; anything else (empty,
/// signs, letters, a value beyond the 32-bit range) counts as 0.
int SizeEditValue(std::string_view text);

/// The dialog's size line, "Original size: 800 x 600".
std::string OriginalSizeText(ImageSize original);

struct SizeEditTexts {
    std::string width;
    std::string height;
    bool operator==(const SizeEditTexts&) const = default;
};

/// What both edits show after the unit changes: "100" and "100" for
/// percent, the original width and height for pixels.
SizeEditTexts SizeEditTextsForUnit(int unit, ImageSize original);

/// A change of one size edit, as the dialog sees it.
struct SizeEditChange {
    std::string_view typedText;  // the new text of the edit that changed
    bool widthEdited = true;     // false: the height edit changed
    bool typedByUser = true;     // the edit is marked modified (not a programmatic change)
    bool keepAspect = true;      // `keep_aspect` is checked
    int unit = kResampleUnitPixels;
};

/// The text the other edit receives, or nullopt when it stays as it is (the
/// change was programmatic or keep aspect is off). Percent: the same text.
/// Pixels: the typed value scaled by the original's aspect ratio, rounded
/// half away from zero. The dialog then marks the other edit unmodified so
/// the change does not echo back.
std::optional<std::string> MirroredSizeText(const SizeEditChange& change, ImageSize original);

/// The request the dialog's OK button makes from its controls. Keep aspect
/// only matters when one edit is empty: with both filled the edits already
/// follow the aspect ratio.
ResampleRequest DialogResampleRequest(std::string_view widthText, std::string_view heightText,
                                      int unit, bool keepAspectChecked);

}  // namespace pimo::engine
