#pragma once
// How a key of the settings file is declared: its name, the field it feeds,
// its type, the default used when reading, its range, the conditions under
// which it is read and written and the reaction that follows reading it.
// Every section's table is made of these declarations, and reading and
// writing a key go through the same two functions, so that a value found
// out of range or unreadable is treated, and reported, the same way in every
// section.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace pimo::platform {
class KnownFolders;
}

namespace pimo::settings {

class IniStore;

/// How a value is spelled in the file. `Float` keys may feed a text field
/// (an edit showing the number): the text is the number in the file's
/// locale.
enum class KeyType { Integer, Boolean, Float, Date, Text };

/// When a key is read: while the window is created (placement), by the
/// deferred start-up step, when the optimizer presets are built, or never.
enum class ReadPhase { WindowCreation, StartUp, PresetSetUp, Never };

/// Integers, booleans, floats and dates (days, as double), texts.
using KeyValue = std::variant<int, bool, double, std::string>;

/// Problems found while reading, one line per key: "Settings: KEY=VALUE is
/// out of range MIN..MAX; USED is used" or "Settings: KEY=VALUE is not a
/// whole number; USED is used" (a number, a date for the other types).
using SettingsWarnings = std::vector<std::string>;

/// The values a key accepts and what becomes of a value read outside
/// [min, max]: kept (`Any`), clamped (a scroll bar or spin edit), or
/// replaced by `fallback` (a list selects nothing, -1). Integer keys have
/// whole bounds; float keys are compared in single precision, the precision
/// the program keeps them in.
struct KeyRange {
    enum class Rule { Any, Clamp, Fallback };
    Rule rule = Rule::Any;
    double min = 0;
    double max = 0;
    double fallback = 0;

    constexpr int intMin() const { return static_cast<int>(min); }
    constexpr int intMax() const { return static_cast<int>(max); }
    constexpr bool contains(double value) const {
        return rule == Rule::Any || (value >= min && value <= max);
    }
};

constexpr KeyRange Clamp(double min, double max) {
    return {KeyRange::Rule::Clamp, min, max, 0};
}
/// A list: a value outside it selects nothing.
constexpr KeyRange List(int min, int max) {
    return {KeyRange::Rule::Fallback, static_cast<double>(min), static_cast<double>(max), -1};
}
constexpr KeyRange OrElse(int min, int max, int fallback) {
    return {KeyRange::Rule::Fallback, static_cast<double>(min), static_cast<double>(max),
            static_cast<double>(fallback)};
}

/// How a key reaches its field in `Fields` (a record, or a bundle of
/// records). `set` is null for a key that feeds nothing.
template <class Fields>
struct FieldBinding {
    KeyType type;
    KeyValue (*get)(const Fields&);
    void (*set)(Fields&, const KeyValue&);
    /// A number in the file kept as text in the field.
    bool numberAsText = false;
};

/// One key of a section's table.
template <class Fields>
struct Key {
    /// A condition over the fields and a value: the value read (before its
    /// range is applied) or the value about to be written.
    using Condition = bool (*)(const Fields&, const KeyValue&);
    using Reaction = void (*)(Fields&, const platform::KnownFolders&);

    std::string_view key;
    FieldBinding<Fields> field;
    ReadPhase readAt = ReadPhase::StartUp;
    KeyRange range{};
    /// The default when reading; none means the value the field holds.
    std::optional<double> fixedDefault{};
    Condition readIf = nullptr;   // null: always
    Condition writeIf = nullptr;  // null: always
    /// Runs after the key was read, whether or not the value was applied.
    Reaction afterRead = nullptr;
};

/// The range declared for `name` in `keys`; a name that is not there stops
/// the build.
template <class Fields, std::size_t N>
consteval KeyRange RangeIn(const Key<Fields> (&keys)[N], std::string_view name) {
    for (const Key<Fields>& key : keys)
        if (key.key == name) return key.range;
    throw "no such key";
}

// ---- Binding a key to a field ----

/// The record of type `Record` in `fields`: the fields themselves, or one of
/// the records a bundle hands out with `record<Record>()`.
template <class Record, class Fields>
const Record& RecordIn(const Fields& fields) {
    if constexpr (std::is_same_v<Record, Fields>)
        return fields;
    else
        return fields.template record<Record>();
}
template <class Record, class Fields>
Record& RecordIn(Fields& fields) {
    if constexpr (std::is_same_v<Record, Fields>)
        return fields;
    else
        return fields.template record<Record>();
}

template <auto Member>
struct MemberOf;
template <class R, class T, T R::*M>
struct MemberOf<M> {
    using Record = R;
    using Type = T;
};

template <class Fields, auto Member, KeyType Type>
constexpr FieldBinding<Fields> Bind() {
    using Record = typename MemberOf<Member>::Record;
    using T = typename MemberOf<Member>::Type;
    static_assert(
        (Type == KeyType::Integer && (std::is_same_v<T, int> || std::is_enum_v<T>)) ||
        (Type == KeyType::Boolean && std::is_same_v<T, bool>) ||
        (Type == KeyType::Float && (std::is_same_v<T, float> || std::is_same_v<T, double> ||
                                    std::is_same_v<T, std::string>)) ||
        (Type == KeyType::Date && std::is_same_v<T, double>) ||
        (Type == KeyType::Text && std::is_same_v<T, std::string>));
    return {Type,
            [](const Fields& fields) -> KeyValue {
                const T& value = RecordIn<Record>(fields).*Member;
                // A single-precision field is written as the double it converts to.
                if constexpr (std::is_same_v<T, float>)
                    return static_cast<double>(value);
                else if constexpr (std::is_enum_v<T>)
                    return static_cast<int>(value);  // stored as its number
                else
                    return value;
            },
            [](Fields& fields, const KeyValue& value) {
                T& field = RecordIn<Record>(fields).*Member;
                if constexpr (std::is_same_v<T, float>)
                    field = static_cast<float>(std::get<double>(value));
                else if constexpr (std::is_enum_v<T>)
                    field = static_cast<T>(std::get<int>(value));  // brought into range before
                else
                    field = std::get<T>(value);
            },
            Type == KeyType::Float&& std::is_same_v<T, std::string>};
}

/// The binding of one section's keys to its `Fields`.
template <class Fields>
struct Bindings {
    template <auto Member>
    static constexpr FieldBinding<Fields> Integer() {
        return Bind<Fields, Member, KeyType::Integer>();
    }
    template <auto Member>
    static constexpr FieldBinding<Fields> Boolean() {
        return Bind<Fields, Member, KeyType::Boolean>();
    }
    template <auto Member>
    static constexpr FieldBinding<Fields> Float() {
        return Bind<Fields, Member, KeyType::Float>();
    }
    template <auto Member>
    static constexpr FieldBinding<Fields> Date() {
        return Bind<Fields, Member, KeyType::Date>();
    }
    template <auto Member>
    static constexpr FieldBinding<Fields> Text() {
        return Bind<Fields, Member, KeyType::Text>();
    }
};

// ---- Reading and writing one value ----

/// A value as read from the file.
struct ReadValue {
    KeyValue value;    // the value, or the fallback when missing or unreadable
    std::string text;  // as the file spells it; empty when missing
    bool unreadable = false;
};

/// The value of `key` in `section` read as `type`, or `fallback` when the
/// key is missing or its value does not read as the type.
ReadValue ReadKeyValue(const IniStore& store, std::string_view section, std::string_view key,
                       KeyType type, const KeyValue& fallback);
/// The value to apply: an unreadable one gives `fallback`, one outside
/// `range` is clamped or replaced; either adds a warning naming `key` and the
/// text read.
KeyValue CheckedKeyValue(const IniStore& store, std::string_view key, KeyType type,
                         const KeyRange& range, const ReadValue& read, const KeyValue& fallback,
                         SettingsWarnings& warnings);
/// Writes `value` as `type`. Throws IniError for a value the file cannot
/// hold.
void WriteKeyValue(IniStore& store, std::string_view section, std::string_view key, KeyType type,
                   const KeyValue& value);
/// A number kept as text, as the file holds it (0 for a text that is no
/// number), and back.
double NumberOfText(const IniStore& store, const std::string& text);
std::string TextOfNumber(const IniStore& store, double number);

template <class Fields>
KeyValue DefaultOf(const Key<Fields>& key, const Fields& fields) {
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

/// Reads `key` from `section` and, when its read condition holds, puts the
/// value, brought into range, into its field; then runs its reaction. A
/// value that is unreadable or out of range adds a warning to `warnings`.
template <class Fields>
void LoadKey(const IniStore& store, std::string_view section, const Key<Fields>& key,
             Fields& fields, const platform::KnownFolders& folders, SettingsWarnings& warnings) {
    KeyValue fallback = DefaultOf(key, fields);
    if (const std::string* text = std::get_if<std::string>(&fallback);
        key.field.numberAsText && text)
        fallback = NumberOfText(store, *text);
    const ReadValue read = ReadKeyValue(store, section, key.key, key.field.type, fallback);
    // Conditions see the value as the file gives it; only a value that is
    // applied is checked and reported.
    if (key.field.set != nullptr && (key.readIf == nullptr || key.readIf(fields, read.value))) {
        KeyValue value =
            CheckedKeyValue(store, key.key, key.field.type, key.range, read, fallback, warnings);
        if (key.field.numberAsText) value = TextOfNumber(store, std::get<double>(value));
        key.field.set(fields, value);
    }
    if (key.afterRead != nullptr) key.afterRead(fields, folders);
}

/// Writes the field's current value to `section` when the key's write
/// condition holds. Throws IniError for a value the file cannot hold.
template <class Fields>
void StoreKey(IniStore& store, std::string_view section, const Key<Fields>& key,
              const Fields& fields) {
    KeyValue value = key.field.get(fields);
    if (key.writeIf != nullptr && !key.writeIf(fields, value)) return;
    if (key.field.numberAsText) value = NumberOfText(store, std::get<std::string>(value));
    WriteKeyValue(store, section, key.key, key.field.type, value);
}

}  // namespace pimo::settings
