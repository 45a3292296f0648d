// A binary property list that reads must write back and read again as the same value.
#include <cstddef>
#include <cstdint>
#include <span>

#include "RoundTrip.h"
#include "foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace foundation;
    plist::Format format = plist::Format::OpenStep;
    auto value = plist::read(std::span<const std::uint8_t>(data, size), nullptr, &format);
    if (!value || format != plist::Format::Binary) return 0;
    auto written = plist::writeBinary(*value);
    fuzzing::require(written.has_value());  // whatever the reader gives has a binary form
    auto again = plist::read(std::span<const std::uint8_t>(*written));
    fuzzing::require(again && fuzzing::sameAfterRoundTrip(*value, *again));
    return 0;
}
