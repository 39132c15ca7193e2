#include "settings/key_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "settings/ini_store.h"
#include "util/pimoutil.h"

namespace pimo::settings {

namespace {

std::string TextOf(const IniStore& store, KeyType type, const KeyValue& value) {
    if (const int* number = std::get_if<int>(&value)) return std::to_string(*number);
    if (const bool* flag = std::get_if<bool>(&value)) return *flag ? "1" : "0";
    if (const double* number = std::get_if<double>(&value)) {
        if (type == KeyType::Date)
            return FormatDate(*number, store.locale()).value_or(FormatFloat(*number, {}));
        // Six significant digits: a float field's 1.2 reads as 1.2, not as
        // the double nearest to the float.
        char rounded[32];
        std::snprintf(rounded, sizeof rounded, "%.6g", *number);
        return FormatFloat(std::strtod(rounded, nullptr), store.locale());
    }
    return std::get<std::string>(value);
}

std::string_view WhatItIsNot(KeyType type) {
    switch (type) {
        case KeyType::Integer:
        case KeyType::Boolean:
            return "is not a whole number";
        case KeyType::Float:
            return "is not a number";
        case KeyType::Date:
            return "is not a date";
        case KeyType::Text:
            break;
    }
    return "cannot be read";
}

std::string RangeText(const IniStore& store, KeyType type, const KeyRange& range) {
    if (type == KeyType::Integer)
        return std::to_string(range.intMin()) + ".." + std::to_string(range.intMax());
    return FormatFloat(range.min, store.locale()) + ".." + FormatFloat(range.max, store.locale());
}

/// The value in range, or none when `value` already is.
std::optional<KeyValue> Corrected(const KeyRange& range, const KeyValue& value) {
    if (range.rule == KeyRange::Rule::Any) return std::nullopt;
    if (const int* number = std::get_if<int>(&value)) {
        if (range.contains(*number)) return std::nullopt;
        if (range.rule == KeyRange::Rule::Fallback) return static_cast<int>(range.fallback);
        return std::clamp(*number, range.intMin(), range.intMax());
    }
    if (const double* number = std::get_if<double>(&value)) {
        // Compared as the single-precision values the program keeps, so that
        // a bound written back from a float field reads as in range.
        const float single = static_cast<float>(*number);
        if (single >= static_cast<float>(range.min) && single <= static_cast<float>(range.max))
            return std::nullopt;
        if (range.rule == KeyRange::Rule::Fallback) return range.fallback;
        return std::clamp(*number, range.min, range.max);
    }
    return std::nullopt;
}

}  // namespace

ReadValue ReadKeyValue(const IniStore& store, std::string_view section, std::string_view key,
                       KeyType type, const KeyValue& fallback) {
    if (!store.ValueExists(section, key)) return {fallback, "", false};
    std::string text = store.ReadString(section, key, "");
    std::optional<KeyValue> value;
    switch (type) {
        case KeyType::Integer:
            if (const std::optional<int> number = ParseInteger(text)) value = *number;
            break;
        case KeyType::Boolean:
            // Any integer other than 0 is true.
            if (const std::optional<int> number = ParseInteger(text)) value = *number != 0;
            break;
        case KeyType::Float:
            if (const std::optional<double> number = ParseFloat(text, store.locale()))
                value = *number;
            break;
        case KeyType::Date:
            if (const std::optional<double> date = ParseDate(text, store.locale())) value = *date;
            break;
        case KeyType::Text:
            value = text;
            break;
    }
    if (!value) return {fallback, std::move(text), true};
    return {std::move(*value), std::move(text), false};
}

KeyValue CheckedKeyValue(const IniStore& store, std::string_view key, KeyType type,
                         const KeyRange& range, const ReadValue& read, const KeyValue& fallback,
                         SettingsWarnings& warnings) {
    const std::string prefix = "Settings: " + std::string(key) + "=" + read.text + " ";
    if (read.unreadable) {
        const KeyValue used = Corrected(range, fallback).value_or(fallback);
        warnings.push_back(prefix + std::string(WhatItIsNot(type)) + "; " +
                           TextOf(store, type, used) + " is used instead");
        return used;
    }
    const std::optional<KeyValue> corrected = Corrected(range, read.value);
    if (!corrected) return read.value;
    warnings.push_back(prefix + "is outside " + RangeText(store, type, range) + "; " +
                       TextOf(store, type, *corrected) + " is used instead");
    return *corrected;
}

void WriteKeyValue(IniStore& store, std::string_view section, std::string_view key, KeyType type,
                   const KeyValue& value) {
    switch (type) {
        case KeyType::Integer:
            store.WriteInteger(section, key, std::get<int>(value));
            break;
        case KeyType::Boolean:
            store.WriteBool(section, key, std::get<bool>(value));
            break;
        case KeyType::Float:
            store.WriteFloat(section, key, std::get<double>(value));
            break;
        case KeyType::Date:
            store.WriteDate(section, key, std::get<double>(value));
            break;
        case KeyType::Text:
            store.WriteString(section, key, std::get<std::string>(value));
            break;
    }
}

double NumberOfText(const IniStore& store, const std::string& text) {
    return util::ParseDecimal(text, store.locale().decimalSeparator,
                              util::SurroundingSpaces::Allowed)
        .value_or(0.0);
}

std::string TextOfNumber(const IniStore& store, double number) {
    return FormatFloat(number, store.locale());
}

}  // namespace pimo::settings
