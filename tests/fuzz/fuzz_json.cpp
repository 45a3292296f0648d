// JSON arrives from the page: any text must give a value or a clean failure, and what was
// read must write and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto value = foundation::json::read(text);
    if (!value) return 0;
    if (!foundation::json::read(foundation::json::write(*value))) std::abort();
    return 0;
}
