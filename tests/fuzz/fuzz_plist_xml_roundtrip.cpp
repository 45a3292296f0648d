// An XML property list that reads must write back and read again as the same value. The
// writer may refuse what has no XML form (a date rounded past the year 9999).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "RoundTrip.h"
#include "foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace foundation;
    plist::Format format = plist::Format::OpenStep;
    auto value = plist::read(std::span<const std::uint8_t>(data, size), nullptr, &format);
    if (!value || format != plist::Format::Xml) return 0;
    auto written = plist::writeXml(*value);
    if (!written) return 0;
    auto again = plist::read(std::string_view(*written));
    fuzzing::require(again && fuzzing::sameAfterRoundTrip(*value, *again));
    return 0;
}
