#pragma once

#include <cstdint>
#include <string>

// Words for a mobile-device status from the framework's tables; null for a status that
// has no row.
const char* get_error_message(std::uint32_t status);

// The words of a status for failure texts, logs and the page: the tables' text, else
// "Unknown error (0x%08x)", so a text is always at hand.
std::string describeStatus(std::uint32_t status);
