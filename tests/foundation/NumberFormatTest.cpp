#include "foundation/NumberFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale>
#include <random>
#include <string>
#include <vector>

using namespace foundation;

namespace {

// Decimal comma and digit grouping, as many desktop locales have.
class CommaNumpunct : public std::numpunct<char> {
protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

double randomDouble(std::mt19937_64& random) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

TEST(NumberFormat, IgnoresTheProcessLocale) {
    const std::locale savedGlobal;
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) break;
    }
    std::locale::global(std::locale(std::locale::classic(), new CommaNumpunct));
    EXPECT_EQ(formatFixed(1234567.25, 1), "1234567.2");
    EXPECT_EQ(formatDouble(1234567.5), "1234567.5");
    EXPECT_EQ(formatInteger(-1234567), "-1234567");
    EXPECT_EQ(formatUnsigned(1234567), "1234567");
    EXPECT_EQ(parseDouble("2.5"), 2.5);
    EXPECT_EQ(parseDouble("2,5"), std::nullopt);
    std::locale::global(savedGlobal);
    std::setlocale(LC_ALL, savedC.c_str());
}

TEST(NumberFormat, FixedMatchesPrintfInTheCLocale) {
    // Ties of the exact binary value, signed zeros, extremes and non-finite values.
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {
        0.125, 0.375,  2.5,         3.5,    1.005,
        -0.0,  -0.001, 1e21,        5e-324, std::numeric_limits<double>::max(),
        inf,   -inf,   std::nan("")};
    std::mt19937_64 random(7);
    while (values.size() < 2000) {
        double value = randomDouble(random);
        if (std::isfinite(value)) values.push_back(value);
    }
    for (double value : values) {
        for (int decimals : {0, 1, 2, 3, 17}) {
            char expected[400];  // fits the largest double with 17 decimals
            std::snprintf(expected, sizeof expected, "%.*f", decimals, value);
            ASSERT_EQ(formatFixed(value, decimals), expected) << decimals;
        }
    }
    EXPECT_EQ(formatFixed(1.5, -3), "2");
    std::string smallest = formatFixed(-std::numeric_limits<double>::denorm_min(), 1100);
    EXPECT_EQ(smallest.size(), 1u + 2u + 1100u);
    EXPECT_NE(smallest.find("4940656458412465"), std::string::npos);
}

TEST(NumberFormat, IntegersAtTheirLimits) {
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(formatUnsigned(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
    EXPECT_EQ(parseInt64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(parseInt64("9223372036854775808"), std::nullopt);
    EXPECT_EQ(parseUInt64("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(parseUInt64("18446744073709551616"), std::nullopt);
    EXPECT_EQ(parseUInt64("-1"), std::nullopt);
}

TEST(NumberFormat, ParsingConsumesTheWholeText) {
    for (const char* text : {"", " 1", "1 ", "+1", "1x", "0x10", "-", "1.0", "١"}) {
        EXPECT_EQ(parseInt64(text), std::nullopt) << '"' << text << '"';
        EXPECT_EQ(parseUInt64(text), std::nullopt) << '"' << text << '"';
    }
    for (const char* text : {"", " 1.5", "1.5 ", "1.5.", "1e", "e5", "0x1p3", "1e400"}) {
        EXPECT_EQ(parseDouble(text), std::nullopt) << '"' << text << '"';
    }
    EXPECT_EQ(parseDouble("-1.5e3"), -1500.0);
    // A string_view into a longer buffer stops where the view ends.
    EXPECT_EQ(parseInt64(std::string_view("12345").substr(0, 2)), 12);
}

TEST(NumberFormat, ShortestDoubleReadsBackExactly) {
    EXPECT_EQ(formatDouble(0.1), "0.1");  // the shortest, not "0.10000000000000001"
    std::mt19937_64 random(42);
    for (int i = 0; i < 20000; ++i) {
        double value = randomDouble(random);
        if (!std::isfinite(value)) continue;
        std::optional<double> back = parseDouble(formatDouble(value));
        ASSERT_TRUE(back.has_value()) << formatDouble(value);
        ASSERT_EQ(std::memcmp(&*back, &value, sizeof value), 0) << formatDouble(value);
    }
}
