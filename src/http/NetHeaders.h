#pragma once

#include <string>
#include <utility>
#include <vector>

// Headers in the order they were set; names compare without regard to letter case.
using NetHeaders = std::vector<std::pair<std::string, std::string>>;
