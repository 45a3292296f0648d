// JSON that reads must write back and read again as exactly the same value.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "RoundTrip.h"
#include "foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace foundation;
    auto value = json::read(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!value) return 0;
    auto written = json::tryWrite(*value);
    fuzzing::require(written.has_value());  // nothing the reader takes is too deep to write
    auto again = json::read(*written);
    fuzzing::require(again && *again == *value);
    return 0;
}
