#pragma once

#include <string>
#include <string_view>

namespace sqltext {

// Lower-cases the text by Unicode rules: column and table names may be non-ASCII, and
// names are matched without regard to case.
std::string lowerCased(std::string_view text);

}  // namespace sqltext
