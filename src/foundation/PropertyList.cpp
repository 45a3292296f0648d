#include "foundation/PropertyList.h"

#include <cstring>

#include "foundation/BinaryPropertyListReader.h"
#include "foundation/BinaryPropertyListWriter.h"
#include "foundation/OpenStepPropertyListReader.h"
#include "foundation/Utf8.h"
#include "foundation/XmlPropertyListReader.h"
#include "foundation/XmlPropertyListWriter.h"

namespace foundation::plist {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// The text as UTF-8: a UTF-16 byte-order mark selects a conversion into `converted`, a
// UTF-8 one is dropped. UTF-8 text is read in place.
std::optional<std::string_view> textOf(std::span<const std::uint8_t> bytes, std::string& converted,
                                       std::string* error) {
    const bool littleEndian = startsWith(bytes, "\xFF\xFE");
    if (littleEndian || startsWith(bytes, "\xFE\xFF")) {
        if (bytes.size() % 2 != 0) {
            if (error) *error = "UTF-16 text with an odd number of bytes";
            return std::nullopt;
        }
        std::u16string units;
        units.reserve(bytes.size() / 2 - 1);
        for (std::size_t i = 2; i < bytes.size(); i += 2) {
            units.push_back(littleEndian ? static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8)
                                         : static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
        }
        converted = utf8::fromUtf16(units);
        return std::string_view(converted);
    }
    if (startsWith(bytes, "\xEF\xBB\xBF")) bytes = bytes.subspan(3);
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool looksLikeXml(std::string_view text) {
    const auto start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    text.remove_prefix(start);
    return text.starts_with("<?xml") || text.starts_with("<plist") || text.starts_with("<!DOCTYPE");
}

}  // namespace

std::optional<Value> read(std::span<const std::uint8_t> bytes, std::string* error, Format* format) {
    if (startsWith(bytes, "bplist")) {
        if (format) *format = Format::Binary;
        return BinaryPropertyListReader(bytes).read(error);
    }
    std::string converted;
    const auto text = textOf(bytes, converted, error);
    if (!text) return std::nullopt;
    if (looksLikeXml(*text)) {
        if (format) *format = Format::Xml;
        return XmlPropertyListReader().read(*text, error);
    }
    if (format) *format = Format::OpenStep;
    return OpenStepPropertyListReader(*text).read(error);
}

std::optional<Value> read(std::string_view bytes, std::string* error, Format* format) {
    return read(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), error,
                format);
}

std::optional<Data> writeBinary(const Value& value, std::string* error) {
    return BinaryPropertyListWriter().write(value, error);
}

std::optional<std::string> writeXml(const Value& value, std::string* error) {
    return XmlPropertyListWriter().write(value, error);
}

bool writeXmlInto(const Value& value, std::string& out, std::string* error) {
    return XmlPropertyListWriter().writeInto(value, out, error);
}

}  // namespace foundation::plist
