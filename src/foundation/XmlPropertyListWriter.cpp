#include "foundation/XmlPropertyListWriter.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "foundation/Base64.h"
#include "foundation/PropertyListDate.h"
#include "foundation/PropertyListFormCheck.h"
#include "foundation/Utf8.h"

namespace foundation::plist {

namespace {

constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

// Base64 lines are 76 characters less 8 for each level of indentation (at most 8 levels).
std::size_t base64LineLength(std::size_t indent) {
    const std::size_t length = 76 - 8 * std::min<std::size_t>(indent, 8);
    return length / 4 * 4;
}

void appendEscaped(std::string& out, const std::string& raw) {
    std::string sanitized;
    std::string_view text = raw;
    if (!utf8::isValid(text)) {
        sanitized = utf8::sanitize(text);
        text = sanitized;
    }
    // Copies the runs between the characters XML needs escaped in one go.
    while (!text.empty()) {
        const std::size_t special = text.find_first_of("&<>\r");
        out.append(text.substr(0, special));
        if (special == std::string_view::npos) break;
        switch (text[special]) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += "&#13;";  // XML readers turn a raw CR into LF
        }
        text.remove_prefix(special + 1);
    }
}

std::string formatReal(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    return fmt::format("{}", d);
}

}  // namespace

std::optional<std::string> XmlPropertyListWriter::write(const Value& value, std::string* error) {
    std::string out;
    if (!writeInto(value, out, error)) return std::nullopt;
    return out;
}

bool XmlPropertyListWriter::writeInto(const Value& value, std::string& out, std::string* error) {
    if (auto why = findUnwritable(value, Target::Xml)) {
        if (error) *error = *why;
        return false;
    }
    out_ = std::move(out);
    out_.assign(kHeader);
    writeValue(value, 0);
    out_ += "</plist>\n";
    out = std::move(out_);
    return true;
}

void XmlPropertyListWriter::writeIndent(std::size_t indent) {
    out_.append(indent, '\t');
}

void XmlPropertyListWriter::writeText(const char* element, const std::string& text,
                                      std::size_t indent) {
    writeIndent(indent);
    out_.append("<").append(element).append(">");
    appendEscaped(out_, text);
    out_.append("</").append(element).append(">\n");
}

void XmlPropertyListWriter::writeData(const Data& data, std::size_t indent) {
    writeIndent(indent);
    out_ += "<data>\n";
    // The lines are encoded straight into room made for all of them at once.
    const std::size_t lineLength = base64LineLength(indent);
    const std::size_t bytesPerLine = lineLength / 4 * 3;
    const std::size_t lines = (data.size() + bytesPerLine - 1) / bytesPerLine;
    const std::size_t start = out_.size();
    out_.reserve(start + lines * (indent + 1) + base64::encodedLength(data.size()) + indent + 16);
    out_.resize(start + lines * (indent + 1) + base64::encodedLength(data.size()));
    char* o = out_.data() + start;
    const std::span<const std::uint8_t> bytes(data);
    for (std::size_t pos = 0; pos < bytes.size(); pos += bytesPerLine) {
        o = std::fill_n(o, indent, '\t');
        o = base64::encodeInto(o, bytes.subspan(pos, std::min(bytesPerLine, bytes.size() - pos)));
        *o++ = '\n';
    }
    writeIndent(indent);
    out_ += "</data>\n";
}

void XmlPropertyListWriter::writeValue(const Value& value, std::size_t indent) {
    switch (value.kind()) {
        case Value::Kind::Boolean:
            writeIndent(indent);
            out_ += *value.boolean() ? "<true/>\n" : "<false/>\n";
            break;
        case Value::Kind::Int64:
            writeText("integer", fmt::format("{}", *value.int64()), indent);
            break;
        case Value::Kind::UInt64:
            writeText("integer", fmt::format("{}", *value.uint64()), indent);
            break;
        case Value::Kind::Double:
            writeText("real", formatReal(*value.real()), indent);
            break;
        case Value::Kind::String:
            writeText("string", *value.string(), indent);
            break;
        case Value::Kind::Date:
            writeText("date", formatXmlDate(value.date()->secondsSince1970).value_or(""), indent);
            break;
        case Value::Kind::Data:
            writeData(*value.data(), indent);
            break;
        case Value::Kind::Array: {
            writeIndent(indent);
            if (value.array()->empty()) {
                out_ += "<array/>\n";
                break;
            }
            out_ += "<array>\n";
            for (const auto& item : *value.array()) writeValue(item, indent + 1);
            writeIndent(indent);
            out_ += "</array>\n";
            break;
        }
        case Value::Kind::Dictionary: {
            writeIndent(indent);
            if (value.dictionary()->empty()) {
                out_ += "<dict/>\n";
                break;
            }
            out_ += "<dict>\n";
            for (const auto& [key, item] : *value.dictionary()) {
                writeText("key", key, indent + 1);
                writeValue(item, indent + 1);
            }
            writeIndent(indent);
            out_ += "</dict>\n";
            break;
        }
        case Value::Kind::Nil:
        case Value::Kind::Null:
            break;  // refused before writing
    }
}

}  // namespace foundation::plist
