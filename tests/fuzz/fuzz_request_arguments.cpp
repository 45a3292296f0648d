// Numbers and flags arrive from the page as text of any kind: each gives a value or none
// without failing, a number written out reads back as itself, and a flag is true exactly
// when its text starts with Y or T or reads as a number other than 0.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/RequestArguments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const foundation::Value argument(text);
    const auto number = RequestArguments::integer(argument);
    const auto flag = RequestArguments::flag(argument);
    if (!number || !flag) std::abort();  // text always gives both
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    const char first = start < text.size() ? text[start] : '\0';
    const bool word = first == 'Y' || first == 'y' || first == 'T' || first == 't';
    if (*flag != (word || *number != 0)) std::abort();
    // The number the text starts with, written out, reads back as itself.
    const std::string written = std::to_string(*number);
    if (RequestArguments::integer(foundation::Value(written)) != number) std::abort();
    return 0;
}
