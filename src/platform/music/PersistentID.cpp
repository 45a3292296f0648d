#include "platform/music/PersistentID.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>

namespace music::PersistentID {

std::string make() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uint64_t value = 0;
    while (value == 0) value = generator();
    return fmt::format("{:016X}", value);
}

bool isValid(std::string_view text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::string normalized(std::string_view text) {
    if (!isValid(text)) return {};
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

}  // namespace music::PersistentID
