#include "engine/compress_to_size.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "util/pimoutil.h"

namespace pimo::engine {

namespace {

constexpr const char* kCaption = "Compress to size";
constexpr const char* kPrompt = "Enter desired filesize in kilobytes (KiB)";
constexpr const char* kNotReachedTitle = "Could not obtain the desired filesize";
constexpr const char* kNotReachedDescription = "Try with a bigger value.";
constexpr int kNotReachedBalloonMs = 5000;

}  // namespace

SizeSetting SizeSettingFor(int format) {
    if (format == kFormatJpeg) return SizeSetting::JPEGQuality;
    return format == kFormatGif ? SizeSetting::GIFMaxColors : SizeSetting::PNGMaxColors;
}

SettingRange RangeOf(const OptimizationSettings& settings, SizeSetting setting) {
    if (setting == SizeSetting::JPEGQuality) return {1, 100};
    return {2, std::clamp(settings.ColorCountMaximum, 2, 256)};
}

int& SettingField(OptimizationSettings& settings, SizeSetting setting) {
    switch (setting) {
        case SizeSetting::JPEGQuality:
            return settings.JPEGQuality;
        case SizeSetting::GIFMaxColors:
            return settings.GIFMaxColors;
        case SizeSetting::PNGMaxColors:
            break;
    }
    return settings.PNGMaxColors;
}

bool CompressToSizeAvailable(const Engine& engine) {
    if (!engine.SourceBitmap) return false;
    const OptimizationSettings& settings = engine.settings;
    switch (settings.Format) {
        case kFormatJpeg:
            return true;
        case kFormatPng: {
            const PresetKind kind = PngPresetKind(settings.PNGPalettePreset);
            return kind != PresetKind::TrueColor && kind != PresetKind::DitheredMonochrome;
        }
        default:
            return GifPresetKind(settings.GIFPalettePreset) != PresetKind::DitheredMonochrome;
    }
}

SizeSearch SearchSetting(std::int64_t target, SettingRange range,
                         const std::function<std::uint32_t(int)>& probe) {
    SizeSearch search;
    int low = range.minimum, high = range.maximum;
    while (high >= low) {
        const int middle = (low + high) / 2;
        const auto size = static_cast<std::int64_t>(probe(middle));
        ++search.probes;
        if (size <= target && search.best < middle) search.best = middle;
        if (size > target) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return search;
}

SizeSearch SearchSizeSetting(Engine& engine, std::int64_t target, SizeSetting setting) {
    return SearchSetting(target, RangeOf(engine.settings, setting), [&](int value) {
        // Written straight into the record: a probe is no settings change.
        SettingField(engine.settings, setting) = value;
        return engine.OptimizeImage("");
    });
}

int FindSizeSetting(Engine& engine, std::int64_t target, SizeSetting setting) {
    return SearchSizeSetting(engine, target, setting).best;
}

std::string NormaliseDecimalSeparator(std::string text, std::string_view decimalSeparator) {
    const auto replaceFirst = [&text](char from, char to) {
        if (const std::size_t at = text.find(from); at != std::string::npos) text[at] = to;
    };
    if (decimalSeparator == ".") replaceFirst(',', '.');
    if (decimalSeparator == ",") replaceFirst('.', ',');
    return text;
}

std::int64_t KibibytesToBytes(double kibibytes) {
    const double bytes = std::trunc(kibibytes * 1024.0);
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (bytes >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (bytes <= -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(bytes);
}

std::string UncompressedSizeMessage(std::uint32_t uncompressedBytes) {
    return "The desired size cannot be more than the uncompressed size (" +
           util::FormatNumber(uncompressedBytes / 1024.0) + " KiB)";
}

std::string InvalidNumberMessage(const std::string& text) {
    return "'" + text + "' is not a valid floating point value";
}

CompressToSizeResult CompressToSize(Engine& engine, const TextQuery& query,
                                    std::string_view decimalSeparator) {
    CompressToSizeResult result;
    if (!engine.Interactive || !query || !CompressToSizeAvailable(engine)) return result;
    Host& host = engine.host();

    const SizeSetting setting = SizeSettingFor(engine.settings.Format);
    const int remembered = SettingField(engine.settings, setting);

    const std::optional<std::string> typed = query(kCaption, kPrompt, "");
    if (!typed) {
        result.outcome = CompressToSizeOutcome::Cancelled;
        return result;
    }
    const std::string text = NormaliseDecimalSeparator(*typed, decimalSeparator);
    const std::optional<double> kibibytes =
        util::ParseDecimal(text, decimalSeparator, util::SurroundingSpaces::Allowed);
    if (!kibibytes) {
        host.showMessage(MessageKind::Error, InvalidNumberMessage(text), MessageButtons::Ok);
        result.outcome = CompressToSizeOutcome::InvalidNumber;
        return result;
    }
    result.target = KibibytesToBytes(*kibibytes);

    const std::uint32_t uncompressed = ::FreeImage_GetDIBSize(engine.SourceBitmap.get());
    if (static_cast<std::int64_t>(uncompressed) < result.target) {
        host.showMessage(MessageKind::Error, UncompressedSizeMessage(uncompressed),
                         MessageButtons::Ok);
        result.outcome = CompressToSizeOutcome::AboveUncompressed;
        return result;
    }

    const SizeSearch search = SearchSizeSetting(engine, result.target, setting);
    result.probes = search.probes;
    const bool reached = search.best >= 1;
    SettingField(engine.settings, setting) = reached ? search.best : remembered;
    result.value = search.best;
    result.outcome = reached ? CompressToSizeOutcome::Done : CompressToSizeOutcome::NotReached;

    // The result stream holds the last probe, which need not be the value now
    // set: bring it up to date, or at least make saving re-encode.
    engine.ResultStale = true;
    if (engine.options.AutomaticPreview) {
        engine.PreviewImage();
    } else {
        host.setStatusText("Ready", 0);
    }
    // After the preview, which hides any balloon.
    if (!reached) host.showBalloon(kNotReachedTitle, kNotReachedDescription, kNotReachedBalloonMs);
    return result;
}

CompressToSizeResult CompressToSize(Engine& engine, const TextQuery& query) {
    return CompressToSize(engine, query, util::CurrentNumberSeparators().decimal);
}

}  // namespace pimo::engine
