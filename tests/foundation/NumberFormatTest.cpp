#include "foundation/NumberFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <locale>
#include <random>
#include <string>

using namespace foundation;

namespace {

// Decimal comma and digit grouping, as many desktop locales have.
class CommaNumpunct : public std::numpunct<char> {
protected:
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// Switches the C and C++ locales to comma-decimal ones and back.
class CommaLocale {
public:
    CommaLocale() : savedGlobal_(std::locale()) {
        savedC_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                cLocaleChanged_ = true;
                break;
            }
        }
        std::locale::global(std::locale(std::locale::classic(), new CommaNumpunct));
    }
    ~CommaLocale() {
        std::locale::global(savedGlobal_);
        std::setlocale(LC_ALL, savedC_.c_str());
    }
    bool cLocaleChanged() const { return cLocaleChanged_; }

private:
    std::locale savedGlobal_;
    std::string savedC_;
    bool cLocaleChanged_ = false;
};

}  // namespace

TEST(NumberFormat, IgnoresTheProcessLocale) {
    CommaLocale locale;
    if (locale.cLocaleChanged()) {
        EXPECT_STREQ(std::localeconv()->decimal_point, ",");
    }
    EXPECT_EQ(formatFixed(3.14159, 2), "3.14");
    EXPECT_EQ(formatFixed(1234567.25, 1), "1234567.2");
    EXPECT_EQ(formatDouble(0.1), "0.1");
    EXPECT_EQ(formatDouble(1234567.5), "1234567.5");
    EXPECT_EQ(formatInteger(-1234567), "-1234567");
    EXPECT_EQ(formatUnsigned(1234567), "1234567");
    EXPECT_EQ(parseDouble("2.5"), 2.5);
    EXPECT_EQ(parseDouble("2,5"), std::nullopt);
    EXPECT_EQ(parseInt64("1234"), 1234);
}

TEST(NumberFormat, FixedMatchesPrintfInTheCLocale) {
    // Expected texts are what "%.*f" prints in the C locale: the exact binary value is
    // rounded, ties to even.
    EXPECT_EQ(formatFixed(0.125, 2), "0.12");
    EXPECT_EQ(formatFixed(0.375, 2), "0.38");
    EXPECT_EQ(formatFixed(2.5, 0), "2");
    EXPECT_EQ(formatFixed(3.5, 0), "4");
    EXPECT_EQ(formatFixed(1.005, 2), "1.00");  // 1.00499999999999989...
    EXPECT_EQ(formatFixed(0.0, 3), "0.000");
    EXPECT_EQ(formatFixed(-0.0, 2), "-0.00");
    EXPECT_EQ(formatFixed(-0.001, 2), "-0.00");
    EXPECT_EQ(formatFixed(-1.5, 1), "-1.5");
    EXPECT_EQ(formatFixed(1e21, 1), "1000000000000000000000.0");
    EXPECT_EQ(formatFixed(5e-324, 3), "0.000");
    EXPECT_EQ(formatFixed(std::numeric_limits<double>::infinity(), 2), "inf");
    EXPECT_EQ(formatFixed(-std::numeric_limits<double>::infinity(), 2), "-inf");
    EXPECT_EQ(formatFixed(std::nan(""), 2), "nan");
    EXPECT_EQ(formatFixed(1.5, -3), "2");

    std::string biggest = formatFixed(std::numeric_limits<double>::max(), 2);
    EXPECT_EQ(biggest.size(), 309u + 3u);
    EXPECT_TRUE(biggest.starts_with("17976931348623157"));
    EXPECT_TRUE(biggest.ends_with(".00"));
    std::string smallest = formatFixed(-std::numeric_limits<double>::denorm_min(), 1100);
    EXPECT_EQ(smallest.size(), 1u + 2u + 1100u);
    EXPECT_NE(smallest.find("4940656458412465"), std::string::npos);
}

TEST(NumberFormat, IntegersAtTheirLimits) {
    EXPECT_EQ(formatInteger(0), "0");
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(formatInteger(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
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
    EXPECT_EQ(parseDouble("7"), 7.0);
    // A string_view into a longer buffer stops where the view ends.
    std::string_view prefix = std::string_view("12345").substr(0, 2);
    EXPECT_EQ(parseInt64(prefix), 12);
}

TEST(NumberFormat, ShortestDoubleReadsBackExactly) {
    EXPECT_EQ(formatDouble(0.1), "0.1");
    EXPECT_EQ(formatDouble(100), "100");
    EXPECT_EQ(formatDouble(-0.0), "-0");
    EXPECT_EQ(formatDouble(1e21), "1e+21");
    EXPECT_EQ(formatDouble(5e-324), "5e-324");

    std::mt19937_64 random(42);
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        std::optional<double> back = parseDouble(formatDouble(value));
        ASSERT_TRUE(back.has_value()) << formatDouble(value);
        ASSERT_EQ(std::memcmp(&*back, &value, sizeof value), 0) << formatDouble(value);
    }
}
