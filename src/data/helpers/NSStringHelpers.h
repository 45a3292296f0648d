#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Value.h"

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

// Helpers that nothing in the program relies on yet.

// The SHA-1 of the text's UTF-8 bytes as 40 lower-case hexadecimal digits.
std::string sha1(std::string_view text);

// Milliseconds, cut to whole seconds toward zero: "m:ss" below an hour, else "h:mm:ss".
std::string stringOfTime(std::int32_t milliseconds);

// Seconds rounded half up: "mm:ss" below an hour, else "hh:mm:ss".
std::string stringWithSeconds(double seconds);

// The path when nothing exists there; else the first of "name (1).ext", "name (2).ext", ...
// that names nothing. nullopt for nullopt.
std::optional<std::string> incramentFilePathIfExists(const std::optional<std::string>& path);

// The date in the user's locale, medium date and short time; "" for nullopt.
std::string stringOfDate(const std::optional<foundation::Date>& date);

// IsEmpty of the text.
bool isEmpty(std::string_view text);

struct TextSize {
    double width = 0;
    double height = 0;
};
// The size the text takes laid out in `font` (a Pango font description such as "Sans Bold
// 12", sizes in points) in a box `width` points wide and unbounded in height, measured in
// points without padding. Lines break at words, and inside a word wider than the box; a width
// of 0 or less leaves the lines unbroken.
TextSize sizeWithFontWidth(std::string_view text, std::string_view font, double width);

// The system's description of the type a file-name extension (without its dot) denotes, from
// shared-mime-info through GIO: "png" gives "PNG image". nullopt for an empty extension.
std::optional<std::string> fullDescriptionForExtension(std::string_view extension);
std::optional<std::string> descriptionForExtension(std::string_view extension);
// The system's type identifier for the extension: its GIO content type, a MIME type on
// Linux ("image/png"; "application/octet-stream" for an extension no type claims).
std::optional<std::string> UTITypeForExtension(std::string_view extension);

// Whether an element of the array holds the text at the dot-separated key path.
bool inArrayKeyPath(std::string_view text, const foundation::Array& array,
                    std::string_view keyPath);

// The UTF-8 bytes as lower-case hexadecimal, and back; nullopt for an odd length, a
// character that is not a hexadecimal digit, or bytes that are not UTF-8.
std::string hexString(std::string_view text);
std::optional<std::string> decodeHex(std::string_view text);

// The text relative to the folder holding `path`: without its first character when that
// folder is "/", else with every occurrence of the folder's path removed.
std::string relativePathTo(std::string_view text, std::string_view path);

// The text without / \ ? % * | " < > and :.
std::string safeFilename(std::string_view text);

// The text cut at each "\r\n". The length is not used.
std::vector<std::string> stringArrayByLength(std::string_view text, std::size_t length);

// A text whose UTF-8 length is at most `length` is padded with repetitions of `pad` to
// `length` characters; a longer one is cut to its first line, padded or cut to `length`
// characters. An empty pad pads nothing.
std::string stringByPaddingToLengthWithString(std::string_view text, std::size_t length,
                                              std::string_view pad);

}  // namespace NSString
