#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace foundation::plist {

// Property lists count seconds from 2001-01-01T00:00:00Z.
inline constexpr double kSecondsFrom1970To2001 = 978307200.0;

// "YYYY-MM-DDTHH:MM:SSZ", with the fraction of a second after the seconds when there is
// one ("...:SS.25Z"); nullopt when not finite or outside years 1 to 9999.
std::optional<std::string> formatXmlDate(double secondsSince1970);

// Reads that form, also with fractional seconds ("...:SS.25Z"); nullopt for anything else.
std::optional<double> parseXmlDate(std::string_view text);

}  // namespace foundation::plist
