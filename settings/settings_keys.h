#pragma once
// The keys of section "PIMO" of the settings file, each declared once: its
// name, the field it feeds, its type, the default used when reading, its
// range, when it is read and under which conditions it is read and written,
// and the reaction that follows reading it. Loading, saving, the options
// dialog's write, the controls' ranges and the command line's checks all
// come from this one table.

#include <span>
#include <string_view>

#include "settings/key_table.h"
#include "settings/window_settings.h"

namespace pimo::settings {

inline constexpr std::string_view kMainSection = "PIMO";

using SettingsKey = Key<SettingsFields>;

/// The conditions and reactions the table names.
namespace key_rules {
bool WhenNormal(const SettingsFields&, const KeyValue&);
bool UnlessMinimized(const SettingsFields&, const KeyValue&);
/// A stored position is applied only when it lies on the desktop's near side.
bool TopOnDesktop(const SettingsFields&, const KeyValue&);
bool LeftOnDesktop(const SettingsFields&, const KeyValue&);
bool WhenAskingToResize(const SettingsFields&, const KeyValue&);
bool UnlessLatestDialogs(const SettingsFields&, const KeyValue&);
/// The slow efforts (2 and above) persist only when the user asked for it.
bool FastOrBestCompressionKept(const SettingsFields&, const KeyValue&);
bool WhenApplyOptimizerKept(const SettingsFields&, const KeyValue&);
bool WhenAdjustmentsKept(const SettingsFields&, const KeyValue&);

/// The format panel follows a palette preset read: its colour count.
void GifPresetReaction(SettingsFields&, const platform::KnownFolders&);
void PngPresetReaction(SettingsFields&, const platform::KnownFolders&);
void CaptionsReaction(SettingsFields&, const platform::KnownFolders&);
/// An empty folder becomes the Pictures folder, else the home folder; never
/// the program's folder, which an installed copy cannot write.
void SaveFolderDefault(SettingsFields&, const platform::KnownFolders&);
void ModeReaction(SettingsFields&, const platform::KnownFolders&);
}  // namespace key_rules

namespace key_table_detail {

using OS = engine::OptimizationSettings;
using PO = engine::ProgramOptions;
using WS = WindowSettings;
using B = Bindings<SettingsFields>;
using namespace key_rules;
constexpr ReadPhase kPlacement = ReadPhase::WindowCreation;

// Every key of section "PIMO", in the order the start-up reads them. Columns
// left out: read at start-up, any value, the field's value as the default,
// no condition, no reaction.
// clang-format off
inline constexpr SettingsKey kKeys[] = {
    // Placement, read while the window is created.
    {.key = "Width", .field = B::Integer<&WS::Width>(), .readAt = kPlacement, .fixedDefault = 792,
     .writeIf = WhenNormal},
    {.key = "Height", .field = B::Integer<&WS::Height>(), .readAt = kPlacement, .fixedDefault = 580,
     .writeIf = WhenNormal},
    {.key = "WindowState", .field = B::Integer<&WS::WindowState>(), .readAt = kPlacement,
     .range = OrElse(0, 2, kWindowNormal), .fixedDefault = kWindowNormal, .writeIf = UnlessMinimized},
    {.key = "Top", .field = B::Integer<&WS::Top>(), .readAt = kPlacement,
     .readIf = TopOnDesktop, .writeIf = UnlessMinimized},
    {.key = "Left", .field = B::Integer<&WS::Left>(), .readAt = kPlacement,
     .readIf = LeftOnDesktop, .writeIf = UnlessMinimized},

    // Format settings.
    {.key = "JPEGQuality", .field = B::Integer<&OS::JPEGQuality>(), .range = Clamp(1, 100)},
    {.key = "JPEGChromaSubsampling", .field = B::Integer<&OS::JPEGChromaSubsampling>(), .range = List(0, 3)},
    {.key = "JPEGProgressive", .field = B::Boolean<&OS::JPEGProgressive>()},
    {.key = "GIFPalettePreset", .field = B::Integer<&OS::GIFPalettePreset>(), .range = List(-1, 3),
     .afterRead = GifPresetReaction},
    {.key = "GIFInterlaced", .field = B::Boolean<&OS::GIFInterlaced>()},
    {.key = "GIFQuantizationMethod", .field = B::Integer<&OS::GIFQuantizationMethod>(), .range = List(0, 2)},
    {.key = "PNGPalettePreset", .field = B::Integer<&OS::PNGPalettePreset>(), .range = List(-1, 4),
     .afterRead = PngPresetReaction},
    {.key = "PNGQuantizationMethod", .field = B::Integer<&OS::PNGQuantizationMethod>(), .range = List(0, 2)},
    {.key = "Format", .field = B::Integer<&OS::Format>(), .range = Clamp(0, 2)},
    {.key = "MetadataRemoveIPTC", .field = B::Boolean<&OS::MetadataRemoveIPTC>()},
    {.key = "MetadataRemoveXMP", .field = B::Boolean<&OS::MetadataRemoveXMP>()},
    {.key = "MetadataRemoveEXIF", .field = B::Boolean<&OS::MetadataRemoveEXIF>()},
    {.key = "MetadataRemoveComments", .field = B::Boolean<&OS::MetadataRemoveComments>()},
    {.key = "MetadataRemoveICC", .field = B::Boolean<&OS::MetadataRemoveICC>()},
    {.key = "TransparencyThreshold", .field = B::Integer<&OS::TransparencyThreshold>(), .range = Clamp(0, 254)},

    // Program options.
    {.key = "SaveSettingsOnExit", .field = B::Boolean<&PO::SaveSettingsOnExit>()},
    {.key = "ShowCaptions", .field = B::Boolean<&PO::ShowCaptions>(), .afterRead = CaptionsReaction},
    {.key = "AskToResizeLargeImages", .field = B::Boolean<&PO::AskToResizeLargeImages>()},
    {.key = "LargeImagesResolution", .field = B::Integer<&PO::LargeImagesResolution>(), .range = Clamp(1, 20),
     .fixedDefault = 1, .readIf = WhenAskingToResize, .writeIf = WhenAskingToResize},
    // The options dialog offers zoom steps of 1 to 100 percent.
    {.key = "ZoomFactor", .field = B::Float<&PO::ZoomFactor>(), .range = Clamp(1.01, 2.0)},
    {.key = "AutoRotateEXIF", .field = B::Boolean<&PO::AutoRotateEXIF>()},
    {.key = "Check4Updates", .field = B::Boolean<&PO::Check4Updates>()},
    {.key = "ShowQualityScore", .field = B::Boolean<&PO::ShowQualityScore>()},
    // Missing or unreadable: day zero, so that the next start checks.
    {.key = "LastUpdateCheck", .field = B::Date<&PO::LastUpdateCheck>(), .fixedDefault = 0.0},
    {.key = "UseLatestCommonDialogs", .field = B::Boolean<&WS::UseLatestCommonDialogs>()},
    {.key = "SaveAsFolder", .field = B::Text<&PO::SaveAsFolder>(), .readIf = UnlessLatestDialogs,
     .afterRead = SaveFolderDefault},
    {.key = "ShowDialogOnSave", .field = B::Boolean<&PO::ShowDialogOnSave>()},
    {.key = "ResampleFilter", .field = B::Integer<&OS::ResampleFilter>(), .range = Clamp(0, 5)},
    {.key = "ResampleUnit", .field = B::Integer<&OS::ResampleUnit>(), .range = Clamp(0, 1)},
    {.key = "ResampleKeepAspectRatio", .field = B::Boolean<&OS::ResampleKeepAspectRatio>()},

    // View states.
    {.key = "DualView", .field = B::Boolean<&WS::DualView>()},
    {.key = "FitOnlyBig", .field = B::Boolean<&WS::FitOnlyBig>()},
    {.key = "AutomaticPreview", .field = B::Boolean<&PO::AutomaticPreview>()},

    // PNG effort and the optimizer.
    {.key = "PNGSaveBestCompressionState", .field = B::Boolean<&PO::PNGSaveBestCompressionState>()},
    {.key = "PNGCompressionType", .field = B::Integer<&OS::PNGCompressionType>(), .range = List(0, 4),
     .readIf = FastOrBestCompressionKept, .writeIf = FastOrBestCompressionKept},
    {.key = "PNGSaveApplyOptimizerState", .field = B::Boolean<&PO::PNGSaveApplyOptimizerState>()},
    {.key = "PNGApplyOptimizer", .field = B::Boolean<&OS::PNGApplyOptimizer>(),
     .readIf = WhenApplyOptimizerKept, .writeIf = WhenApplyOptimizerKept},
    // Read when the presets are built (`ReadPNGOptimizer`): -1 is none, the
    // upper end is the last preset of the list, and none, a missing value
    // or one that names no preset select the first preset.
    {.key = "PNGOptimizer", .field = B::Integer<&OS::PNGOptimizer>(), .readAt = ReadPhase::PresetSetUp,
     .range = OrElse(-1, 0, 0)},

    // Image adjustments, kept only on request.
    {.key = "SaveImageAdjustments", .field = B::Boolean<&WS::SaveImageAdjustments>()},
    {.key = "AdjustBrightness", .field = B::Integer<&OS::AdjustBrightness>(), .range = Clamp(-100, 100),
     .readIf = WhenAdjustmentsKept, .writeIf = WhenAdjustmentsKept},
    {.key = "AdjustContrast", .field = B::Integer<&OS::AdjustContrast>(), .range = Clamp(-100, 100),
     .readIf = WhenAdjustmentsKept, .writeIf = WhenAdjustmentsKept},
    {.key = "AdjustGamma", .field = B::Integer<&OS::AdjustGamma>(), .range = Clamp(1, 800),
     .readIf = WhenAdjustmentsKept, .writeIf = WhenAdjustmentsKept},
    {.key = "AdjustInvert", .field = B::Boolean<&OS::AdjustInvert>(),
     .readIf = WhenAdjustmentsKept, .writeIf = WhenAdjustmentsKept},
    {.key = "AdjustGrayscale", .field = B::Boolean<&OS::AdjustGrayscale>(),
     .readIf = WhenAdjustmentsKept, .writeIf = WhenAdjustmentsKept},

    // The mode last: selecting it may act on everything above. Any value but
    // the three automatic modes selects manual mode.
    {.key = "Mode", .field = B::Integer<&OS::Mode>(),
     .range = OrElse(0, 3, engine::ModeNumber(engine::OptimizationMode::Manual)),
     .afterRead = ModeReaction},

    // Written by the options dialog, always false, for older versions; feeds nothing.
    {.key = "PNGDefaultUseFastCompression",
     .field = {KeyType::Boolean, [](const SettingsFields&) -> KeyValue { return false; }, nullptr},
     .readAt = ReadPhase::Never},
};
// clang-format on

}  // namespace key_table_detail

/// The range declared for the key `name` of section "PIMO", for the
/// controls and the command line; a misspelt name stops the build.
consteval KeyRange SettingsKeyRange(std::string_view name) {
    return RangeIn(key_table_detail::kKeys, name);
}

/// Every key, in the order the start-up reads them.
std::span<const SettingsKey> SettingsKeys();
/// The keys the main window writes at close, in their order.
std::span<const SettingsKey* const> KeysWrittenAtClose();
/// The keys the options dialog writes on confirmation, in their order.
std::span<const SettingsKey* const> KeysWrittenByOptions();
/// The key named `key` (exact spelling); null when there is none.
const SettingsKey* FindSettingsKey(std::string_view key);

/// Reads `key` from section "PIMO" and, when its read condition holds, puts
/// the value (brought into range) into its field; then runs its reaction.
/// A value that is unreadable or out of range adds a warning.
void LoadKey(const IniStore& store, const SettingsKey& key, SettingsFields& fields,
             const platform::KnownFolders& folders, SettingsWarnings& warnings);
/// Writes the field's current value to section "PIMO" when the key's write
/// condition holds. Throws IniError for a value the file cannot hold.
void StoreKey(IniStore& store, const SettingsKey& key, const SettingsFields& fields);

/// The stored `PNGOptimizer` for a list of `presetCount` presets: the
/// position of a preset. None (-1) and a missing value select the first
/// preset; so do an unreadable value and one that names no preset, each
/// adding a warning.
int ReadPNGOptimizer(const IniStore& store, int presetCount, SettingsWarnings& warnings);

}  // namespace pimo::settings
