#pragma once

#include <optional>
#include <string>

#include "foundation/Value.h"

namespace foundation::plist {

// Writes the XML form in Apple's layout: declaration, DOCTYPE, <plist version="1.0">, one
// element a line indented with tabs, Base64 data in indented lines. Dates are written to
// the whole second, floored toward the past.
class XmlPropertyListWriter {
public:
    std::optional<std::string> write(const Value& value, std::string* error);
    // The same into `out`, replacing what it held but keeping its room; false (with `out`
    // as it was) when the value has no XML form.
    bool writeInto(const Value& value, std::string& out, std::string* error);

private:
    void writeValue(const Value& value, std::size_t indent);
    void writeText(const char* element, const std::string& text, std::size_t indent);
    void writeData(const Data& data, std::size_t indent);
    void writeIndent(std::size_t indent);

    std::string out_;
};

}  // namespace foundation::plist
