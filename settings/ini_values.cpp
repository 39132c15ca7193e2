#include "settings/ini_values.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "util/pimoutil.h"

namespace pimo::settings {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr std::chrono::sys_days kDayZero{std::chrono::year{1899} / 12 / 30};
// The serial numbers of 1 January 1 and 31 December 9999.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958465;

enum class DatePart { Day, Month, Year };

struct DateToken {
    bool literal;
    DatePart part;   // when not literal
    int width;       // letters in the pattern run
    char character;  // when literal
};

std::vector<DateToken> DateTokens(std::string_view pattern) {
    std::vector<DateToken> tokens;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c != 'd' && c != 'M' && c != 'y') {
            tokens.push_back({true, DatePart::Day, 0, c});
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < pattern.size() && pattern[end] == c) ++end;
        const DatePart part = c == 'd'   ? DatePart::Day
                              : c == 'M' ? DatePart::Month
                                         : DatePart::Year;
        tokens.push_back({false, part, static_cast<int>(end - i), c});
        i = end;
    }
    return tokens;
}

/// The order in which day, month and year appear in the pattern; parts the
/// pattern lacks follow in the order year, month, day.
std::vector<DatePart> DatePartOrder(std::string_view pattern) {
    std::vector<DatePart> order;
    auto add = [&order](DatePart part) {
        for (DatePart seen : order)
            if (seen == part) return;
        order.push_back(part);
    };
    for (const DateToken& token : DateTokens(pattern))
        if (!token.literal) add(token.part);
    for (DatePart part : {DatePart::Year, DatePart::Month, DatePart::Day}) add(part);
    return order;
}

std::string Padded(int value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

}  // namespace

std::optional<int> ParseInteger(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint64_t value = 0;
        const std::string_view digits = text.substr(2);
        if (digits.size() > 16) return std::nullopt;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (error != std::errc{} || end != digits.data() + digits.size() || value > 0xFFFFFFFFu)
            return std::nullopt;
        return static_cast<int>(static_cast<std::uint32_t>(value));
    }
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && !IsDigit(text[0])) return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string FormatFloat(double value, const IniLocale& locale) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    std::string text(buffer.data(), result.ptr);
    if (const std::size_t point = text.find('.'); point != std::string::npos)
        text.replace(point, 1, locale.decimalSeparator);
    return text;
}

std::optional<double> ParseFloat(std::string_view text, const IniLocale& locale) {
    return util::ParseDecimal(text, locale.decimalSeparator);
}

std::optional<std::string> FormatDate(double value, const IniLocale& locale) {
    if (!std::isfinite(value)) return std::nullopt;
    // The date part: the time of day is dropped (toward zero, as day numbers
    // before day zero carry their time as a positive fraction).
    const double day = std::trunc(value);
    if (day < kFirstDay || day > kLastDay) return std::nullopt;
    const std::chrono::year_month_day date{kDayZero + std::chrono::days{static_cast<int>(day)}};
    const int years = static_cast<int>(date.year());
    const int months = static_cast<int>(static_cast<unsigned>(date.month()));
    const int days = static_cast<int>(static_cast<unsigned>(date.day()));
    std::string text;
    for (const DateToken& token : DateTokens(locale.shortDateFormat)) {
        if (token.literal) {
            text += token.character;
        } else if (token.part == DatePart::Day) {
            text += Padded(days, token.width >= 2 ? 2 : 1);
        } else if (token.part == DatePart::Month) {
            text += Padded(months, token.width >= 2 ? 2 : 1);
        } else {
            text += token.width <= 2 ? Padded(years % 100, 2) : Padded(years, 4);
        }
    }
    return text;
}

std::optional<double> ParseDate(std::string_view text, const IniLocale& locale) {
    std::vector<std::string_view> numbers;
    for (std::size_t i = 0; i < text.size();) {
        if (IsLetter(text[i])) return std::nullopt;
        if (!IsDigit(text[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < text.size() && IsDigit(text[i])) ++i;
        numbers.push_back(text.substr(start, i - start));
    }
    if (numbers.size() != 3) return std::nullopt;
    int day = 0, month = 0, year = 0;
    const std::vector<DatePart> order = DatePartOrder(locale.shortDateFormat);
    for (std::size_t n = 0; n < 3; ++n) {
        const std::string_view digits = numbers[n];
        const bool isYear = order[n] == DatePart::Year;
        if (digits.size() > (isYear ? 4u : 2u)) return std::nullopt;
        int value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (order[n] == DatePart::Day) day = value;
        if (order[n] == DatePart::Month) month = value;
        if (isYear) year = digits.size() <= 2 ? value + (value < 50 ? 2000 : 1900) : value;
    }
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (year < 1 || !date.ok()) return std::nullopt;
    return static_cast<double>((std::chrono::sys_days{date} - kDayZero).count());
}

}  // namespace pimo::settings
