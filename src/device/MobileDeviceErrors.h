#pragma once

#include <cstdint>
#include <string>

// Words for a mobile-device status, for failure texts and logs. Statuses the tables do
// not know give "Unknown error (0x%08x)", so a text is always at hand.
std::string get_error_message(std::uint32_t status);
