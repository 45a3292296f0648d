#pragma once

// Regular-expression operations on UTF-8 text, carried out by ICU's uregex. Ranges and
// offsets count UTF-8 bytes. Patterns follow ICU's syntax; replacement templates take "$n"
// for capture n and "\" to quote the next character.
//
// Errors: operations that take a `foundation::Error*` fill it (domain
// "RGXICURegexErrorDomain") and give an empty answer when a pattern does not compile; given
// nullptr they throw foundation::NamedException "RGXICURegexException" instead. A range
// outside the text or a capture number the pattern does not have throws
// "NSRangeException" or "NSInvalidArgumentException".

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/Error.h"

// ICU's flag values, passed through unchanged.
enum RGXRegexOptions : std::uint32_t {
    RGXNoOptions = 0,
    RGXCaseless = 2,
    RGXComments = 4,
    RGXMultiline = 8,
    RGXDotAll = 32,
    RGXUnicodeWordBoundaries = 256,
};

enum RGXRegexEnumerationOptions : std::uint32_t {
    RGXRegexEnumerationNoOptions = 0,
    // The block gets ranges only; its strings are left empty.
    RGXRegexEnumerationCapturedStringsNotRequired = 1,
};

struct RGXRange {
    std::size_t location = 0;
    std::size_t length = 0;
    bool operator==(const RGXRange&) const = default;
};
inline constexpr std::size_t RGXNotFound = static_cast<std::size_t>(INT64_MAX);

inline constexpr const char* RGXICURegexErrorDomain = "RGXICURegexErrorDomain";
inline constexpr const char* RGXICURegexException = "RGXICURegexException";

// Called per match (or per separated piece) with the strings and ranges of capture 0 to n;
// setting `stop` ends the enumeration. An unmatched capture has range (RGXNotFound, 0).
using RGXMatchBlock =
    std::function<void(std::size_t captureCount, const std::vector<std::string>& strings,
                       const std::vector<RGXRange>& ranges, bool& stop)>;
// Gives the replacement text for one match.
using RGXReplaceBlock =
    std::function<std::string(std::size_t captureCount, const std::vector<std::string>& strings,
                              const std::vector<RGXRange>& ranges, bool& stop)>;

// Compiled expressions are kept in a process-wide cache shared by all threads; each remembers
// its first match in the (short) text it last searched.
namespace NSString {

struct RegexCall {
    std::uint32_t options = RGXNoOptions;
    std::optional<RGXRange> range;  // the whole text when empty
    foundation::Error* error = nullptr;
};

void clearStringCache();
// Forgets what the compiled expressions remember of searches in this text.
void flushCachedRegexData(std::string_view text);
// The number of capture groups; -1 when the pattern does not compile.
int captureCountForRegex(std::string_view regex, std::uint32_t options = RGXNoOptions,
                         foundation::Error* error = nullptr);
// The same, of the text as the pattern.
int captureCount(std::string_view regex, std::uint32_t options = RGXNoOptions,
                 foundation::Error* error = nullptr);
bool isRegexValid(std::string_view regex, std::uint32_t options = RGXNoOptions,
                  foundation::Error* error = nullptr);

bool isMatchedByRegex(std::string_view text, std::string_view regex, const RegexCall& call = {});
RGXRange rangeOfRegex(std::string_view text, std::string_view regex, std::size_t capture = 0,
                      const RegexCall& call = {});
std::optional<std::string> stringByMatching(std::string_view text, std::string_view regex,
                                            std::size_t capture = 0, const RegexCall& call = {});
std::vector<std::string> componentsSeparatedByRegex(std::string_view text, std::string_view regex,
                                                    const RegexCall& call = {});
std::vector<std::string> componentsMatchedByRegex(std::string_view text, std::string_view regex,
                                                  std::size_t capture = 0,
                                                  const RegexCall& call = {});
// Capture 0 to n of the first match; empty when nothing matches.
std::vector<std::string> captureComponentsMatchedByRegex(std::string_view text,
                                                         std::string_view regex,
                                                         const RegexCall& call = {});
std::vector<std::vector<std::string>> arrayOfCaptureComponentsMatchedByRegex(
    std::string_view text, std::string_view regex, const RegexCall& call = {});
// Key to the text of its capture, for the first match or for every match.
std::map<std::string, std::string> dictionaryByMatchingRegexWithKeysAndCaptures(
    std::string_view text, std::string_view regex,
    const std::vector<std::pair<std::string, std::size_t>>& keysAndCaptures,
    const RegexCall& call = {});
std::vector<std::map<std::string, std::string>>
arrayOfDictionariesByMatchingRegexWithKeysAndCaptures(
    std::string_view text, std::string_view regex,
    const std::vector<std::pair<std::string, std::size_t>>& keysAndCaptures,
    const RegexCall& call = {});
// nullopt only when the pattern does not compile (with an error out-argument).
std::optional<std::string> stringByReplacingOccurrencesOfRegexWithString(
    std::string_view text, std::string_view regex, std::string_view replacement,
    const RegexCall& call = {});
std::optional<std::string> stringByReplacingOccurrencesOfRegexUsingBlock(
    std::string_view text, std::string_view regex, const RGXReplaceBlock& block,
    const RegexCall& call = {}, std::uint32_t enumerationOptions = RGXRegexEnumerationNoOptions);
// False when the pattern does not compile.
bool enumerateStringsMatchedByRegexUsingBlock(
    std::string_view text, std::string_view regex, const RGXMatchBlock& block,
    const RegexCall& call = {}, std::uint32_t enumerationOptions = RGXRegexEnumerationNoOptions);
bool enumerateStringsSeparatedByRegexUsingBlock(
    std::string_view text, std::string_view regex, const RGXMatchBlock& block,
    const RegexCall& call = {}, std::uint32_t enumerationOptions = RGXRegexEnumerationNoOptions);

}  // namespace NSString

namespace NSMutableString {

// Replace in place; the number of replacements, or -1 when the pattern does not compile.
long replaceOccurrencesOfRegexWithString(std::string& text, std::string_view regex,
                                         std::string_view replacement,
                                         const NSString::RegexCall& call = {});
long replaceOccurrencesOfRegexUsingBlock(
    std::string& text, std::string_view regex, const RGXReplaceBlock& block,
    const NSString::RegexCall& call = {},
    std::uint32_t enumerationOptions = RGXRegexEnumerationNoOptions);

}  // namespace NSMutableString
