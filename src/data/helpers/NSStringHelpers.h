#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Text helpers used across the program.
namespace NSString {

// A fresh random UUID: 36 characters, upper-case hexadecimal in groups 8-4-4-4-12.
std::string guid();

// A byte count as the size text of file listings, in binary units with two decimals and
// a point whatever the locale: "0", "1 byte", "2 bytes", "1.00 KB", "1024.00 MB", "1.00 GB".
std::string CapacityString(std::uint64_t bytes);

// True for nil and for text holding nothing but space separators (Unicode Zs) and tabs.
// Line breaks count as content.
bool IsEmpty(std::optional<std::string_view> text);

// The text, or "" for nil.
std::string safeString(const std::optional<std::string>& text);

// The MIME type of a file-name extension given without its dot, from a fixed table of
// common web, image, audio and video types; letter case is ignored. nullopt for an
// unknown or empty extension.
std::optional<std::string> MIMETypeForExtension(std::string_view extension);

}  // namespace NSString
