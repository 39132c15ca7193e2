#pragma once
// Size and number helpers shared by the engine, the batch runner and the windows.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pimo::util {

/// The user's number separators. The desktop application sets them from the
/// user's locale at start-up; the defaults are "," and ".".
struct NumberSeparators {
    std::string thousands = ",";
    std::string decimal = ".";
};
void SetNumberSeparators(NumberSeparators separators);
const NumberSeparators& CurrentNumberSeparators();

/// `x` with thousands separators and at most two decimals, without trailing
/// zeros (pattern "0,.##"); halves round away from zero.
std::string FormatNumber(double x);

/// A byte count for people: "n bytes" below 1024 (negatives included),
/// "x KiB" below 1048576, else "x MiB".
std::string FormatFileSize(std::int32_t bytes);

enum class SurroundingSpaces { Refused, Allowed };

/// A decimal number written with `decimalSeparator` ("-12,5", "3.25e2"),
/// read without regard to the process locale; nothing for any other text
/// (words such as "inf" included). Surrounding spaces are refused (settings
/// files) or allowed (what a user typed).
std::optional<double> ParseDecimal(std::string_view text, std::string_view decimalSeparator,
                                   SurroundingSpaces spaces = SurroundingSpaces::Refused);

/// Rounds halves away from zero, truncating to a 32-bit integer.
std::int32_t RoundHalfAway(double x);

/// A path from UTF-8 text and back, on every platform; the program keeps
/// paths as UTF-8 strings.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

/// Size of the file at `path` (UTF-8), -1 when there is no such file.
std::int64_t GetFileSizeOrMinusOne(const std::string& path);

/// True when the file exists and opens for writing (closed again at once).
bool IsFileWritable(const std::string& path);

}  // namespace pimo::util
