#include "settings/settings_keys.h"

#include <array>

#include "platform/known_folders.h"
#include "settings/ini_store.h"

namespace pimo::settings {

namespace key_rules {

bool WhenNormal(const SettingsFields& f, const KeyValue&) {
    return f.window.WindowState == kWindowNormal;
}
bool UnlessMinimized(const SettingsFields& f, const KeyValue&) {
    return f.window.WindowState != kWindowMinimized;
}
bool TopOnDesktop(const SettingsFields& f, const KeyValue& v) {
    return f.window.WindowState != kWindowMinimized && std::get<int>(v) < f.window.DesktopHeight;
}
bool LeftOnDesktop(const SettingsFields& f, const KeyValue& v) {
    return f.window.WindowState != kWindowMinimized && std::get<int>(v) < f.window.DesktopWidth;
}
bool WhenAskingToResize(const SettingsFields& f, const KeyValue&) {
    return f.options.AskToResizeLargeImages;
}
bool UnlessLatestDialogs(const SettingsFields& f, const KeyValue&) {
    return !f.window.UseLatestCommonDialogs;
}
bool FastOrBestCompressionKept(const SettingsFields& f, const KeyValue& v) {
    return std::get<int>(v) < 2 || f.options.PNGSaveBestCompressionState;
}
bool WhenApplyOptimizerKept(const SettingsFields& f, const KeyValue&) {
    return f.options.PNGSaveApplyOptimizerState;
}
bool WhenAdjustmentsKept(const SettingsFields& f, const KeyValue&) {
    return f.window.SaveImageAdjustments;
}

void GifPresetReaction(SettingsFields& f, const platform::KnownFolders&) {
    if (f.window.GIFPresetReaction) f.window.GIFPresetReaction();
}
void PngPresetReaction(SettingsFields& f, const platform::KnownFolders&) {
    if (f.window.PNGPresetReaction) f.window.PNGPresetReaction();
}
void CaptionsReaction(SettingsFields& f, const platform::KnownFolders&) {
    if (!f.options.ShowCaptions && f.window.CaptionsOffReaction) f.window.CaptionsOffReaction();
}
void SaveFolderDefault(SettingsFields& f, const platform::KnownFolders& folders) {
    std::string& folder = f.options.SaveAsFolder;
    if (folder.empty()) folder = platform::PathToUtf8(platform::DefaultPicturesFolder(folders));
}
void ModeReaction(SettingsFields& f, const platform::KnownFolders&) {
    if (f.window.ModeSelection) f.window.ModeSelection(f.settings.Mode);
}

}  // namespace key_rules

namespace {

using key_table_detail::kKeys;

consteval const SettingsKey* KeyNamed(std::string_view name) {
    for (const SettingsKey& key : kKeys)
        if (key.key == name) return &key;
    throw "no such key";  // a misspelt name stops the build
}

template <std::size_t N>
consteval std::array<const SettingsKey*, N> KeysNamed(const std::string_view (&names)[N]) {
    std::array<const SettingsKey*, N> keys{};
    for (std::size_t i = 0; i < N; ++i) keys[i] = KeyNamed(names[i]);
    return keys;
}

// clang-format off
// What the main window writes at close, in this order.
constexpr auto kWrittenAtClose = KeysNamed({
    "Width", "Height", "WindowState", "Top", "Left",
    "JPEGQuality", "JPEGChromaSubsampling", "JPEGProgressive",
    "GIFPalettePreset", "GIFInterlaced", "GIFQuantizationMethod",
    "PNGPalettePreset", "PNGQuantizationMethod", "PNGCompressionType", "PNGApplyOptimizer",
    "PNGOptimizer",
    "MetadataRemoveIPTC", "MetadataRemoveXMP", "MetadataRemoveEXIF", "MetadataRemoveComments",
    "MetadataRemoveICC", "TransparencyThreshold",
    "SaveAsFolder", "ShowDialogOnSave",
    "ResampleFilter", "ResampleUnit", "ResampleKeepAspectRatio",
    "DualView", "FitOnlyBig", "AutomaticPreview",
    "SaveImageAdjustments", "AdjustBrightness", "AdjustContrast", "AdjustGamma", "AdjustInvert",
    "AdjustGrayscale",
    "Format", "Mode",
});

// What the options dialog writes on confirmation, in this order.
constexpr auto kWrittenByOptions = KeysNamed({
    "SaveSettingsOnExit", "ShowCaptions", "AskToResizeLargeImages", "LargeImagesResolution",
    "ZoomFactor", "AutoRotateEXIF", "Check4Updates", "LastUpdateCheck",
    "PNGDefaultUseFastCompression", "PNGSaveBestCompressionState", "PNGSaveApplyOptimizerState",
    "ShowQualityScore",
});
// clang-format on

}  // namespace

std::span<const SettingsKey> SettingsKeys() {
    return kKeys;
}
std::span<const SettingsKey* const> KeysWrittenAtClose() {
    return kWrittenAtClose;
}
std::span<const SettingsKey* const> KeysWrittenByOptions() {
    return kWrittenByOptions;
}

const SettingsKey* FindSettingsKey(std::string_view name) {
    for (const SettingsKey& key : kKeys)
        if (key.key == name) return &key;
    return nullptr;
}

void LoadKey(const IniStore& store, const SettingsKey& key, SettingsFields& fields,
             const platform::KnownFolders& folders, SettingsWarnings& warnings) {
    settings::LoadKey<SettingsFields>(store, kMainSection, key, fields, folders, warnings);
}

void StoreKey(IniStore& store, const SettingsKey& key, const SettingsFields& fields) {
    settings::StoreKey<SettingsFields>(store, kMainSection, key, fields);
}

int ReadPNGOptimizer(const IniStore& store, int presetCount, SettingsWarnings& warnings) {
    constexpr KeyRange declared = SettingsKeyRange("PNGOptimizer");
    KeyRange range = declared;
    range.max = presetCount - 1;
    const KeyValue first = static_cast<int>(declared.fallback);
    const ReadValue read =
        ReadKeyValue(store, kMainSection, "PNGOptimizer", KeyType::Integer, first);
    const int selected = std::get<int>(
        CheckedKeyValue(store, "PNGOptimizer", KeyType::Integer, range, read, first, warnings));
    return selected < 0 ? std::get<int>(first) : selected;
}

}  // namespace pimo::settings
