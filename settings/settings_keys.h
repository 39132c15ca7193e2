#pragma once
// The keys of section "PIMO" of the settings file, each declared once: its
// name, the field it feeds, its type, the default used when reading, how a
// value out of range is treated, when it is read and under which conditions
// it is read and written, and the reaction that follows reading it. Loading,
// saving and the options dialog's write all come from this one table.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "settings/window_settings.h"

namespace pimo::platform {
class KnownFolders;
}

namespace pimo::settings {

class IniStore;

inline constexpr std::string_view kMainSection = "PIMO";
/// Read when the optimizer presets are built, written with the others at close.
inline constexpr std::string_view kPNGOptimizerKey = "PNGOptimizer";

enum class KeyType { Integer, Boolean, Float, Date, Text };

/// When a key is read: while the window is created (placement), by the
/// deferred start-up step, when the optimizer presets are built, or never.
enum class ReadPhase { WindowCreation, StartUp, PresetSetUp, Never };

/// Integers, booleans, floats and dates (days, as double), texts.
using KeyValue = std::variant<int, bool, double, std::string>;

/// What becomes of an integer read outside [min, max]: kept, clamped (the
/// value of a scroll bar or spin edit), or replaced by `fallback` (a list
/// selects nothing, -1).
struct KeyRange {
    enum class Rule { Any, Clamp, Fallback };
    Rule rule = Rule::Any;
    int min = 0;
    int max = 0;
    int fallback = 0;
};

/// How a key reaches its field. `set` is null for a key that feeds nothing.
struct FieldBinding {
    KeyType type;
    KeyValue (*get)(const SettingsFields&);
    void (*set)(SettingsFields&, const KeyValue&);
};

/// A condition over the fields and a value: the value read (before its range
/// is applied) or the value about to be written.
using KeyCondition = bool (*)(const SettingsFields&, const KeyValue&);
using KeyReaction = void (*)(SettingsFields&, const platform::KnownFolders&);

struct SettingsKey {
    std::string_view key;
    FieldBinding field;
    ReadPhase readAt = ReadPhase::StartUp;
    KeyRange range{};
    /// The default when reading; none means the value the field holds.
    std::optional<double> fixedDefault{};
    KeyCondition readIf = nullptr;   // null: always
    KeyCondition writeIf = nullptr;  // null: always
    /// Runs after the key was read, whether or not the value was applied.
    KeyReaction afterRead = nullptr;
};

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
/// A number the file holds that is no number or lies outside the key's range
/// adds a line to `warnings` (when given) naming the key, the value and the
/// value used instead.
void LoadKey(const IniStore& store, const SettingsKey& key, SettingsFields& fields,
             const platform::KnownFolders& folders, std::vector<std::string>* warnings = nullptr);
/// Writes the field's current value to section "PIMO" when the key's write
/// condition holds. Throws IniError for a value the file cannot hold.
void StoreKey(IniStore& store, const SettingsKey& key, const SettingsFields& fields);

}  // namespace pimo::settings
