// Property lists come from devices: any bytes must give a value or a clean failure, and a
// value that was read must write back out and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value = foundation::plist::read(std::span<const std::uint8_t>(data, size));
    if (!value) return 0;
    if (auto binary = foundation::plist::writeBinary(*value)) {
        if (!foundation::plist::read(std::span<const std::uint8_t>(*binary))) std::abort();
    }
    if (auto xml = foundation::plist::writeXml(*value)) {
        if (!foundation::plist::read(std::string_view(*xml))) std::abort();
    }
    return 0;
}
