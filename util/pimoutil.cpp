#include "util/pimoutil.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace pimo::util {

namespace {
NumberSeparators& Separators() {
    static NumberSeparators separators;
    return separators;
}
}  // namespace

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

void SetNumberSeparators(NumberSeparators separators) {
    Separators() = std::move(separators);
}
const NumberSeparators& CurrentNumberSeparators() {
    return Separators();
}

std::string FormatNumber(double x) {
    // Work in hundredths so that rounding happens once, away from zero.
    const double hundredths = std::trunc(std::fabs(x) * 100.0 + 0.5);
    const bool negative = x < 0 && hundredths > 0;
    const double whole = std::floor(hundredths / 100.0);
    const int fraction = static_cast<int>(hundredths - whole * 100.0);

    char digits[64];
    std::snprintf(digits, sizeof digits, "%.0f", whole);
    const std::string integer = digits;
    std::string grouped;
    for (std::size_t i = 0; i < integer.size(); ++i) {
        if (i > 0 && (integer.size() - i) % 3 == 0) grouped += Separators().thousands;
        grouped += integer[i];
    }

    std::string result = negative ? "-" + grouped : grouped;
    if (fraction != 0) {
        std::string decimals = {char('0' + fraction / 10), char('0' + fraction % 10)};
        if (decimals[1] == '0') decimals.pop_back();
        result += Separators().decimal + decimals;
    }
    return result;
}

std::string FormatFileSize(std::int32_t bytes) {
    if (bytes >= 1048576) return FormatNumber(bytes / 1048576.0) + " MiB";
    if (bytes < 1024) return FormatNumber(bytes) + " bytes";
    return FormatNumber(bytes / 1024.0) + " KiB";
}

std::optional<double> ParseDecimal(std::string_view text, std::string_view decimalSeparator,
                                   SurroundingSpaces spaces) {
    if (spaces == SurroundingSpaces::Allowed) {
        const auto IsSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
        while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    }
    const auto IsDigit = [](char c) { return c >= '0' && c <= '9'; };
    // Rebuild the number in the C form so that the conversion does not depend
    // on the process locale and accepts no words such as "inf".
    std::string plain;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    int digits = 0;
    while (i < text.size() && IsDigit(text[i])) plain += text[i++], ++digits;
    if (!decimalSeparator.empty() && text.substr(i, decimalSeparator.size()) == decimalSeparator) {
        plain += '.';
        i += decimalSeparator.size();
        while (i < text.size() && IsDigit(text[i])) plain += text[i++], ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        int exponentDigits = 0;
        while (i < text.size() && IsDigit(text[i])) plain += text[i++], ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;

    double value = 0;
    const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc{} || end != plain.data() + plain.size()) return std::nullopt;
    return value;
}

std::int32_t RoundHalfAway(double x) {
    return static_cast<std::int32_t>(x < 0 ? x - 0.5 : x + 0.5);
}

std::int64_t GetFileSizeOrMinusOne(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(PathFromUtf8(path), error);
    return error ? -1 : static_cast<std::int64_t>(size);
}

bool IsFileWritable(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = PathFromUtf8(path);
    if (!std::filesystem::is_regular_file(file, error)) return false;
    std::ofstream out(file, std::ios::binary | std::ios::app);
    return out.is_open();
}

}  // namespace pimo::util
