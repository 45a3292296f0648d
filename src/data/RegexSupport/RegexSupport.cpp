#include "data/RegexSupport/RegexSupport.h"

#include <fmt/format.h>

#include <climits>
#include <memory>

#include "data/RegexSupport/RGXBlockEnumerationHelper.h"
#include "data/RegexSupport/RGXRegexCache.h"
#include "foundation/Utf8.h"

namespace {

using foundation::Value;

[[noreturn]] void raiseICU(UErrorCode status) {
    throw foundation::NamedException(RGXICURegexException,
                                     fmt::format("ICU regular expression error #{}, {}.",
                                                 static_cast<int>(status), u_errorName(status)));
}

// ICU fills the whole context buffer without a terminating NUL when the text around the
// error is long enough, so the length is looked for only inside the buffer.
std::string contextText(const UChar (&context)[U_PARSE_CONTEXT_LEN]) {
    std::size_t length = 0;
    while (length < U_PARSE_CONTEXT_LEN && context[length] != 0) ++length;
    return foundation::utf8::fromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(context), length));
}

// Fills the error out-argument, or raises when there is none.
void reportCompileFailure(std::string_view regex, std::uint32_t options, UErrorCode status,
                          const UParseError& parse, foundation::Error* error, Value details) {
    if (!error) raiseICU(status);
    const std::string name = u_errorName(status);
    const std::string reason =
        parse.line >= 0 && parse.offset >= 0
            ? fmt::format("The error {} occurred at line {}, column {}: {}<<HERE>>{}", name,
                          parse.line, parse.offset, contextText(parse.preContext),
                          contextText(parse.postContext))
            : fmt::format("The error {} occurred.", name);
    details.set("RGXICURegexErrorCode", static_cast<std::int64_t>(status));
    details.set("RGXICURegexErrorName", name);
    details.set("RGXICURegexLine", static_cast<std::int64_t>(parse.line));
    details.set("RGXICURegexOffset", static_cast<std::int64_t>(parse.offset));
    details.set("RGXICURegexPreContext", contextText(parse.preContext));
    details.set("RGXICURegexPostContext", contextText(parse.postContext));
    details.set("RGXICURegexRegex", std::string(regex));
    details.set("RGXICURegexRegexOptions", static_cast<std::uint64_t>(options));
    details.set("NSLocalizedFailureReason", reason);
    *error = foundation::Error{RGXICURegexErrorDomain, static_cast<std::int64_t>(status),
                               "There was an error compiling the regular expression.",
                               std::move(details)};
}

void checkLength(std::size_t length, const char* reason) {
    if (length > static_cast<std::size_t>(INT_MAX))
        throw foundation::NamedException("NSRangeException", reason);
}

// The range a call searches, after its arguments are checked.
RGXRange checkedRange(std::string_view text, std::string_view regex,
                      const NSString::RegexCall& call) {
    checkLength(text.size(), "String length exceeds INT_MAX.");
    checkLength(regex.size(), "Regex string length exceeds INT_MAX");
    const RGXRange range = call.range.value_or(RGXRange{0, text.size()});
    if (range.location > text.size() || range.length > text.size() - range.location) {
        throw foundation::NamedException("NSRangeException", "Range or index out of bounds.");
    }
    return range;
}

// What the error of a replacement that could not start tells besides: the text as it
// stands, since nothing was replaced, and the template where there is one.
Value replacementDetails(std::string_view text, std::optional<std::string_view> replacement) {
    Value details = Value::dict({{"RGXICURegexReplacedString", std::string(text)},
                                 {"RGXICURegexReplacedCount", std::int64_t{0}}});
    if (replacement) details.set("RGXICURegexReplacementString", std::string(*replacement));
    return details;
}

Value withEnumerationOptions(Value details, std::uint32_t enumerationOptions) {
    if (!details.isDictionary()) details = Value::dict({});
    details.set("RGXICURegexEnumerationOptions", static_cast<std::uint64_t>(enumerationOptions));
    return details;
}

// The walk for one call: arguments checked, the expression compiled (or taken from the
// cache), nullptr when it does not compile and the error went to the out-argument.
std::unique_ptr<RGXBlockEnumerationHelper> begin(std::string_view text, std::string_view regex,
                                                 const NSString::RegexCall& call,
                                                 Value details = {}) {
    const RGXRange range = checkedRange(text, regex, call);
    int captureCount = 0;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parse{};
    URegularExpression* clone =
        RGXRegexCache::shared().acquire(regex, call.options, captureCount, status, parse);
    if (!clone) {
        details.set("RGXICURegexSubjectString", std::string(text));
        details.set("RGXICURegexSubjectRange",
                    Value::list({Value(static_cast<std::uint64_t>(range.location)),
                                 Value(static_cast<std::uint64_t>(range.length))}));
        reportCompileFailure(regex, call.options, status, parse, call.error, std::move(details));
        return nullptr;
    }
    return std::make_unique<RGXBlockEnumerationHelper>(clone, captureCount, text, range, regex);
}

void checkCapture(std::size_t captureCount, std::size_t capture) {
    if (capture > captureCount) {
        throw foundation::NamedException("NSInvalidArgumentException",
                                         "The capture argument is not valid.");
    }
}

void checkCapture(const RGXBlockEnumerationHelper& walk, std::size_t capture) {
    checkCapture(walk.captureCount(), capture);
}

// The first match in the call's range, as the expression remembers it for the text it last
// searched, else searched for now; nullopt when the pattern does not compile (the error went
// to the out-argument).
std::optional<RGXRegexCache::FirstMatch> firstMatch(std::string_view text, std::string_view regex,
                                                    const NSString::RegexCall& call) {
    auto& cache = RGXRegexCache::shared();
    const RGXRange range = checkedRange(text, regex, call);
    if (auto remembered = cache.rememberedFirstMatch(regex, call.options, text, range))
        return remembered;
    auto walk = begin(text, regex, call);
    if (!walk) return std::nullopt;
    RGXRegexCache::FirstMatch found{walk->captureCount(), {}};
    if (walk->findNext()) {
        for (std::size_t capture = 0; capture <= walk->captureCount(); ++capture)
            found.ranges.push_back(walk->rangeOf(capture));
    }
    // A search that gave up found nothing, which is no answer to keep.
    if (!walk->gaveUp()) cache.rememberFirstMatch(regex, call.options, text, range, found);
    return found;
}

void collect(const RGXBlockEnumerationHelper& walk, bool withStrings,
             std::vector<std::string>& strings, std::vector<RGXRange>& ranges) {
    strings.assign(walk.captureCount() + 1, std::string());
    ranges.resize(walk.captureCount() + 1);
    for (std::size_t capture = 0; capture <= walk.captureCount(); ++capture) {
        ranges[capture] = walk.rangeOf(capture);
        if (withStrings) strings[capture] = walk.stringOf(capture);
    }
}

// Expands "$n", "${name}" and "\x" in a replacement template for the current match.
std::string expandTemplate(const RGXBlockEnumerationHelper& walk, std::string_view replacement) {
    std::string out;
    for (std::size_t at = 0; at < replacement.size(); ++at) {
        const char c = replacement[at];
        if (c == '\\' && at + 1 < replacement.size()) {
            out += replacement[++at];
            continue;
        }
        if (c != '$') {
            out += c;
            continue;
        }
        std::size_t group = 0;
        if (at + 1 < replacement.size() && replacement[at + 1] == '{') {
            const std::size_t close = replacement.find('}', at + 2);
            if (close == std::string_view::npos) raiseICU(U_REGEX_INVALID_CAPTURE_GROUP_NAME);
            const std::u16string name =
                foundation::utf8::toUtf16(replacement.substr(at + 2, close - at - 2));
            UErrorCode status = U_ZERO_ERROR;
            group = static_cast<std::size_t>(uregex_groupNumberFromName(
                walk.regex(), reinterpret_cast<const UChar*>(name.data()),
                static_cast<int32_t>(name.size()), &status));
            if (U_FAILURE(status)) raiseICU(status);
            at = close;
        } else {
            if (at + 1 >= replacement.size() || replacement[at + 1] < '0' ||
                replacement[at + 1] > '9') {
                raiseICU(U_REGEX_INVALID_CAPTURE_GROUP_NAME);
            }
            group = static_cast<std::size_t>(replacement[++at] - '0');
            // Further digits belong to the number while the pattern has that many captures.
            while (at + 1 < replacement.size() && replacement[at + 1] >= '0' &&
                   replacement[at + 1] <= '9' &&
                   group * 10 + static_cast<std::size_t>(replacement[at + 1] - '0') <=
                       walk.captureCount()) {
                group = group * 10 + static_cast<std::size_t>(replacement[++at] - '0');
            }
            if (group > walk.captureCount()) raiseICU(U_INDEX_OUTOFBOUNDS_ERROR);
        }
        out += walk.stringOf(group);
    }
    return out;
}

// Rebuilds the text with each match in the range replaced by what `replace` gives.
template <typename Replace>
std::string replaceMatches(RGXBlockEnumerationHelper& walk, Replace&& replace, long& count) {
    const std::string& text = walk.text();
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    bool stop = false;
    while (!stop && walk.findNext()) {
        const RGXRange match = walk.rangeOf(0);
        out.append(text, copied, match.location - copied);
        out += replace(stop);
        copied = match.location + match.length;
        ++count;
    }
    out.append(text, copied, std::string::npos);
    return out;
}

}  // namespace

namespace NSString {

void clearStringCache() {
    RGXRegexCache::shared().clear();
}

int captureCountForRegex(std::string_view regex, std::uint32_t options, foundation::Error* error) {
    auto walk = begin("", regex, RegexCall{options, std::nullopt, error});
    return walk ? static_cast<int>(walk->captureCount()) : -1;
}

int captureCount(std::string_view regex, std::uint32_t options, foundation::Error* error) {
    return captureCountForRegex(regex, options, error);
}

bool isRegexValid(std::string_view regex, std::uint32_t options, foundation::Error* error) {
    foundation::Error ignored;
    return captureCountForRegex(regex, options, error ? error : &ignored) >= 0;
}

void flushCachedRegexData(std::string_view text) {
    RGXRegexCache::shared().forgetText(text);
}

bool isMatchedByRegex(std::string_view text, std::string_view regex, const RegexCall& call) {
    const auto match = firstMatch(text, regex, call);
    return match && !match->ranges.empty();
}

RGXRange rangeOfRegex(std::string_view text, std::string_view regex, std::size_t capture,
                      const RegexCall& call) {
    const auto match = firstMatch(text, regex, call);
    if (!match) return {RGXNotFound, 0};
    checkCapture(match->captureCount, capture);
    return match->ranges.empty() ? RGXRange{RGXNotFound, 0} : match->ranges[capture];
}

std::optional<std::string> stringByMatching(std::string_view text, std::string_view regex,
                                            std::size_t capture, const RegexCall& call) {
    const auto match = firstMatch(text, regex, call);
    if (!match) return std::nullopt;
    checkCapture(match->captureCount, capture);
    if (match->ranges.empty()) return std::nullopt;
    const RGXRange range = match->ranges[capture];
    if (range.location == RGXNotFound) return std::string();
    return std::string(text.substr(range.location, range.length));
}

std::vector<std::string> componentsSeparatedByRegex(std::string_view text, std::string_view regex,
                                                    const RegexCall& call) {
    std::vector<std::string> pieces;
    enumerateStringsSeparatedByRegexUsingBlock(
        text, regex,
        [&](std::size_t, const std::vector<std::string>& strings, const std::vector<RGXRange>&,
            bool&) { pieces.push_back(strings[0]); },
        call);
    return pieces;
}

std::vector<std::string> componentsMatchedByRegex(std::string_view text, std::string_view regex,
                                                  std::size_t capture, const RegexCall& call) {
    std::vector<std::string> matches;
    auto walk = begin(text, regex, call);
    if (!walk) return matches;
    checkCapture(*walk, capture);
    while (walk->findNext()) matches.push_back(walk->stringOf(capture));
    return matches;
}

std::vector<std::string> captureComponentsMatchedByRegex(std::string_view text,
                                                         std::string_view regex,
                                                         const RegexCall& call) {
    std::vector<std::string> strings;
    std::vector<RGXRange> ranges;
    auto walk = begin(text, regex, call);
    if (walk && walk->findNext()) collect(*walk, true, strings, ranges);
    return strings;
}

std::vector<std::vector<std::string>> arrayOfCaptureComponentsMatchedByRegex(
    std::string_view text, std::string_view regex, const RegexCall& call) {
    std::vector<std::vector<std::string>> all;
    std::vector<RGXRange> ranges;
    auto walk = begin(text, regex, call);
    while (walk && walk->findNext()) collect(*walk, true, all.emplace_back(), ranges);
    return all;
}

std::map<std::string, std::string> dictionaryByMatchingRegexWithKeysAndCaptures(
    std::string_view text, std::string_view regex,
    const std::vector<std::pair<std::string, std::size_t>>& keysAndCaptures,
    const RegexCall& call) {
    auto all =
        arrayOfDictionariesByMatchingRegexWithKeysAndCaptures(text, regex, keysAndCaptures, call);
    return all.empty() ? std::map<std::string, std::string>{} : std::move(all.front());
}

std::vector<std::map<std::string, std::string>>
arrayOfDictionariesByMatchingRegexWithKeysAndCaptures(
    std::string_view text, std::string_view regex,
    const std::vector<std::pair<std::string, std::size_t>>& keysAndCaptures,
    const RegexCall& call) {
    std::vector<std::map<std::string, std::string>> all;
    auto walk = begin(text, regex, call);
    if (!walk) return all;
    for (const auto& [key, capture] : keysAndCaptures) checkCapture(*walk, capture);
    while (walk->findNext()) {
        auto& entry = all.emplace_back();
        for (const auto& [key, capture] : keysAndCaptures) entry[key] = walk->stringOf(capture);
    }
    return all;
}

std::optional<std::string> stringByReplacingOccurrencesOfRegexWithString(
    std::string_view text, std::string_view regex, std::string_view replacement,
    const RegexCall& call) {
    checkLength(replacement.size(), "Replacement string length exceeds INT_MAX.");
    auto walk = begin(text, regex, call, replacementDetails(text, replacement));
    if (!walk) return std::nullopt;
    long count = 0;
    return replaceMatches(
        *walk, [&](bool&) { return expandTemplate(*walk, replacement); }, count);
}

std::optional<std::string> stringByReplacingOccurrencesOfRegexUsingBlock(
    std::string_view text, std::string_view regex, const RGXReplaceBlock& block,
    const RegexCall& call, std::uint32_t enumerationOptions) {
    auto walk = begin(text, regex, call,
                      withEnumerationOptions(replacementDetails(text, std::nullopt),
                                             enumerationOptions));
    if (!walk) return std::nullopt;
    const bool withStrings = !(enumerationOptions & RGXRegexEnumerationCapturedStringsNotRequired);
    std::vector<std::string> strings;
    std::vector<RGXRange> ranges;
    long count = 0;
    return replaceMatches(
        *walk,
        [&](bool& stop) {
            collect(*walk, withStrings, strings, ranges);
            return block(walk->captureCount() + 1, strings, ranges, stop);
        },
        count);
}

bool enumerateStringsMatchedByRegexUsingBlock(std::string_view text, std::string_view regex,
                                              const RGXMatchBlock& block, const RegexCall& call,
                                              std::uint32_t enumerationOptions) {
    auto walk = begin(text, regex, call, withEnumerationOptions({}, enumerationOptions));
    if (!walk) return false;
    const bool withStrings = !(enumerationOptions & RGXRegexEnumerationCapturedStringsNotRequired);
    std::vector<std::string> strings;
    std::vector<RGXRange> ranges;
    bool stop = false;
    while (!stop && walk->findNext()) {
        collect(*walk, withStrings, strings, ranges);
        block(walk->captureCount() + 1, strings, ranges, stop);
    }
    return true;
}

bool enumerateStringsSeparatedByRegexUsingBlock(std::string_view text, std::string_view regex,
                                                const RGXMatchBlock& block, const RegexCall& call,
                                                std::uint32_t enumerationOptions) {
    auto walk = begin(text, regex, call, withEnumerationOptions({}, enumerationOptions));
    if (!walk) return false;
    const bool withStrings = !(enumerationOptions & RGXRegexEnumerationCapturedStringsNotRequired);
    const RGXRange range = walk->searchRange();
    std::vector<std::string> strings(1);
    std::vector<RGXRange> ranges(1);
    std::size_t pieceStart = range.location;
    bool stop = false;
    auto emit = [&](std::size_t end) {
        ranges[0] = {pieceStart, end - pieceStart};
        strings[0] =
            withStrings ? walk->text().substr(pieceStart, end - pieceStart) : std::string();
        block(1, strings, ranges, stop);
    };
    while (!stop && walk->findNext()) {
        const RGXRange match = walk->rangeOf(0);
        emit(match.location);
        pieceStart = match.location + match.length;
    }
    if (!stop) emit(range.location + range.length);
    return true;
}

}  // namespace NSString

namespace NSMutableString {

long replaceOccurrencesOfRegexWithString(std::string& text, std::string_view regex,
                                         std::string_view replacement,
                                         const NSString::RegexCall& call) {
    checkLength(replacement.size(), "Replacement string length exceeds INT_MAX.");
    auto walk = begin(text, regex, call, replacementDetails(text, replacement));
    if (!walk) return -1;
    long count = 0;
    std::string replaced = replaceMatches(
        *walk, [&](bool&) { return expandTemplate(*walk, replacement); }, count);
    text = std::move(replaced);
    return count;
}

long replaceOccurrencesOfRegexUsingBlock(std::string& text, std::string_view regex,
                                         const RGXReplaceBlock& block,
                                         const NSString::RegexCall& call,
                                         std::uint32_t enumerationOptions) {
    auto walk = begin(text, regex, call,
                      withEnumerationOptions(replacementDetails(text, std::nullopt),
                                             enumerationOptions));
    if (!walk) return -1;
    const bool withStrings = !(enumerationOptions & RGXRegexEnumerationCapturedStringsNotRequired);
    std::vector<std::string> strings;
    std::vector<RGXRange> ranges;
    long count = 0;
    std::string replaced = replaceMatches(
        *walk,
        [&](bool& stop) {
            collect(*walk, withStrings, strings, ranges);
            return block(walk->captureCount() + 1, strings, ranges, stop);
        },
        count);
    text = std::move(replaced);
    return count;
}

}  // namespace NSMutableString
