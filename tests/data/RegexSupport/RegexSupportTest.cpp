#include <gtest/gtest.h>

#include <unicode/parseerr.h>
#include <unicode/utypes.h>

#include <atomic>
#include <thread>

#include "data/RegexSupport/RGXRegexCache.h"
#include "data/RegexSupport/RegexSupport.h"
#include "foundation/Utf8.h"

namespace {

using Strings = std::vector<std::string>;
using NSString::RegexCall;

TEST(RegexSupportTest, MatchesAndRangesCountUtf8Bytes) {
    const std::string text =
        "caf\xC3\xA9 12 \xE2\x82\xAC"
        "345";
    EXPECT_TRUE(NSString::isMatchedByRegex(text, "\\d+"));
    EXPECT_FALSE(NSString::isMatchedByRegex(text, "x"));
    EXPECT_EQ(NSString::rangeOfRegex(text, "\\d+"), (RGXRange{6, 2}));
    EXPECT_EQ(NSString::rangeOfRegex(text, "(\xE2\x82\xAC)(\\d)", 2), (RGXRange{12, 1}));
    EXPECT_EQ(NSString::rangeOfRegex(text, "q"), (RGXRange{RGXNotFound, 0}));
    EXPECT_EQ(NSString::stringByMatching(text, "caf(.)"), "caf\xC3\xA9");
    EXPECT_EQ(NSString::stringByMatching(text, "caf(.)", 1), "\xC3\xA9");
    EXPECT_EQ(NSString::stringByMatching(text, "(x)?\\d", 1), "");  // capture not taking part
    // Only the range is searched.
    EXPECT_EQ(
        NSString::componentsMatchedByRegex(text, "\\d", 0, RegexCall{0, RGXRange{7, 7}, nullptr}),
        (Strings{"2", "3", "4"}));
    EXPECT_TRUE(NSString::isMatchedByRegex("A\nb", "^B$",
                                           RegexCall{RGXCaseless | RGXMultiline, {}, nullptr}));
    EXPECT_FALSE(NSString::isMatchedByRegex("A\nb", "^B$", RegexCall{RGXCaseless, {}, nullptr}));
    EXPECT_TRUE(NSString::isMatchedByRegex("a\nb", "a.b", RegexCall{RGXDotAll, {}, nullptr}));
}

TEST(RegexSupportTest, SplittingAndCollecting) {
    struct Case {
        const char* text;
        const char* regex;
        Strings pieces;
    };
    const Case cases[] = {
        {"a, b,c", ",\\s*", {"a", "b", "c"}},
        {",a,", ",", {"", "a", ""}},
        {"abc", "x", {"abc"}},
        {"", ",", {""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NSString::componentsSeparatedByRegex(c.text, c.regex), c.pieces) << c.text;

    const std::string dates = "on 2020-09-13 and 2021-01-02.";
    const char* date = "(\\d+)-(\\d+)-(\\d+)";
    EXPECT_EQ(NSString::componentsMatchedByRegex(dates, date, 1), (Strings{"2020", "2021"}));
    EXPECT_EQ(NSString::captureComponentsMatchedByRegex(dates, date),
              (Strings{"2020-09-13", "2020", "09", "13"}));
    EXPECT_EQ(NSString::arrayOfCaptureComponentsMatchedByRegex(dates, date).size(), 2u);
    EXPECT_TRUE(NSString::captureComponentsMatchedByRegex("none", date).empty());
    const std::vector<std::pair<std::string, std::size_t>> keys = {{"year", 1}, {"day", 3}};
    EXPECT_EQ(NSString::dictionaryByMatchingRegexWithKeysAndCaptures(dates, date, keys),
              (std::map<std::string, std::string>{{"year", "2020"}, {"day", "13"}}));
    const auto all =
        NSString::arrayOfDictionariesByMatchingRegexWithKeysAndCaptures(dates, date, keys);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].at("day"), "02");
    EXPECT_EQ(NSString::captureCountForRegex(date), 3);
}

TEST(RegexSupportTest, ReplacementTemplates) {
    struct Case {
        const char* text;
        const char* regex;
        const char* replacement;
        const char* result;
    };
    const Case cases[] = {
        {"2020-09-13", "(\\d+)-(\\d+)-(\\d+)", "$3.$2.$1", "13.09.2020"},
        {"a1b2", "\\d", "\\$", "a$b$"},
        {"ab", "(?<first>a)", "[${first}]", "[a]b"},
        {"ab", "(a)", "$10", "a0b"},  // only one capture: "$1" then "0"
        {"abc", "x*", "-", "-a-b-c-"},
        {"\xC3\xA9t\xC3\xA9", "\xC3\xA9", "e", "ete"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            NSString::stringByReplacingOccurrencesOfRegexWithString(c.text, c.regex, c.replacement),
            c.result)
            << c.text << " " << c.regex;
    }
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfRegexWithString(
                  "a-b-c", "-", "+", RegexCall{0, RGXRange{0, 3}, nullptr}),
              "a+b-c");
    for (const char* bad : {"$", "$x", "$2", "${nope}", "${open"}) {
        EXPECT_THROW(NSString::stringByReplacingOccurrencesOfRegexWithString("ab", "(a)", bad),
                     foundation::NamedException)
            << bad;
    }
    std::string mutableText = "one two three";
    EXPECT_EQ(NSMutableString::replaceOccurrencesOfRegexWithString(mutableText, "\\w+", "<$0>"), 3);
    EXPECT_EQ(mutableText, "<one> <two> <three>");
}

TEST(RegexSupportTest, BlocksSeeEveryMatchAndCanStop) {
    std::vector<RGXRange> seen;
    EXPECT_TRUE(NSString::enumerateStringsMatchedByRegexUsingBlock(
        "a1 b22 c333", "[a-z](\\d+)",
        [&](std::size_t count, const Strings& strings, const std::vector<RGXRange>& ranges,
            bool& stop) {
            EXPECT_EQ(count, 2u);
            EXPECT_TRUE(strings[1].empty());  // strings not asked for
            seen.push_back(ranges[1]);
            stop = seen.size() == 2;
        },
        {}, RGXRegexEnumerationCapturedStringsNotRequired));
    EXPECT_EQ(seen, (std::vector<RGXRange>{{1, 1}, {4, 2}}));

    Strings pieces;
    NSString::enumerateStringsSeparatedByRegexUsingBlock(
        "x;y;;z", ";",
        [&](std::size_t, const Strings& strings, const std::vector<RGXRange>&, bool&) {
            pieces.push_back(strings[0]);
        });
    EXPECT_EQ(pieces, (Strings{"x", "y", "", "z"}));

    auto upper = [](std::size_t, const Strings& strings, const std::vector<RGXRange>&, bool& stop) {
        stop = strings[0] == "b";
        std::string out = strings[0];
        for (auto& ch : out) ch = static_cast<char>(std::toupper(ch));
        return out;
    };
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfRegexUsingBlock("a b c", "\\w", upper),
              "A B c");
    std::string text = "a b c";
    EXPECT_EQ(NSMutableString::replaceOccurrencesOfRegexUsingBlock(text, "\\w", upper), 2);
    EXPECT_EQ(text, "A B c");
}

TEST(RegexSupportTest, CompileErrorsComeAsErrorsOrExceptions) {
    foundation::Error error;
    EXPECT_FALSE(NSString::isRegexValid("a(b", RGXNoOptions, &error));
    EXPECT_EQ(error.domain, "RGXICURegexErrorDomain");
    EXPECT_EQ(error.code, U_REGEX_MISMATCHED_PAREN);
    EXPECT_EQ(error.message, "There was an error compiling the regular expression.");
    EXPECT_EQ(error.userInfo["RGXICURegexErrorName"],
              foundation::Value("U_REGEX_MISMATCHED_PAREN"));
    EXPECT_EQ(error.userInfo["RGXICURegexRegex"], foundation::Value("a(b"));
    EXPECT_EQ(error.userInfo["NSLocalizedFailureReason"].stringOr().rfind(
                  "The error U_REGEX_MISMATCHED_PAREN occurred", 0),
              0u);
    EXPECT_EQ(NSString::captureCountForRegex("[", RGXNoOptions, &error), -1);

    foundation::Error matchError;
    EXPECT_FALSE(NSString::stringByMatching("subject", "(", 0, RegexCall{0, {}, &matchError}));
    EXPECT_EQ(matchError.userInfo["RGXICURegexSubjectString"], foundation::Value("subject"));
    try {
        NSString::isMatchedByRegex("x", "*");
        FAIL() << "no exception";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "RGXICURegexException");
        EXPECT_EQ(e.reason(), "ICU regular expression error #66305, U_REGEX_RULE_SYNTAX.");
    }
}

TEST(RegexSupportTest, ReplacementAndEnumerationErrorsTellWhatTheyConcern) {
    using foundation::Value;
    const auto noBlock = [](std::size_t, const Strings&, const std::vector<RGXRange>&, bool&) {};
    const auto noReplacement = [](std::size_t, const Strings&, const std::vector<RGXRange>&,
                                  bool&) { return std::string(); };
    foundation::Error error;
    EXPECT_FALSE(NSString::stringByReplacingOccurrencesOfRegexWithString(
        "subject", "(", "$1", RegexCall{0, {}, &error}));
    EXPECT_EQ(error.userInfo["RGXICURegexReplacementString"], Value("$1"));
    EXPECT_EQ(error.userInfo["RGXICURegexReplacedString"], Value("subject"));
    EXPECT_EQ(error.userInfo["RGXICURegexReplacedCount"], Value(std::int64_t{0}));
    EXPECT_TRUE(error.userInfo["RGXICURegexEnumerationOptions"].isNil());

    std::string mutableText = "mutable";
    error = {};
    EXPECT_EQ(NSMutableString::replaceOccurrencesOfRegexUsingBlock(
                  mutableText, "(", noReplacement, RegexCall{0, {}, &error},
                  RGXRegexEnumerationCapturedStringsNotRequired),
              -1);
    EXPECT_EQ(mutableText, "mutable");
    EXPECT_EQ(error.userInfo["RGXICURegexReplacedString"], Value("mutable"));
    EXPECT_EQ(error.userInfo["RGXICURegexReplacedCount"], Value(std::int64_t{0}));
    EXPECT_EQ(error.userInfo["RGXICURegexEnumerationOptions"].toInt64(),
              RGXRegexEnumerationCapturedStringsNotRequired);

    error = {};
    EXPECT_FALSE(NSString::enumerateStringsMatchedByRegexUsingBlock("text", "[", noBlock,
                                                                    RegexCall{0, {}, &error}));
    EXPECT_EQ(error.userInfo["RGXICURegexEnumerationOptions"].toInt64(), 0);
    EXPECT_TRUE(error.userInfo["RGXICURegexReplacedCount"].isNil());
    EXPECT_EQ(error.userInfo["RGXICURegexSubjectString"], Value("text"));

    // A plain match concerns neither.
    error = {};
    EXPECT_FALSE(NSString::isMatchedByRegex("text", "(", RegexCall{0, {}, &error}));
    EXPECT_TRUE(error.userInfo["RGXICURegexEnumerationOptions"].isNil());
    EXPECT_TRUE(error.userInfo["RGXICURegexReplacedString"].isNil());
}

TEST(RegexSupportTest, AFlushForgetsWhatTheExpressionsRememberOfAText) {
    const std::string text = "flush me: 42 and 7";
    const std::string other = "keep me: 9";
    EXPECT_EQ(NSString::rangeOfRegex(text, "(\\d+)", 1), (RGXRange{10, 2}));
    EXPECT_EQ(NSString::stringByMatching(other, "\\d+"), "9");
    EXPECT_TRUE(RGXRegexCache::shared().remembersText(text));
    // Asked again, the remembered match answers the same.
    EXPECT_EQ(NSString::stringByMatching(text, "(\\d+)", 1), "42");
    EXPECT_FALSE(NSString::isMatchedByRegex(text, "x"));
    EXPECT_FALSE(NSString::isMatchedByRegex(text, "x"));

    NSString::flushCachedRegexData(text);
    EXPECT_FALSE(RGXRegexCache::shared().remembersText(text));
    EXPECT_TRUE(RGXRegexCache::shared().remembersText(other));
    EXPECT_EQ(NSString::rangeOfRegex(text, "(\\d+)", 1), (RGXRange{10, 2}));
    // Another range of the same text is searched anew.
    EXPECT_EQ(NSString::stringByMatching(text, "\\d+", 0, RegexCall{0, RGXRange{13, 5}, nullptr}),
              "7");
    NSString::flushCachedRegexData(other);
    EXPECT_FALSE(RGXRegexCache::shared().remembersText(other));
}

// ICU fills the whole post-context buffer, without a NUL, for this pattern.
TEST(RegexSupportTest, CompileErrorContextStaysInsideIcusBuffer) {
    const std::string pattern = "}2A[\xF4+t \xE3\x8C)\\\xDE}[\xF1\x8B\xBF\xBF\xD4*\x83";
    foundation::Error error;
    EXPECT_FALSE(NSString::isRegexValid(pattern, RGXNoOptions, &error));
    for (const char* key : {"RGXICURegexPreContext", "RGXICURegexPostContext"}) {
        const std::string context = error.userInfo[key].stringOr();
        EXPECT_LE(foundation::utf8::toUtf16(context).size(), std::size_t(U_PARSE_CONTEXT_LEN))
            << key;
    }
}

// Patterns that backtrack for minutes, or for ever, answer as no match.
TEST(RegexSupportTest, RunawayMatchesAnswerNoMatch) {
    const std::string thirtyAs(30, 'a');
    EXPECT_FALSE(NSString::isMatchedByRegex("2", "^+?x"));
    EXPECT_FALSE(NSString::isMatchedByRegex(thirtyAs, "(a+)+b"));
    EXPECT_EQ(NSString::stringByReplacingOccurrencesOfRegexWithString(thirtyAs, "(a+)+b", "x"),
              thirtyAs);
    EXPECT_EQ(NSString::stringByMatching(thirtyAs + "b", "(a+)+b"), thirtyAs + "b");
}

TEST(RegexSupportTest, BadArgumentsRaise) {
    auto nameOf = [](auto&& call) -> std::string {
        try {
            call();
        } catch (const foundation::NamedException& e) {
            return e.name() + ": " + e.reason();
        }
        return "none";
    };
    EXPECT_EQ(nameOf([] {
                  NSString::isMatchedByRegex("abc", "a", RegexCall{0, RGXRange{2, 2}, nullptr});
              }),
              "NSRangeException: Range or index out of bounds.");
    EXPECT_EQ(nameOf([] { NSString::rangeOfRegex("abc", "(a)", 2); }),
              "NSInvalidArgumentException: The capture argument is not valid.");
    EXPECT_EQ(nameOf([] {
                  NSString::isMatchedByRegex("abc", "a", RegexCall{0, RGXRange{3, 0}, nullptr});
              }),
              "none");
}

// More patterns than the cache holds, from several threads at once: evicted expressions
// must not disturb walks that are still using their clones.
TEST(RegexSupportTest, CacheServesManyPatternsFromManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 300; ++i) {
                const int n = (i * 7 + t) % 80;
                const std::string pattern = "x(" + std::to_string(n) + ")y";
                const std::string text = "ax" + std::to_string(n) + "yb";
                if (NSString::stringByMatching(text, pattern, 1) != std::to_string(n)) ++wrong;
                if (i % 100 == 99) NSString::clearStringCache();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

// A walk within the tick limit can still run for minutes when its steps are slow: each
// back-reference check here compares a long capture. The whole operation is bounded.
TEST(RegexSupportTest, TheWholeOperationIsBoundedInTime) {
    const std::string text = std::string(2000, 'a') + "X";
    const std::string pattern = "(a*)\\1b|X";
    // Given the time, the walk would end on the "X"; it gives up long before.
    EXPECT_TRUE(NSString::componentsMatchedByRegex(text, pattern).empty());
    // A short text is matched as usual.
    EXPECT_EQ(NSString::componentsMatchedByRegex("aaX", pattern), std::vector<std::string>{"X"});
}
