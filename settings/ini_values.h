#pragma once
// How values are spelled in the INI files: integers (decimal, "0x" for
// hexadecimal), floating-point numbers and dates in the user's locale.

#include <optional>
#include <string>
#include <string_view>

namespace pimo::settings {

/// How the user's locale writes numbers and dates. The desktop application
/// fills it from the user's settings; the defaults suit any locale.
struct IniLocale {
    /// Decimal separator of floating-point values (may be more than one byte).
    std::string decimalSeparator = ".";
    /// Short date pattern: "d"/"dd" day, "M"/"MM" month, "yy" two-digit year,
    /// "yyyy" full year; every other character stands for itself.
    std::string shortDateFormat = "yyyy-MM-dd";
};

/// A decimal integer with an optional sign, or "0x"/"0X" and up to eight hex
/// digits (taken as a 32-bit pattern, so "0xFFFFFFFF" is -1). None when the
/// text is anything else or does not fit in 32 bits.
std::optional<int> ParseInteger(std::string_view text);

/// The shortest decimal form with at most 15 significant digits, with the
/// locale's decimal separator ("1.20000004768372" for the single-precision
/// 1.2); large and tiny magnitudes get an exponent ("1e+20").
std::string FormatFloat(double value, const IniLocale& locale);
/// Digits with an optional sign, the locale's decimal separator and an
/// optional exponent; none for anything else, including "inf" and "nan".
std::optional<double> ParseFloat(std::string_view text, const IniLocale& locale);

/// Dates are days since day zero, 30 December 1899, the time of day being the
/// fraction. The date part in the locale's short format; none when the value
/// lies outside the years 1 to 9999.
std::optional<std::string> FormatDate(double value, const IniLocale& locale);
/// Three numbers in the order day, month and year take in the short format,
/// separated by anything but letters; a year of one or two digits is 2000 to
/// 2049 or 1950 to 1999. None when the text is no valid date.
std::optional<double> ParseDate(std::string_view text, const IniLocale& locale);

}  // namespace pimo::settings
