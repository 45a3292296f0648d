#pragma once

#include <string>
#include <string_view>

namespace music {

// Library tracks and playlists are named by 64-bit ids written as 16 upper-case
// hexadecimal digits.
namespace PersistentID {

// A fresh random id, never all zeros.
std::string make();
// True for exactly 16 hexadecimal digits, either case.
bool isValid(std::string_view text);
// The id in upper case; "" when it is not valid.
std::string normalized(std::string_view text);

}  // namespace PersistentID

}  // namespace music
