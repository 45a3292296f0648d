#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Header names compare without regard to letter case.
namespace NetHeaderMatching {

using Headers = std::vector<std::pair<std::string, std::string>>;

bool same(std::string_view a, std::string_view b);
Headers::iterator find(Headers& headers, std::string_view name);
Headers::const_iterator find(const Headers& headers, std::string_view name);
// Every value of the name, in order.
std::vector<std::string> values(const Headers& headers, std::string_view name);
// The values of the name joined with ", "; nullopt when there is none.
std::optional<std::string> joined(const Headers& headers, std::string_view name);
std::string lowered(std::string_view text);

}  // namespace NetHeaderMatching
