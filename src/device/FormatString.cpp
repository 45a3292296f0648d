#include "device/FormatString.h"

#include <iterator>

std::string vfmtstr(std::size_t sizeHint, std::string_view format, fmt::format_args args) {
    std::string text;
    try {
        text.reserve(sizeHint);
        fmt::vformat_to(std::back_inserter(text), format, args);
    } catch (const std::exception&) {
        return {};
    }
    return text;
}
