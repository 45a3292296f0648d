#include "foundation/XmlPropertyListReader.h"

#include <fmt/format.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "foundation/Base64.h"
#include "foundation/PropertyListDate.h"
#include "foundation/Utf8.h"

namespace foundation::plist {

namespace {

constexpr std::string_view kWhitespace = " \t\r\n";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kWhitespace) - first + 1);
}

bool isLeafElement(std::string_view name) {
    return name == "key" || name == "string" || name == "integer" || name == "real" ||
           name == "date" || name == "data" || name == "true" || name == "false";
}

// Decimal or "0x" hexadecimal, with an optional sign. Int64 where it fits, else UInt64.
std::optional<Value> parseInteger(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;

    constexpr auto kInt64Max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > kInt64Max + 1) return std::nullopt;
        return Value(static_cast<std::int64_t>(0 - magnitude));
    }
    if (magnitude <= kInt64Max) return Value(static_cast<std::int64_t>(magnitude));
    return Value(magnitude);
}

// Decimal reals and "nan", "inf", "+infinity" and the like, whatever the locale.
std::optional<double> parseReal(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Value> XmlPropertyListReader::read(std::string_view text, std::string* error) {
    // XML cannot hold NUL, and GMarkup would quietly cut the text at it.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        if (error) *error = fmt::format("XML property list: NUL character at byte {}", nul);
        return std::nullopt;
    }
    std::string sanitized;
    if (!utf8::isValid(text)) {
        sanitized = utf8::sanitize(text);
        text = sanitized;
    }
    static const GMarkupParser kParser = {onStartElement, onEndElement, onText, nullptr, nullptr};
    std::unique_ptr<GMarkupParseContext, decltype(&g_markup_parse_context_free)> context(
        g_markup_parse_context_new(&kParser, G_MARKUP_TREAT_CDATA_AS_TEXT, this, nullptr),
        g_markup_parse_context_free);

    GError* failure = nullptr;
    const bool parsed = parse(context.get(), text, &failure) &&
                        g_markup_parse_context_end_parse(context.get(), &failure);
    if (parsed && result_) return std::move(result_);

    if (error) {
        const std::string message = failure ? failure->message : "no value";
        *error = "XML property list: " + message;
    }
    if (failure) g_error_free(failure);
    return std::nullopt;
}

namespace {

bool feed(GMarkupParseContext* context, std::string_view text, GError** failure) {
    return g_markup_parse_context_parse(context, text.data(), static_cast<gssize>(text.size()),
                                        failure);
}

}  // namespace

// GMarkup walks text one character at a time and gathers it once more before handing it
// over: the base64 of a <data> element, most of a large message, is taken straight from the
// document instead. GMarkup still sees every tag, and the line breaks of the skipped text so
// that the lines it reports stay true. Text it would change (entities, CR LF) or that is
// not plain text (markup, comments) goes through it as before.
//
// GMarkup does not count a line break that begins a piece it is given, so no piece does.
bool XmlPropertyListReader::parse(GMarkupParseContext* context, std::string_view text,
                                  GError** failure) {
    constexpr std::string_view kOpen = "<data>";
    constexpr std::string_view kClose = "</data>";
    std::size_t fed = 0;
    std::size_t searchFrom = 0;
    for (;;) {
        const std::size_t open = text.find(kOpen, searchFrom);
        if (open == std::string_view::npos) break;
        const std::size_t body = open + kOpen.size();
        const std::size_t close = text.find(kClose, body);
        if (close == std::string_view::npos) break;
        searchFrom = body;
        const std::string_view content = text.substr(body, close - body);
        // The tag goes with the line breaks that follow it.
        const std::size_t afterBreaks = text.find_first_not_of('\n', body);
        if (afterBreaks == close) continue;
        // Text on a single line is left to GMarkup.
        if (text.substr(afterBreaks, close - afterBreaks).find('\n') == std::string_view::npos) {
            continue;
        }
        if (!feed(context, text.substr(fed, open - fed), failure)) return false;
        // Only a tag GMarkup takes as such starts an element: not one inside a comment.
        const std::size_t started = startedElements_;
        if (!feed(context, text.substr(open, afterBreaks - open), failure)) return false;
        fed = afterBreaks;
        if (startedElements_ == started + 1) {
            if (const auto lineBreaks = takeDataText(content)) {
                const std::size_t lastBreak = text.rfind('\n', close - 1);
                if (!feed(context,
                          standIn(*lineBreaks - (afterBreaks - body), close - lastBreak - 1),
                          failure)) {
                    return false;
                }
                fed = close;
                searchFrom = close;
            }
        }
    }
    return feed(context, text.substr(fed), failure);
}

// What GMarkup is given in place of the text of a <data> element taken straight from the
// document, so that it counts the same lines and columns: blanks and the same line breaks
// (the text is base64 and whitespace, so its columns are its characters).
std::string XmlPropertyListReader::standIn(std::size_t lineBreaks, std::size_t lastLineLength) {
    std::string stand(1, ' ');
    stand.append(lineBreaks, '\n');
    stand.append(lastLineLength, ' ');
    return stand;
}

// The text of a <data> element GMarkup has just started, when none of it was taken yet,
// decoded on the spot: the number of line breaks in it. Nothing is taken from text that
// does not decode or holds a CR (which GMarkup would turn into a line break): GMarkup gets
// that text as it would any other.
std::optional<std::size_t> XmlPropertyListReader::takeDataText(std::string_view content) {
    if (stack_.empty()) return std::nullopt;
    Frame& frame = stack_.back();
    if (frame.kind != FrameKind::Leaf || frame.element != "data" || !frame.text.empty() ||
        frame.data) {
        return std::nullopt;
    }
    base64::Whitespace seen;
    auto decoded = base64::decodeIgnoringWhitespace(content, &seen);
    if (!decoded || seen.carriageReturn) return std::nullopt;
    frame.data = std::move(*decoded);
    return seen.lineBreaks;
}

void XmlPropertyListReader::reportFailure(XmlPropertyListReader& reader,
                                          GMarkupParseContext* context, GError** error) {
    gint line = 0;
    gint column = 0;
    g_markup_parse_context_get_position(context, &line, &column);
    const std::string message = fmt::format("line {}: {}", line, reader.error_);
    g_set_error_literal(error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, message.c_str());
}

void XmlPropertyListReader::onStartElement(GMarkupParseContext* context, const gchar* name,
                                           const gchar**, const gchar**, gpointer self,
                                           GError** error) {
    auto& reader = *static_cast<XmlPropertyListReader*>(self);
    if (!reader.startElement(name)) reportFailure(reader, context, error);
}

void XmlPropertyListReader::onEndElement(GMarkupParseContext* context, const gchar*, gpointer self,
                                         GError** error) {
    auto& reader = *static_cast<XmlPropertyListReader*>(self);
    if (!reader.endElement()) reportFailure(reader, context, error);
}

void XmlPropertyListReader::onText(GMarkupParseContext* context, const gchar* text, gsize length,
                                   gpointer self, GError** error) {
    auto& reader = *static_cast<XmlPropertyListReader*>(self);
    if (!reader.addText({text, length})) reportFailure(reader, context, error);
}

bool XmlPropertyListReader::fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool XmlPropertyListReader::startElement(std::string_view name) {
    ++startedElements_;
    if (stack_.empty()) {
        if (result_) return fail("more than one top element");
        if (name == "key") return fail("<key> outside a <dict>");
    } else {
        Frame& parent = stack_.back();
        if (parent.kind == FrameKind::Leaf) {
            return fail(fmt::format("<{}> inside <{}>", name, parent.element));
        }
        if (parent.kind == FrameKind::Plist && !parent.value.isNil()) {
            return fail("<plist> holds more than one value");
        }
        if (parent.kind == FrameKind::Dictionary) {
            if (name == "key" && parent.pendingKey) return fail("a <key> without a value");
            if (name != "key" && !parent.pendingKey)
                return fail(fmt::format("<{}> without a <key>", name));
        } else if (name == "key") {
            return fail("<key> outside a <dict>");
        }
    }

    if (name == "plist") {
        if (!stack_.empty()) return fail("<plist> inside another element");
        stack_.push_back({FrameKind::Plist, std::string(name), {}, {}, {}, {}});
    } else if (name == "array" || name == "dict") {
        if (containerDepth_ >= kMaxNestingDepth) {
            return fail(fmt::format("more than {} nested containers", kMaxNestingDepth));
        }
        ++containerDepth_;
        if (name == "array") {
            stack_.push_back({FrameKind::Array, std::string(name), Value(Array{}), {}, {}, {}});
        } else {
            stack_.push_back(
                {FrameKind::Dictionary, std::string(name), Value(Dictionary{}), {}, {}, {}});
        }
    } else if (isLeafElement(name)) {
        stack_.push_back({FrameKind::Leaf, std::string(name), {}, {}, {}, {}});
    } else {
        return fail(fmt::format("unknown element <{}>", name));
    }
    return true;
}

bool XmlPropertyListReader::addText(std::string_view text) {
    if (!stack_.empty() && stack_.back().kind == FrameKind::Leaf) {
        stack_.back().text.append(text);
        return true;
    }
    if (!trimmed(text).empty()) return fail("text outside a value element");
    return true;
}

std::optional<Value> XmlPropertyListReader::leafValue(Frame& frame) {
    const std::string& name = frame.element;
    if (name == "string" || name == "key") return Value(frame.text);
    if (name == "true" || name == "false") {
        if (trimmed(frame.text).empty()) return Value(name == "true");
        fail(fmt::format("text inside <{}/>", name));
        return std::nullopt;
    }
    if (name == "integer") {
        if (auto value = parseInteger(frame.text)) return value;
    } else if (name == "real") {
        if (auto value = parseReal(frame.text)) return Value(*value);
    } else if (name == "date") {
        if (auto value = parseXmlDate(frame.text)) return Value(Date{*value});
    } else if (name == "data") {
        // Taken from the document already; GMarkup then saw only the blanks in its place.
        if (frame.data) return Value(std::move(*frame.data));
        if (auto value = base64::decodeIgnoringWhitespace(frame.text))
            return Value(std::move(*value));
    }
    fail(fmt::format("bad <{}> \"{}\"", name, trimmed(frame.text).substr(0, 40)));
    return std::nullopt;
}

bool XmlPropertyListReader::endElement() {
    Frame frame = std::move(stack_.back());
    stack_.pop_back();
    switch (frame.kind) {
        case FrameKind::Plist:
            if (frame.value.isNil()) return fail("<plist> holds no value");
            return deliver(std::move(frame.value));
        case FrameKind::Array:
            --containerDepth_;
            return deliver(std::move(frame.value));
        case FrameKind::Dictionary:
            --containerDepth_;
            if (frame.pendingKey) return fail("a <key> without a value");
            return deliver(std::move(frame.value));
        case FrameKind::Leaf:
            break;
    }
    auto value = leafValue(frame);
    if (!value) return false;
    if (frame.element == "key") {
        stack_.back().pendingKey = std::move(*value->string());
        return true;
    }
    return deliver(std::move(*value));
}

bool XmlPropertyListReader::deliver(Value value) {
    if (stack_.empty()) {
        result_ = std::move(value);
        return true;
    }
    Frame& parent = stack_.back();
    switch (parent.kind) {
        case FrameKind::Plist:
            parent.value = std::move(value);
            break;
        case FrameKind::Array:
            parent.value.array()->push_back(std::move(value));
            break;
        case FrameKind::Dictionary:
            parent.value.dictionary()->insert_or_assign(std::move(*parent.pendingKey),
                                                        std::move(value));
            parent.pendingKey.reset();
            break;
        case FrameKind::Leaf:
            return fail("value inside a leaf element");
    }
    return true;
}

}  // namespace foundation::plist
