// Patterns and subjects may come from the page or from device data: any bytes must compile or
// fail with an error, and any match must end (runaway matches answer as no match).
// Input: one byte of options, the pattern up to the first newline, then the subject.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/RegexSupport/RegexSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint32_t options =
        data[0] & (RGXCaseless | RGXComments | RGXMultiline | RGXDotAll | RGXUnicodeWordBoundaries);
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t newline = rest.find('\n');
    const std::string_view pattern = rest.substr(0, newline);
    const std::string_view subject =
        newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);

    foundation::Error error;
    const NSString::RegexCall call{options, std::nullopt, &error};
    if (!NSString::isRegexValid(pattern, options, &error)) return 0;
    NSString::componentsSeparatedByRegex(subject, pattern, call);
    NSString::arrayOfCaptureComponentsMatchedByRegex(subject, pattern, call);
    try {
        // A template naming a capture the pattern lacks raises by design.
        NSString::stringByReplacingOccurrencesOfRegexWithString(subject, pattern, "<$0>", call);
    } catch (const foundation::NamedException&) {
    }
    return 0;
}
