// Spelling of integers, floating-point numbers and dates in the INI files.

#include "settings/ini_values.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pimo::settings {
namespace {

struct IntegerCase {
    const char* text;
    std::optional<int> value;
};

void PrintTo(const IntegerCase& c, std::ostream* out) {
    *out << "\"" << c.text << "\"";
}

class ParseIntegerTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(ParseIntegerTest, ReadsDecimalAndHexadecimal) {
    EXPECT_EQ(ParseInteger(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseIntegerTest,
    testing::Values(IntegerCase{"0", 0}, IntegerCase{"42", 42}, IntegerCase{"-7", -7},
                    IntegerCase{"+5", 5}, IntegerCase{"007", 7}, IntegerCase{"0x1F", 31},
                    IntegerCase{"0XfF", 255}, IntegerCase{"0x7FFFFFFF", 2147483647},
                    IntegerCase{"0xFFFFFFFF", -1}, IntegerCase{"2147483647", 2147483647},
                    IntegerCase{"-2147483648", -2147483647 - 1}, IntegerCase{"2147483648", {}},
                    IntegerCase{"0x100000000", {}}, IntegerCase{"0x", {}}, IntegerCase{"0xG", {}},
                    IntegerCase{"", {}}, IntegerCase{"12abc", {}}, IntegerCase{"1.5", {}},
                    IntegerCase{"+", {}}, IntegerCase{"+-1", {}}, IntegerCase{"true", {}},
                    IntegerCase{"$10", {}}));

struct FloatCase {
    double value;
    const char* separator;
    const char* text;
};

void PrintTo(const FloatCase& c, std::ostream* out) {
    *out << c.text;
}

class FormatFloatTest : public testing::TestWithParam<FloatCase> {};

TEST_P(FormatFloatTest, WritesTheShortestFormOfFifteenDigitsAndReadsItBack) {
    const IniLocale locale{GetParam().separator, "yyyy-MM-dd"};
    const std::string text = FormatFloat(GetParam().value, locale);
    EXPECT_EQ(text, GetParam().text);
    const std::optional<double> back = ParseFloat(text, locale);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_NEAR(*back, GetParam().value, std::fabs(GetParam().value) * 1e-14);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatFloatTest,
    testing::Values(
        // The single-precision zoom factor is written as the double it becomes.
        FloatCase{static_cast<double>(1.2f), ".", "1.20000004768372"},
        FloatCase{static_cast<double>(1.2f), ",", "1,20000004768372"},
        FloatCase{static_cast<double>(1.05f), ",", "1,04999995231628"}, FloatCase{1.2, ".", "1.2"},
        FloatCase{0.1, ",", "0,1"}, FloatCase{2.0, ",", "2"}, FloatCase{-0.5, ".", "-0.5"},
        FloatCase{1.0 / 3.0, ".", "0.333333333333333"},
        FloatCase{123456789012345.0, ".", "123456789012345"}, FloatCase{1e20, ".", "1e+20"},
        FloatCase{0.00001, ".", "1e-05"},
        // A separator of more than one byte (Arabic decimal separator).
        FloatCase{2.5, "\xD9\xAB",
                  "2\xD9\xAB"
                  "5"}));

TEST(ParseFloatTest, AcceptsOnlyTheLocalesForm) {
    const IniLocale comma{",", "dd.MM.yyyy"};
    EXPECT_EQ(ParseFloat("1,5", comma), 1.5);
    EXPECT_EQ(ParseFloat("-1,5E2", comma), -150.0);
    EXPECT_EQ(ParseFloat("+3", comma), 3.0);
    EXPECT_EQ(ParseFloat(",5", comma), 0.5);
    EXPECT_EQ(ParseFloat("1.5", comma), std::nullopt);
    const IniLocale point;
    EXPECT_EQ(ParseFloat("1.5", point), 1.5);
    for (const char* bad :
         {"", ".", "1,5", "1e", "1e+", "inf", "nan", "0x10", "1.5x", "- 1", "1 .5"})
        EXPECT_EQ(ParseFloat(bad, point), std::nullopt) << bad;
    EXPECT_EQ(ParseFloat("1e999", point), std::nullopt);
}

struct DateCase {
    const char* pattern;
    double day;
    const char* text;
};

void PrintTo(const DateCase& c, std::ostream* out) {
    *out << c.pattern << " " << c.text;
}

class DateFormatTest : public testing::TestWithParam<DateCase> {};

TEST_P(DateFormatTest, WritesTheShortDateAndReadsItBack) {
    const IniLocale locale{".", GetParam().pattern};
    EXPECT_EQ(FormatDate(GetParam().day, locale), std::string(GetParam().text));
    EXPECT_EQ(ParseDate(GetParam().text, locale), std::trunc(GetParam().day));
}

INSTANTIATE_TEST_SUITE_P(Cases, DateFormatTest,
                         testing::Values(DateCase{"yyyy-MM-dd", 45306.0, "2024-01-15"},
                                         DateCase{"yyyy-MM-dd", 45306.99, "2024-01-15"},
                                         DateCase{"dd.MM.yyyy", 45306.0, "15.01.2024"},
                                         DateCase{"M/d/yyyy", 45306.0, "1/15/2024"},
                                         DateCase{"d/M/yy", 45333.0, "11/2/24"},
                                         DateCase{"dd/MM/yy", 36526.0, "01/01/00"},
                                         DateCase{"yyyy-MM-dd", 0.0, "1899-12-30"},
                                         DateCase{"yyyy-MM-dd", 60.0, "1900-02-28"},
                                         DateCase{"yyyy-MM-dd", -693593.0, "0001-01-01"},
                                         DateCase{"yyyy-MM-dd", 2958465.0, "9999-12-31"}));

TEST(ParseDateTest, FollowsThePatternsOrderAndRejectsNonDates) {
    const IniLocale german{",", "dd.MM.yyyy"};
    const IniLocale american{".", "M/d/yyyy"};
    // The same text is a different day in each order.
    EXPECT_EQ(ParseDate("02.03.2024", german), ParseDate("3/2/2024", american));
    EXPECT_NE(ParseDate("02.03.2024", german), ParseDate("2/3/2024", american));
    // Two-digit years fall into 1950 to 2049.
    EXPECT_EQ(ParseDate("1.1.49", german), ParseDate("1.1.2049", german));
    EXPECT_EQ(ParseDate("1.1.50", german), ParseDate("1.1.1950", german));
    for (const char* bad : {"", "31.02.2024", "15.13.2024", "0.1.2024", "15.01", "15.01.2024.1",
                            "15 Jan 2024", "123.01.2024", "15.01.20245", "2024-01-15 10:30"})
        EXPECT_EQ(ParseDate(bad, german), std::nullopt) << bad;
    EXPECT_EQ(FormatDate(std::nan(""), german), std::nullopt);
    EXPECT_EQ(FormatDate(2958466.0, german), std::nullopt);
}

}  // namespace
}  // namespace pimo::settings
