#pragma once
// Compress to size: the binary search for the JPEG quality or the palette
// colour count whose result comes closest to, but not above, a target size,
// and the interactive command around it. Every probe is a full pipeline run
// into memory with all current settings.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/optimization_settings.h"

namespace pimo::engine {

class Engine;

/// The setting the search moves.
enum class SizeSetting { JPEGQuality, GIFMaxColors, PNGMaxColors };

/// An inclusive range of setting values.
struct SettingRange {
    int minimum = 0;
    int maximum = 0;
    bool operator==(const SettingRange&) const = default;
};

/// The setting compress to size moves for an output format: the quality for
/// JPEG, the colour count of PNG or GIF.
SizeSetting SizeSettingFor(int format);
/// The setting's current range: 1..100 for the quality, 2..the colour-count
/// maximum (at most 256, following the analysed image) for the colour counts.
SettingRange RangeOf(const OptimizationSettings& settings, SizeSetting setting);
/// The field of the record that holds the setting.
int& SettingField(OptimizationSettings& settings, SizeSetting setting);

/// Whether the command can run: a source image exists, and the output is
/// JPEG, PNG with a preset that quantizes (or none) or GIF with any preset
/// but "Dithered Monochrome".
bool CompressToSizeAvailable(const Engine& engine);

struct SizeSearch {
    int best = 0;    // the largest value whose size fitted, 0 when none did
    int probes = 0;  // how many sizes were measured
};

/// Binary search over `range` for the largest value whose `probe` size is at
/// most `target` bytes, assuming sizes grow with the value. At most
/// ceil(log2(count + 1)) probes: 7 for 1..100, 8 for 2..256.
SizeSearch SearchSetting(std::int64_t target, SettingRange range,
                         const std::function<std::uint32_t(int)>& probe);

/// The search over the engine's current range of `setting`, each probe a full
/// OptimizeImage run into memory (so the result stream and the working bitmap
/// hold the last probe's result). Leaves the setting at the last probed
/// value; the caller sets the final one. Asks nothing: while Interactive is
/// off nothing reaches the host.
SizeSearch SearchSizeSetting(Engine& engine, std::int64_t target, SizeSetting setting);
/// The best value of SearchSizeSetting, 0 when no value fits.
int FindSizeSetting(Engine& engine, std::int64_t target, SizeSetting setting);

/// Puts the decimal separator into the text the user typed: under a "."
/// locale the first "," becomes "."; under a "," locale the first "." becomes
/// ",". Only the first occurrence is replaced; other locales leave the text.
std::string NormaliseDecimalSeparator(std::string text, std::string_view decimalSeparator);
/// `kibibytes` times 1024, truncated toward zero (saturating at the int64 range).
std::int64_t KibibytesToBytes(double kibibytes);

/// "The desired size cannot be more than the uncompressed size (12.04 KiB)".
std::string UncompressedSizeMessage(std::uint32_t uncompressedBytes);
/// The standard conversion error for a text that is no number.
std::string InvalidNumberMessage(const std::string& text);

/// Asks the user for a line of text: caption, prompt, initial text. Empty
/// when the user cancelled.
using TextQuery = std::function<std::optional<std::string>(
    const std::string& caption, const std::string& prompt, const std::string& initialText)>;

enum class CompressToSizeOutcome {
    NotRun,             // no source image, or not interactive
    Cancelled,          // the user cancelled the question
    InvalidNumber,      // the text was no number; the conversion error was shown
    AboveUncompressed,  // the target exceeds the uncompressed bitmap; the message was shown
    NotReached,         // no value fits; the balloon was shown, the setting restored
    Done,               // the setting holds the found value
};

struct CompressToSizeResult {
    CompressToSizeOutcome outcome = CompressToSizeOutcome::NotRun;
    std::int64_t target = 0;  // bytes, once the text was read
    int value = 0;            // the found value (Done)
    int probes = 0;
};

/// The interactive command: asks for the target in KiB through `query`,
/// reads it with `decimalSeparator` (the user's locale), checks it against
/// the uncompressed size, searches, and sets the found value or, when none
/// fits, restores the value it started with. The probes leave the last
/// probe's result in the result stream, so the result is marked stale and,
/// when automatic preview is on, previewed again with the value now set. The
/// mode is not switched to manual. Messages and the balloon go to the
/// engine's host. Does nothing while Interactive is off or the command is not
/// available: the batch runner calls FindSizeSetting itself.
CompressToSizeResult CompressToSize(Engine& engine, const TextQuery& query,
                                    std::string_view decimalSeparator);
/// The same with the decimal separator of the user's number format.
CompressToSizeResult CompressToSize(Engine& engine, const TextQuery& query);

}  // namespace pimo::engine
