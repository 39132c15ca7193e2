// Parsing the command line of pimo-cli.

#include "cli/cli_arguments.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string_view>

#include "engine/automatic_settings.h"
#include "settings/settings_keys.h"

namespace pimo::cli {

namespace {

using engine::OptimizationMode;
using settings::SettingsKeyRange;

constexpr settings::KeyRange kResizeSides = batch::BatchKeyRange("ResizeWidth");
constexpr settings::KeyRange kGamma = SettingsKeyRange("AdjustGamma");
/// A resize in percent, up to ten times the size.
constexpr int kMaxResizePercent = 1000;

int ParseInteger(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty() || value < low || value > high) {
        throw UsageError(option + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    }
    return value;
}

/// A whole number in the range declared for a settings key.
int ParseInteger(const std::string& option, const std::string& text, settings::KeyRange range) {
    return ParseInteger(option, text, range.intMin(), range.intMax());
}

double ParseNumber(const std::string& option, const std::string& text, double low, double high) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty() || !(value >= low && value <= high)) {
        std::ostringstream range;
        range << low << " to " << high;
        throw UsageError(option + " needs a number from " + range.str() + ", not \"" + text + "\"");
    }
    return value;
}

// The position of `text` in `choices`, or a UsageError naming them.
int ParseChoice(const std::string& option, const std::string& text,
                std::initializer_list<std::string_view> choices) {
    int index = 0;
    std::string names;
    for (std::string_view choice : choices) {
        if (text == choice) return index;
        names += (index ? "|" : "") + std::string(choice);
        ++index;
    }
    throw UsageError(option + " must be one of " + names + ", not \"" + text + "\"");
}

engine::Rgb ParseColor(const std::string& option, const std::string& text) {
    std::string hex = text;
    if (!hex.empty() && hex[0] == '#') hex.erase(0, 1);
    unsigned value = 0;
    const char* end = hex.data() + hex.size();
    const auto [stop, error] = std::from_chars(hex.data(), end, value, 16);
    if (hex.size() != 6 || error != std::errc() || stop != end) {
        throw UsageError(option + " needs a colour RRGGBB in hexadecimal, not \"" + text + "\"");
    }
    return {static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value)};
}

void ParseKeptMetadata(const std::string& option, const std::string& text,
                       engine::OptimizationSettings& settings) {
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        switch (ParseChoice(option, item, {"comments", "iptc", "xmp", "exif", "icc", "all"})) {
            case 0:
                settings.MetadataRemoveComments = false;
                break;
            case 1:
                settings.MetadataRemoveIPTC = false;
                break;
            case 2:
                settings.MetadataRemoveXMP = false;
                break;
            case 3:
                settings.MetadataRemoveEXIF = false;
                break;
            case 4:
                settings.MetadataRemoveICC = false;
                break;
            default:
                settings.MetadataRemoveComments = settings.MetadataRemoveIPTC =
                    settings.MetadataRemoveXMP = settings.MetadataRemoveEXIF =
                        settings.MetadataRemoveICC = false;
        }
    }
}

// "640x480", "640x" or "x480" in pixels, or "50%" for both sides.
void ParseResize(const std::string& option, const std::string& text, batch::BatchOptions& options) {
    const auto fail = [&]() -> void {
        throw UsageError(option + " needs WIDTHxHEIGHT (either may be left out) or N%, not \"" +
                         text + "\"");
    };
    options.TaskResize = true;
    if (!text.empty() && text.back() == '%') {
        const std::string number = text.substr(0, text.size() - 1);
        if (number.empty()) fail();
        options.ResizePercent = true;
        options.ResizeWidth = options.ResizeHeight =
            ParseInteger(option, number, 1, kMaxResizePercent);
        return;
    }
    const std::size_t cross = text.find('x');
    if (cross == std::string::npos || text.size() == 1) fail();
    const std::string width = text.substr(0, cross);
    const std::string height = text.substr(cross + 1);
    options.ResizePercent = false;
    options.ResizeWidth = width.empty() ? 0 : ParseInteger(option, width, 1, kResizeSides.intMax());
    options.ResizeHeight =
        height.empty() ? 0 : ParseInteger(option, height, 1, kResizeSides.intMax());
}

using Action = std::function<void(const std::string& option, const std::string& value)>;
struct Option {
    bool takesValue;
    Action action;
};
using OptionTable = std::map<std::string, Option, std::less<>>;

/// The arguments read so far, and what the checks after the last one need
/// to know about how they were given.
struct ParseState {
    CliArguments result;
    std::optional<OptimizationMode> mode;
    bool formatGiven = false;
    bool automaticOverridden = false;  // a setting the automatic modes would choose
    bool colorsGiven = false;
    bool clockwise = false;
    int rotateDegrees = 0;
};

Option Flag(std::function<void()> action) {
    return Option{false, [action](const std::string&, const std::string&) { action(); }};
}

Option Valued(Action action) {
    return Option{true, std::move(action)};
}

/// A setting that the automatic modes choose themselves: giving it asks for
/// the manual mode.
Option Manual(ParseState& state, Action action) {
    return Option{true, [&state, action](const std::string& o, const std::string& v) {
                      state.automaticOverridden = true;
                      action(o, v);
                  }};
}

Option ManualFlag(ParseState& state, std::function<void()> action) {
    return Option{false, [&state, action](const std::string&, const std::string&) {
                      state.automaticOverridden = true;
                      action();
                  }};
}

// What to read, how to report and how hard to work.
void AddRunOptions(OptionTable& options, ParseState& state) {
    CliArguments& result = state.result;
    options.insert({
        {"--help", Flag([&] { result.help = true; })},
        {"--recursive", Flag([&] { result.recursive = true; })},
        {"--info", Flag([&] { result.info = true; })},
        {"--json", Flag([&] { result.json = true; })},
        {"--quiet", Flag([&] { result.quiet = true; })},
        {"--files-from", Valued([&](auto& o, auto& v) {
             if (v.empty()) throw UsageError(o + " needs a file, or - for standard input");
             result.filesFrom = v;
         })},
        {"--null", Flag([&] { result.nulSeparated = true; })},
        {"--settings", Valued([&](auto&, auto& v) { result.settingsFile = v; })},
        {"--optimizer", Valued([&](auto& o, auto& v) {
             if (v.empty()) throw UsageError(o + " needs a preset's position or name");
             result.optimizer = v;
             result.settings.PNGApplyOptimizer = true;
         })},
        {"--jobs", Valued([&](auto& o, auto& v) { result.jobs = ParseInteger(o, v, 1, 256); })},
        {"--decode-memory", Valued([&](auto& o, auto& v) {
             result.decodeMemoryMiB = static_cast<unsigned>(ParseInteger(o, v, 16, 1 << 24));
         })},
        {"--decode-seconds", Valued([&](auto& o, auto& v) {
             result.decodeSeconds = static_cast<unsigned>(ParseInteger(o, v, 1, 86400));
         })},
        {"--decode-in-process", Flag([&] { result.decodeInProcess = true; })},
        {"--score", Flag([&] { result.score = true; })},
        {"--target-quality",
         Valued([&](auto& o, auto& v) { result.targetQuality = ParseNumber(o, v, 0.01, 100.0); })},
    });
}

// Where the outputs go and what becomes of the sources.
void AddOutputOptions(OptionTable& options, ParseState& state) {
    CliArguments& result = state.result;
    batch::BatchOptions& batch = result.batch;
    options.insert({
        {"--output", Valued([&](auto& o, auto& v) {
             if (v.empty()) throw UsageError(o + " needs a folder");
             batch.OutputPath = v;
         })},
        {"--original-folder", Flag([&] { batch.SaveInOriginalFolder = true; })},
        {"--overwrite", Flag([&] { batch.OverwriteExistingFiles = true; })},
        {"--delete-originals", Flag([&] { batch.DeleteOriginalFiles = true; })},
        {"--keep-dates", Flag([&] { batch.KeepOriginalDateTime = true; })},
        {"--first-frame", Flag([&] { result.firstFrame = true; })},
        {"--no-backup", Flag([&] { batch.BackupOnOverwrite = false; })},
    });
}

// The tasks done to each image before it is optimized.
void AddTaskOptions(OptionTable& options, ParseState& state) {
    batch::BatchOptions& batch = state.result.batch;
    options.insert({
        {"--rotate", Valued([&](auto& o, auto& v) {
             state.rotateDegrees = 90 * (1 + ParseChoice(o, v, {"90", "180", "270"}));
         })},
        {"--cw", Flag([&] { state.clockwise = true; })},
        {"--flip", Valued([&](auto& o, auto& v) {
             batch.TaskFlip = true;
             batch.FlipType = ParseChoice(o, v, {"v", "h"});
         })},
        {"--resize", Valued([&](auto& o, auto& v) { ParseResize(o, v, batch); })},
        {"--filter", Valued([&](auto& o, auto& v) {
             batch.ResizeFilter = ParseInteger(o, v, SettingsKeyRange("ResampleFilter"));
         })},
        {"--no-keep-aspect", Flag([&] { batch.ResizeKeepAspect = false; })},
        {"--target-size", Valued([&](auto& o, auto& v) {
             // Either decimal separator; the runner reads the text with ".".
             std::string number = v;
             std::replace(number.begin(), number.end(), ',', '.');
             ParseNumber(o, number, 0.001, batch::BatchKeyRange("SizeThreshold").max);
             batch.TaskCompressToSize = true;
             batch.SizeThreshold = v;
         })},
    });
}

// The output format and its settings.
void AddFormatOptions(OptionTable& options, ParseState& state) {
    engine::OptimizationSettings& settings = state.result.settings;
    options.insert({
        {"--mode", Valued([&](auto& o, auto& v) {
             state.mode =
                 engine::ModeFromNumber(ParseChoice(o, v, {"auto", "keep", "user", "manual"}));
         })},
        {"--format", Valued([&](auto& o, auto& v) {
             state.formatGiven = true;
             settings.Format = ParseChoice(o, v, {"jpeg", "png", "gif"});
         })},
        {"--quality", Manual(state,
                             [&](auto& o, auto& v) {
                                 settings.JPEGQuality =
                                     ParseInteger(o, v, SettingsKeyRange("JPEGQuality"));
                             })},
        {"--subsampling",
         Manual(
             state,
             [&](auto& o, auto& v) {
                 settings.JPEGChromaSubsampling = ParseChoice(o, v, {"444", "422", "420", "411"});
             })},
        {"--progressive", ManualFlag(state, [&] { settings.JPEGProgressive = true; })},
        {"--png-palette", Manual(state,
                                 [&](auto& o, auto& v) {
                                     settings.PNGPalettePreset = ParseChoice(
                                         o, v, {"truecolor", "256", "128", "16", "mono"});
                                 })},
        {"--gif-palette",
         Manual(state,
                [&](auto& o, auto& v) {
                    settings.GIFPalettePreset = ParseChoice(o, v, {"256", "128", "16", "mono"});
                })},
        {"--colors", Manual(state,
                            [&](auto& o, auto& v) {
                                state.colorsGiven = true;
                                settings.PNGMaxColors = settings.GIFMaxColors = ParseInteger(
                                    o, v, engine::kMinColorCount, engine::kMaxColorCount);
                            })},
        {"--quantizer", Manual(state,
                               [&](auto& o, auto& v) {
                                   settings.PNGQuantizationMethod = settings.GIFQuantizationMethod =
                                       ParseChoice(o, v, {"wu", "nn", "liq"});
                               })},
        {"--gif-interlaced", ManualFlag(state, [&] { settings.GIFInterlaced = true; })},
        {"--png-level", Manual(state,
                               [&](auto& o, auto& v) {
                                   settings.PNGCompressionType =
                                       ParseInteger(o, v, SettingsKeyRange("PNGCompressionType"));
                               })},
        {"--keep-metadata", Valued([&](auto& o, auto& v) { ParseKeptMetadata(o, v, settings); })},
    });
}

// Transparency and the colour adjustments.
void AddAdjustmentOptions(OptionTable& options, ParseState& state) {
    engine::OptimizationSettings& settings = state.result.settings;
    options.insert({
        {"--transparency", Manual(state,
                                  [&](auto& o, auto& v) {
                                      settings.TransparencyMode =
                                          static_cast<engine::TransparencyMode>(
                                              ParseChoice(o, v, {"keep", "solid", "opaque"}));
                                  })},
        {"--background",
         Valued([&](auto& o, auto& v) { settings.BackgroundColor = ParseColor(o, v); })},
        {"--threshold", Valued([&](auto& o, auto& v) {
             settings.TransparencyThreshold =
                 ParseInteger(o, v, SettingsKeyRange("TransparencyThreshold"));
         })},
        {"--brightness", Valued([&](auto& o, auto& v) {
             settings.AdjustBrightness = ParseInteger(o, v, SettingsKeyRange("AdjustBrightness"));
         })},
        {"--contrast", Valued([&](auto& o, auto& v) {
             settings.AdjustContrast = ParseInteger(o, v, SettingsKeyRange("AdjustContrast"));
         })},
        {"--gamma", Valued([&](auto& o, auto& v) {
             settings.AdjustGamma =
                 // Stored as gamma times 100.
                 static_cast<int>(
                     std::lround(ParseNumber(o, v, kGamma.min / 100, kGamma.max / 100) * 100));
         })},
        {"--invert", Flag([&] { settings.AdjustInvert = true; })},
        {"--grayscale", ManualFlag(state, [&] { settings.AdjustGrayscale = true; })},
    });
}

const std::map<std::string, std::string, std::less<>> kShortNames{
    {"-h", "--help"},    {"-r", "--recursive"}, {"-o", "--output"}, {"-j", "--jobs"},
    {"-q", "--quality"}, {"-f", "--format"},    {"-0", "--null"}};

/// Runs each option's action in the order given; other arguments are inputs.
/// "--name=value" and "--name value" are the same; "--" ends the options.
void ReadArguments(const std::vector<std::string>& arguments, const OptionTable& options,
                   CliArguments& result) {
    bool optionsEnded = false;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            result.inputs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('=');
            name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (const auto shortName = kShortNames.find(name); shortName != kShortNames.end())
            name = shortName->second;
        const auto option = options.find(name);
        if (option == options.end()) throw UsageError("unknown option " + argument);
        if (option->second.takesValue) {
            if (!value) {
                if (index + 1 >= arguments.size()) throw UsageError(name + " needs a value");
                value = arguments[++index];
            }
        } else if (value) {
            throw UsageError(name + " takes no value");
        }
        option->second.action(name, value.value_or(std::string()));
    }
}

/// Options that make no sense together, or without another.
void CheckCombinations(ParseState& state) {
    CliArguments& result = state.result;
    batch::BatchOptions& batch = result.batch;
    // A list read from a pipeline may well be empty: that is no mistake.
    if (result.inputs.empty() && result.filesFrom.empty())
        throw UsageError("no input files or folders given");
    if (result.nulSeparated && result.filesFrom.empty()) throw UsageError("-0 needs --files-from");
    if (result.quiet && result.json) throw UsageError("--quiet and --json exclude each other");
    if (!result.info && batch.OutputPath.empty() && !batch.SaveInOriginalFolder)
        throw UsageError("no output: give -o/--output DIR or --original-folder");
    if (!result.info && !batch.OutputPath.empty() && batch.SaveInOriginalFolder)
        throw UsageError("-o/--output and --original-folder exclude each other");
    // The runner's checks want an output folder even when files stay in their own.
    if (batch.SaveInOriginalFolder) batch.OutputPath = ".";

    if (result.targetQuality > 0 && batch.TaskCompressToSize)
        throw UsageError("--target-quality and --target-size exclude each other");

    if (state.rotateDegrees != 0) {
        batch.TaskRotate = true;
        batch.RotateAngle = state.rotateDegrees / 90 - 1;
        batch.RotateDirection = state.clockwise ? 1 : 0;
    } else if (state.clockwise) {
        throw UsageError("--cw needs --rotate");
    }
}

/// Without --mode: a format alone keeps the automatic choice of the other
/// settings (unless the stored mode already follows the format); a setting
/// the automatic choice would replace asks for manual; else the stored mode.
void ResolveMode(ParseState& state, OptimizationMode storedMode) {
    engine::OptimizationSettings& settings = state.result.settings;
    const OptimizationMode followingFormat =
        engine::ChoosesFormat(storedMode) ? OptimizationMode::AutoUserFormat : storedMode;
    settings.Mode = state.mode.value_or(state.automaticOverridden ? OptimizationMode::Manual
                                        : state.formatGiven       ? followingFormat
                                                                  : storedMode);
    if (state.formatGiven && engine::ChoosesFormat(settings.Mode))
        throw UsageError(
            "--format has no effect with --mode auto or keep; use --mode user or manual");
    if (!state.colorsGiven) {
        engine::ApplyPngPresetColorCount(settings);
        engine::ApplyGifPresetColorCount(settings);
    }
    if (settings.Mode == OptimizationMode::Manual) engine::ApplyFormatToSettings(settings);
}

}  // namespace

CliArguments ParseArguments(const std::vector<std::string>& arguments,
                            const engine::OptimizationSettings& stored) {
    ParseState state;
    state.result.settings = stored;
    OptionTable options;
    AddRunOptions(options, state);
    AddOutputOptions(options, state);
    AddTaskOptions(options, state);
    AddFormatOptions(options, state);
    AddAdjustmentOptions(options, state);
    ReadArguments(arguments, options, state.result);
    if (state.result.help) return state.result;
    CheckCombinations(state);
    ResolveMode(state, stored.Mode);
    return state.result;
}

namespace {

// The help text, as printed.
constexpr std::string_view kUsageText = R"(Usage: pimo-cli [OPTIONS] FILE|FOLDER...
       pimo-cli [OPTIONS] --files-from LIST [FILE|FOLDER...]
Optimizes images for size: every input file, and the readable images of every
input folder, is written to the output folder (or beside itself).

Output:
  -o, --output DIR          write the results into DIR (created when missing)
      --original-folder     write each result beside its source (instead of -o)
      --overwrite           replace existing files (each is first copied to
                            NAME.original; an existing NAME.original is never
                            replaced: that file then fails)
      --no-backup           no ".original" backup when overwriting
      --delete-originals    delete each source once its output is written
      --keep-dates          give each output its source's date and time
      --first-frame         write the first frame of an animated GIF, the
                            first page of a TIFF or the first picture of an
                            icon (such files are otherwise skipped; they are
                            never deleted nor replaced by their first frame)
  -r, --recursive           scan the subfolders of input folders too; with
                            -o, each subfolder's results go to the same
                            subfolder of DIR
  -j, --jobs N              files processed in parallel (default: one per core)
      --files-from LIST     also process the files and folders listed in the
                            file LIST, one per line; - reads standard input
  -0, --null                the list of --files-from is separated by NUL
                            characters (find -print0), not by lines
      --json                one JSON record per file, each written as soon as
                            its file is done, then a summary; nothing else;
                            a path that is not UTF-8 shows U+FFFD for its odd
                            bytes, and its exact bytes in hex ("file_hex")
      --quiet               print nothing but failures (on standard error)
      --settings FILE       start from the settings of FILE (a "Pimo.ini");
                            without it, from the user's own Pimo.ini if any.
                            The options given override them. A stored value
                            out of range is clamped, one that does not read
                            gets its default, each with a warning.
      --info                print each input's analysis report and exit
      --decode-memory MIB   memory one image may take to decode and open
                            (default: a quarter of the machine's memory)
      --decode-seconds S    time one image may take to decode (default: 60)
      --decode-in-process   decode in pimo-cli itself, not in a child process:
                            a little faster, but a file that crashes the image
                            library ends the whole run

Settings:
      --mode auto|keep|user|manual
                            auto: best format and settings; keep: the source's
                            format; user: the --format given; manual: exactly
                            the settings given. Default: auto, user when only
                            --format is given, manual when a setting below that
                            the automatic modes choose is given.
  -f, --format jpeg|png|gif
  -q, --quality 1..100      JPEG quality
      --subsampling 444|422|420|411
      --progressive         progressive JPEG
      --png-palette truecolor|256|128|16|mono
      --gif-palette 256|128|16|mono
      --colors N            palette colours, 2..256
      --quantizer wu|nn|liq
                            liq: libimagequant, dithered (best looking)
      --gif-interlaced
      --png-level 0..4      PNG compression effort
      --keep-metadata LIST  comma list of comments,iptc,xmp,exif,icc,all
                            (all metadata is stripped by default)
      --transparency keep|solid|opaque
      --background RRGGBB   colour behind transparency
      --threshold 0..254    alpha below which a pixel is transparent
      --brightness -100..100, --contrast -100..100, --gamma 0.01..8
      --invert, --grayscale
      --optimizer INDEX|NAME
                            pass PNG output through an external optimizer: the
                            preset at INDEX of the list (0 AdvPNG, 1 OptiPNG,
                            2 PNGout, then the custom presets) or the custom
                            preset named NAME

Tasks (before optimizing):
      --rotate 90|180|270   counter-clockwise, clockwise with --cw
      --flip h|v
      --resize WxH|N%       either side may be left out ("800x")
      --filter 0..5         resampling filter (default 1)
      --no-keep-aspect
      --target-size KiB     compress to at most this size
      --target-quality D    the smallest file whose perceptual distance from
                            its source is at most D (JPEG quality or palette
                            colours searched; below 1 no visible difference,
                            about 2 visible on close inspection, above 3
                            plainly visible). Fails an entry, writing nothing,
                            when no setting reaches D.

Quality:
      --score               print each output's perceptual distance from its
                            source (butteraugli) with its reading

Exit code: 0 every file succeeded, 1 a file failed, 2 bad arguments.
)";

}  // namespace

std::string UsageText() {
    return std::string(kUsageText);
}

}  // namespace pimo::cli
