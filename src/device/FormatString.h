#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

// Text from a format chosen at run time; the empty text when the format does not fit its
// arguments. `sizeHint` is the room to start with.
std::string vfmtstr(std::size_t sizeHint, std::string_view format, fmt::format_args args);

template <typename... Args>
std::string fmtstr(std::size_t sizeHint, std::string_view format, Args&&... args) {
    return vfmtstr(sizeHint, format, fmt::make_format_args(args...));
}
