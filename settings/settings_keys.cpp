#include "settings/settings_keys.h"

#include <algorithm>
#include <array>
#include <type_traits>

#include "platform/known_folders.h"
#include "settings/ini_store.h"
#include "settings/ini_values.h"

namespace pimo::settings {

namespace {

using engine::OptimizationSettings;
using engine::ProgramOptions;

// ---- Binding a key to a field of one of the three records ----

template <auto Member>
struct MemberOf;
template <class R, class T, T R::*M>
struct MemberOf<M> {
    using Record = R;
    using Type = T;
};

template <class Record>
Record& RecordIn(const SettingsFields& fields) {
    if constexpr (std::is_same_v<Record, OptimizationSettings>) {
        return fields.settings;
    } else if constexpr (std::is_same_v<Record, ProgramOptions>) {
        return fields.options;
    } else {
        static_assert(std::is_same_v<Record, WindowSettings>);
        return fields.window;
    }
}

template <auto Member, KeyType Type>
constexpr FieldBinding Bind() {
    using Record = typename MemberOf<Member>::Record;
    using T = typename MemberOf<Member>::Type;
    static_assert(
        (Type == KeyType::Integer && (std::is_same_v<T, int> || std::is_enum_v<T>)) ||
        (Type == KeyType::Boolean && std::is_same_v<T, bool>) ||
        (Type == KeyType::Float && (std::is_same_v<T, float> || std::is_same_v<T, double>)) ||
        (Type == KeyType::Date && std::is_same_v<T, double>) ||
        (Type == KeyType::Text && std::is_same_v<T, std::string>));
    return {Type,
            [](const SettingsFields& fields) -> KeyValue {
                const T& value = RecordIn<Record>(fields).*Member;
                // A single-precision field is written as the double it converts to.
                if constexpr (std::is_same_v<T, float>)
                    return static_cast<double>(value);
                else if constexpr (std::is_enum_v<T>)
                    return static_cast<int>(value);  // stored as its number
                else
                    return value;
            },
            [](SettingsFields& fields, const KeyValue& value) {
                T& field = RecordIn<Record>(fields).*Member;
                if constexpr (std::is_same_v<T, float>)
                    field = static_cast<float>(std::get<double>(value));
                else if constexpr (std::is_enum_v<T>)
                    field = static_cast<T>(std::get<int>(value));  // brought into range before
                else
                    field = std::get<T>(value);
            }};
}

template <auto Member>
constexpr FieldBinding Integer() {
    return Bind<Member, KeyType::Integer>();
}
template <auto Member>
constexpr FieldBinding Boolean() {
    return Bind<Member, KeyType::Boolean>();
}
template <auto Member>
constexpr FieldBinding Float() {
    return Bind<Member, KeyType::Float>();
}
template <auto Member>
constexpr FieldBinding Date() {
    return Bind<Member, KeyType::Date>();
}
template <auto Member>
constexpr FieldBinding Text() {
    return Bind<Member, KeyType::Text>();
}

/// A key that is written with a fixed false and feeds nothing.
constexpr FieldBinding AlwaysFalse() {
    return {KeyType::Boolean, [](const SettingsFields&) -> KeyValue { return false; }, nullptr};
}

constexpr KeyRange Clamp(int min, int max) {
    return {KeyRange::Rule::Clamp, min, max, 0};
}
/// A list: a value outside it selects nothing.
constexpr KeyRange List(int min, int max) {
    return {KeyRange::Rule::Fallback, min, max, -1};
}
constexpr KeyRange OrElse(int min, int max, int fallback) {
    return {KeyRange::Rule::Fallback, min, max, fallback};
}

template <class Callback, class... Args>
void Call(const Callback& callback, Args... args) {
    if (callback) callback(args...);
}

int IntegerOf(const KeyValue& value) {
    return std::get<int>(value);
}

// ---- Conditions ----

constexpr KeyCondition kWhenNormal = [](const SettingsFields& f, const KeyValue&) {
    return f.window.WindowState == kWindowNormal;
};
constexpr KeyCondition kUnlessMinimized = [](const SettingsFields& f, const KeyValue&) {
    return f.window.WindowState != kWindowMinimized;
};
// A stored position is applied only when it lies on the desktop's near side.
constexpr KeyCondition kTopOnDesktop = [](const SettingsFields& f, const KeyValue& v) {
    return f.window.WindowState != kWindowMinimized && IntegerOf(v) < f.window.DesktopHeight;
};
constexpr KeyCondition kLeftOnDesktop = [](const SettingsFields& f, const KeyValue& v) {
    return f.window.WindowState != kWindowMinimized && IntegerOf(v) < f.window.DesktopWidth;
};
constexpr KeyCondition kWhenAskingToResize = [](const SettingsFields& f, const KeyValue&) {
    return f.options.AskToResizeLargeImages;
};
constexpr KeyCondition kUnlessLatestDialogs = [](const SettingsFields& f, const KeyValue&) {
    return !f.window.UseLatestCommonDialogs;
};
// The slow efforts (2 and above) persist only when the user asked for it.
constexpr KeyCondition kFastOrBestCompressionKept = [](const SettingsFields& f, const KeyValue& v) {
    return IntegerOf(v) < 2 || f.options.PNGSaveBestCompressionState;
};
constexpr KeyCondition kWhenApplyOptimizerKept = [](const SettingsFields& f, const KeyValue&) {
    return f.options.PNGSaveApplyOptimizerState;
};
constexpr KeyCondition kWhenAdjustmentsKept = [](const SettingsFields& f, const KeyValue&) {
    return f.window.SaveImageAdjustments;
};

// ---- Reactions ----

constexpr KeyReaction kGifPresetReaction = [](SettingsFields& f, const platform::KnownFolders&) {
    Call(f.window.GIFPresetReaction);
};
constexpr KeyReaction kPngPresetReaction = [](SettingsFields& f, const platform::KnownFolders&) {
    Call(f.window.PNGPresetReaction);
};
constexpr KeyReaction kFormatReaction = [](SettingsFields& f, const platform::KnownFolders&) {
    if (f.settings.Format != engine::kFormatJpeg) Call(f.window.FormatChangeReaction);
};
constexpr KeyReaction kCaptionsReaction = [](SettingsFields& f, const platform::KnownFolders&) {
    if (!f.options.ShowCaptions) Call(f.window.CaptionsOffReaction);
};
// An empty folder becomes the Pictures folder, else the home folder; never the
// program's folder, which an installed copy cannot write.
constexpr KeyReaction kSaveFolderReaction = [](SettingsFields& f,
                                               const platform::KnownFolders& folders) {
    std::string& folder = f.options.SaveAsFolder;
    if (folder.empty()) folder = platform::PathToUtf8(platform::DefaultPicturesFolder(folders));
    Call(f.window.SaveFolderReaction);
};
constexpr KeyReaction kDualViewReaction = [](SettingsFields& f, const platform::KnownFolders&) {
    Call(f.window.DualViewReaction);
};
constexpr KeyReaction kModeReaction = [](SettingsFields& f, const platform::KnownFolders&) {
    Call(f.window.ModeSelection, f.settings.Mode);
};

using OS = OptimizationSettings;
using PO = ProgramOptions;
using WS = WindowSettings;
constexpr ReadPhase kPlacement = ReadPhase::WindowCreation;

// Every key of section "PIMO", in the order the start-up reads them. Columns
// left out: read at start-up, any value, the field's value as the default,
// no condition, no reaction.
// clang-format off
constexpr SettingsKey kKeys[] = {
    // Placement, read while the window is created.
    {.key = "Width", .field = Integer<&WS::Width>(), .readAt = kPlacement, .fixedDefault = 792,
     .writeIf = kWhenNormal},
    {.key = "Height", .field = Integer<&WS::Height>(), .readAt = kPlacement, .fixedDefault = 580,
     .writeIf = kWhenNormal},
    {.key = "WindowState", .field = Integer<&WS::WindowState>(), .readAt = kPlacement,
     .range = OrElse(0, 2, kWindowNormal), .fixedDefault = kWindowNormal, .writeIf = kUnlessMinimized},
    {.key = "Top", .field = Integer<&WS::Top>(), .readAt = kPlacement,
     .readIf = kTopOnDesktop, .writeIf = kUnlessMinimized},
    {.key = "Left", .field = Integer<&WS::Left>(), .readAt = kPlacement,
     .readIf = kLeftOnDesktop, .writeIf = kUnlessMinimized},

    // Format settings.
    {.key = "JPEGQuality", .field = Integer<&OS::JPEGQuality>(), .range = Clamp(1, 100)},
    {.key = "JPEGChromaSubsampling", .field = Integer<&OS::JPEGChromaSubsampling>(), .range = List(0, 3)},
    {.key = "JPEGProgressive", .field = Boolean<&OS::JPEGProgressive>()},
    {.key = "GIFPalettePreset", .field = Integer<&OS::GIFPalettePreset>(), .range = List(-1, 3),
     .afterRead = kGifPresetReaction},
    {.key = "GIFInterlaced", .field = Boolean<&OS::GIFInterlaced>()},
    {.key = "GIFQuantizationMethod", .field = Integer<&OS::GIFQuantizationMethod>(), .range = List(0, 2)},
    {.key = "PNGPalettePreset", .field = Integer<&OS::PNGPalettePreset>(), .range = List(-1, 4),
     .afterRead = kPngPresetReaction},
    {.key = "PNGQuantizationMethod", .field = Integer<&OS::PNGQuantizationMethod>(), .range = List(0, 2)},
    {.key = "Format", .field = Integer<&OS::Format>(), .range = Clamp(0, 2), .afterRead = kFormatReaction},
    {.key = "MetadataRemoveIPTC", .field = Boolean<&OS::MetadataRemoveIPTC>()},
    {.key = "MetadataRemoveXMP", .field = Boolean<&OS::MetadataRemoveXMP>()},
    {.key = "MetadataRemoveEXIF", .field = Boolean<&OS::MetadataRemoveEXIF>()},
    {.key = "MetadataRemoveComments", .field = Boolean<&OS::MetadataRemoveComments>()},
    {.key = "MetadataRemoveICC", .field = Boolean<&OS::MetadataRemoveICC>()},
    {.key = "TransparencyThreshold", .field = Integer<&OS::TransparencyThreshold>(), .range = Clamp(0, 254)},

    // Program options.
    {.key = "SaveSettingsOnExit", .field = Boolean<&PO::SaveSettingsOnExit>()},
    {.key = "ShowCaptions", .field = Boolean<&PO::ShowCaptions>(), .afterRead = kCaptionsReaction},
    {.key = "AskToResizeLargeImages", .field = Boolean<&PO::AskToResizeLargeImages>()},
    {.key = "LargeImagesResolution", .field = Integer<&PO::LargeImagesResolution>(), .range = Clamp(1, 20),
     .fixedDefault = 1, .readIf = kWhenAskingToResize, .writeIf = kWhenAskingToResize},
    {.key = "ZoomFactor", .field = Float<&PO::ZoomFactor>()},
    {.key = "AutoRotateEXIF", .field = Boolean<&PO::AutoRotateEXIF>()},
    {.key = "Check4Updates", .field = Boolean<&PO::Check4Updates>()},
    {.key = "ShowQualityScore", .field = Boolean<&PO::ShowQualityScore>()},
    // Missing or unreadable: day zero, so that the next start checks.
    {.key = "LastUpdateCheck", .field = Date<&PO::LastUpdateCheck>(), .fixedDefault = 0.0},
    {.key = "UseLatestCommonDialogs", .field = Boolean<&WS::UseLatestCommonDialogs>()},
    {.key = "SaveAsFolder", .field = Text<&PO::SaveAsFolder>(), .readIf = kUnlessLatestDialogs,
     .afterRead = kSaveFolderReaction},
    {.key = "ShowDialogOnSave", .field = Boolean<&PO::ShowDialogOnSave>()},
    {.key = "ResampleFilter", .field = Integer<&OS::ResampleFilter>(), .range = Clamp(0, 5)},
    {.key = "ResampleUnit", .field = Integer<&OS::ResampleUnit>(), .range = Clamp(0, 1)},
    {.key = "ResampleKeepAspectRatio", .field = Boolean<&OS::ResampleKeepAspectRatio>()},

    // View states.
    {.key = "DualView", .field = Boolean<&WS::DualView>(), .afterRead = kDualViewReaction},
    {.key = "FitOnlyBig", .field = Boolean<&WS::FitOnlyBig>()},
    {.key = "AutomaticPreview", .field = Boolean<&PO::AutomaticPreview>()},

    // PNG effort and the optimizer.
    {.key = "PNGSaveBestCompressionState", .field = Boolean<&PO::PNGSaveBestCompressionState>()},
    {.key = "PNGCompressionType", .field = Integer<&OS::PNGCompressionType>(), .range = List(0, 4),
     .readIf = kFastOrBestCompressionKept, .writeIf = kFastOrBestCompressionKept},
    {.key = "PNGSaveApplyOptimizerState", .field = Boolean<&PO::PNGSaveApplyOptimizerState>()},
    {.key = "PNGApplyOptimizer", .field = Boolean<&OS::PNGApplyOptimizer>(),
     .readIf = kWhenApplyOptimizerKept, .writeIf = kWhenApplyOptimizerKept},
    // The list has no selection yet when the presets read it.
    {.key = kPNGOptimizerKey, .field = Integer<&OS::PNGOptimizer>(), .readAt = ReadPhase::PresetSetUp,
     .fixedDefault = -1},

    // Image adjustments, kept only on request.
    {.key = "SaveImageAdjustments", .field = Boolean<&WS::SaveImageAdjustments>()},
    {.key = "AdjustBrightness", .field = Integer<&OS::AdjustBrightness>(), .range = Clamp(-100, 100),
     .readIf = kWhenAdjustmentsKept, .writeIf = kWhenAdjustmentsKept},
    {.key = "AdjustContrast", .field = Integer<&OS::AdjustContrast>(), .range = Clamp(-100, 100),
     .readIf = kWhenAdjustmentsKept, .writeIf = kWhenAdjustmentsKept},
    {.key = "AdjustGamma", .field = Integer<&OS::AdjustGamma>(), .range = Clamp(1, 800),
     .readIf = kWhenAdjustmentsKept, .writeIf = kWhenAdjustmentsKept},
    {.key = "AdjustInvert", .field = Boolean<&OS::AdjustInvert>(),
     .readIf = kWhenAdjustmentsKept, .writeIf = kWhenAdjustmentsKept},
    {.key = "AdjustGrayscale", .field = Boolean<&OS::AdjustGrayscale>(),
     .readIf = kWhenAdjustmentsKept, .writeIf = kWhenAdjustmentsKept},

    // The mode last: selecting it may act on everything above. Any value but
    // the three automatic modes selects manual mode.
    {.key = "Mode", .field = Integer<&OS::Mode>(),
     .range = OrElse(0, 3, engine::ModeNumber(engine::OptimizationMode::Manual)),
     .afterRead = kModeReaction},

    // Written by the options dialog, always false, for older versions; feeds nothing.
    {.key = "PNGDefaultUseFastCompression", .field = AlwaysFalse(), .readAt = ReadPhase::Never},
};
// clang-format on

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

KeyValue DefaultOf(const SettingsKey& key, const SettingsFields& fields) {
    if (!key.fixedDefault) return key.field.get(fields);
    const double fixed = *key.fixedDefault;
    switch (key.field.type) {
        case KeyType::Integer:
            return static_cast<int>(fixed);
        case KeyType::Boolean:
            return fixed != 0;
        case KeyType::Float:
        case KeyType::Date:
            return fixed;
        case KeyType::Text:
            break;
    }
    return std::string();
}

KeyValue ReadValue(const IniStore& store, const SettingsKey& key, const KeyValue& fallback) {
    switch (key.field.type) {
        case KeyType::Integer:
            return store.ReadInteger(kMainSection, key.key, std::get<int>(fallback));
        case KeyType::Boolean:
            return store.ReadBool(kMainSection, key.key, std::get<bool>(fallback));
        case KeyType::Float:
            return store.ReadFloat(kMainSection, key.key, std::get<double>(fallback));
        case KeyType::Date:
            return store.ReadDate(kMainSection, key.key, std::get<double>(fallback));
        case KeyType::Text:
            break;
    }
    return store.ReadString(kMainSection, key.key, std::get<std::string>(fallback));
}

KeyValue InRange(const KeyRange& range, KeyValue value) {
    int* number = std::get_if<int>(&value);
    if (number == nullptr || range.rule == KeyRange::Rule::Any) return value;
    if (range.rule == KeyRange::Rule::Clamp)
        *number = std::clamp(*number, range.min, range.max);
    else if (*number < range.min || *number > range.max)
        *number = range.fallback;
    return value;
}

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

// The warning for a stored number that is junk or out of the key's range.
std::optional<std::string> ValueWarning(const IniStore& store, const SettingsKey& key,
                                        const KeyValue& read, const KeyValue& used) {
    if (key.field.type != KeyType::Integer || !store.ValueExists(kMainSection, key.key))
        return std::nullopt;
    const std::string stored = store.ReadString(kMainSection, key.key, "");
    const std::string head = "Settings: " + std::string(key.key) + "=" + stored;
    const std::string instead = std::to_string(std::get<int>(used)) + " is used instead";
    if (!ParseInteger(stored)) return head + " is not a number; " + instead;
    if (std::get<int>(read) == std::get<int>(used)) return std::nullopt;
    return head + " is outside " + std::to_string(key.range.min) + ".." +
           std::to_string(key.range.max) + "; " + instead;
}

void LoadKey(const IniStore& store, const SettingsKey& key, SettingsFields& fields,
             const platform::KnownFolders& folders, std::vector<std::string>* warnings) {
    const KeyValue value = ReadValue(store, key, DefaultOf(key, fields));
    if (key.field.set != nullptr && (key.readIf == nullptr || key.readIf(fields, value))) {
        const KeyValue used = InRange(key.range, value);
        if (warnings) {
            if (std::optional<std::string> warning = ValueWarning(store, key, value, used))
                warnings->push_back(std::move(*warning));
        }
        key.field.set(fields, used);
    }
    if (key.afterRead != nullptr) key.afterRead(fields, folders);
}

void StoreKey(IniStore& store, const SettingsKey& key, const SettingsFields& fields) {
    const KeyValue value = key.field.get(fields);
    if (key.writeIf != nullptr && !key.writeIf(fields, value)) return;
    switch (key.field.type) {
        case KeyType::Integer:
            store.WriteInteger(kMainSection, key.key, std::get<int>(value));
            break;
        case KeyType::Boolean:
            store.WriteBool(kMainSection, key.key, std::get<bool>(value));
            break;
        case KeyType::Float:
            store.WriteFloat(kMainSection, key.key, std::get<double>(value));
            break;
        case KeyType::Date:
            store.WriteDate(kMainSection, key.key, std::get<double>(value));
            break;
        case KeyType::Text:
            store.WriteString(kMainSection, key.key, std::get<std::string>(value));
            break;
    }
}

}  // namespace pimo::settings
