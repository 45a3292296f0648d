#include "foundation/OpenStepPropertyListReader.h"

#include <fmt/format.h>

#include "foundation/Utf8.h"

namespace foundation::plist {

namespace {

bool isUnquotedChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string describe(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F ? fmt::format("'{}'", c) : fmt::format("byte 0x{:02x}", byte);
}

}  // namespace

std::optional<Value> OpenStepPropertyListReader::read(std::string* error) {
    Value top;
    const bool ok = [&] {
        if (!skipSpace()) return false;
        if (atEnd()) return fail("no value");
        if (!parseValue(0, top) || !skipSpace()) return false;
        if (atEnd()) return true;
        // A strings file: "key = value;" pairs with no braces around them.
        if (top.isString() && peek() == '=') {
            Dictionary entries;
            if (!parseEntries(entries, '\0', 0, *top.string())) return false;
            top = Value(std::move(entries));
            return true;
        }
        return fail(fmt::format("unexpected {} after the value", describe(peek())));
    }();
    if (ok) return top;
    if (error) *error = "text property list: " + error_;
    return std::nullopt;
}

bool OpenStepPropertyListReader::fail(std::string message) {
    error_ = fmt::format("line {}: {}", line_, message);
    return false;
}

bool OpenStepPropertyListReader::failTooDeep() {
    return fail(fmt::format("more than {} nested containers", kMaxNestingDepth));
}

char OpenStepPropertyListReader::take() {
    const char c = text_[pos_++];
    if (c == '\n') ++line_;
    return c;
}

bool OpenStepPropertyListReader::skipSpace() {
    while (!atEnd()) {
        if (isSpace(peek())) {
            take();
        } else if (text_.substr(pos_, 2) == "//") {
            while (!atEnd() && peek() != '\n') take();
        } else if (text_.substr(pos_, 2) == "/*") {
            const std::size_t startLine = line_;
            pos_ += 2;
            while (!atEnd() && text_.substr(pos_, 2) != "*/") take();
            if (atEnd()) {
                line_ = startLine;
                return fail("unterminated comment");
            }
            pos_ += 2;
        } else {
            break;
        }
    }
    return true;
}

bool OpenStepPropertyListReader::parseValue(std::size_t depth, Value& out) {
    if (!skipSpace()) return false;
    if (atEnd()) return fail("unexpected end of text");
    const char c = peek();
    if (c == '{') return parseDictionary(depth, out);
    if (c == '(') return parseArray(depth, out);
    if (c == '<') return parseData(out);
    if (c == '"' || c == '\'' || isUnquotedChar(c)) {
        std::string text;
        if (!parseString(text)) return false;
        out = Value(std::move(text));
        return true;
    }
    return fail(fmt::format("unexpected {}", describe(c)));
}

bool OpenStepPropertyListReader::parseDictionary(std::size_t depth, Value& out) {
    if (depth >= kMaxNestingDepth) return failTooDeep();
    take();  // '{'
    Dictionary entries;
    if (!parseEntries(entries, '}', depth, std::nullopt)) return false;
    take();  // '}'
    out = Value(std::move(entries));
    return true;
}

// Reads "key = value;" pairs up to the terminator ('\0' for the end of the text), which is
// left unread. The ';' after the last pair may be left out.
bool OpenStepPropertyListReader::parseEntries(Dictionary& entries, char terminator,
                                              std::size_t depth,
                                              std::optional<std::string> firstKey) {
    const auto atTerminator = [&] {
        return terminator == '\0' ? atEnd() : !atEnd() && peek() == terminator;
    };
    while (true) {
        std::string key;
        if (firstKey) {
            key = std::move(*firstKey);
            firstKey.reset();
        } else {
            if (!skipSpace()) return false;
            if (atTerminator()) return true;
            if (atEnd()) return fail("missing '}'");
            if (!parseString(key)) return false;
            if (!skipSpace()) return false;
        }
        if (atEnd() || peek() != '=') return fail(fmt::format("expected '=' after \"{}\"", key));
        take();
        Value value;
        if (!parseValue(depth + 1, value) || !skipSpace()) return false;
        entries.insert_or_assign(std::move(key), std::move(value));
        if (!atEnd() && peek() == ';') {
            take();
        } else if (!atTerminator()) {
            return fail("expected ';'");
        }
    }
}

bool OpenStepPropertyListReader::parseArray(std::size_t depth, Value& out) {
    if (depth >= kMaxNestingDepth) return failTooDeep();
    take();  // '('
    Array items;
    while (true) {
        if (!skipSpace()) return false;
        if (atEnd()) return fail("missing ')'");
        if (peek() == ')') break;
        Value item;
        if (!parseValue(depth + 1, item) || !skipSpace()) return false;
        items.push_back(std::move(item));
        if (atEnd()) return fail("missing ')'");
        if (peek() == ',') {
            take();
        } else if (peek() != ')') {
            return fail("expected ',' or ')'");
        }
    }
    take();  // ')'
    out = Value(std::move(items));
    return true;
}

bool OpenStepPropertyListReader::parseData(Value& out) {
    take();  // '<'
    Data bytes;
    int high = -1;
    while (true) {
        if (atEnd()) return fail("missing '>'");
        const char c = take();
        if (c == '>') break;
        if (isSpace(c)) continue;
        const int nibble = hexDigit(c);
        if (nibble < 0) return fail(fmt::format("{} in data", describe(c)));
        if (high < 0) {
            high = nibble;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    if (high >= 0) return fail("odd number of hex digits in data");
    out = Value(std::move(bytes));
    return true;
}

bool OpenStepPropertyListReader::parseString(std::string& out) {
    if (atEnd()) return fail("expected a string");
    if (peek() == '"' || peek() == '\'') return parseQuoted(out);
    if (isUnquotedChar(peek())) return parseUnquoted(out);
    return fail(fmt::format("expected a string, found {}", describe(peek())));
}

bool OpenStepPropertyListReader::parseUnquoted(std::string& out) {
    const std::size_t start = pos_;
    while (!atEnd() && isUnquotedChar(peek())) ++pos_;
    out.assign(text_.substr(start, pos_ - start));
    return true;
}

bool OpenStepPropertyListReader::parseQuoted(std::string& out) {
    const std::size_t startLine = line_;
    const char quote = take();
    std::string raw;
    while (true) {
        if (atEnd()) {
            line_ = startLine;
            return fail("unterminated string");
        }
        const char c = take();
        if (c == quote) break;
        if (c != '\\') {
            raw += c;
        } else if (!parseEscape(raw)) {
            return false;
        }
    }
    out = utf8::sanitize(raw);
    return true;
}

// After a backslash: \n and friends, \U1234 (UTF-16 units, pairs joined), octal \012.
bool OpenStepPropertyListReader::parseEscape(std::string& out) {
    if (atEnd()) return fail("unterminated string");
    const char c = take();
    switch (c) {
        case 'a':
            out += '\a';
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'v':
            out += '\v';
            return true;
        default:
            break;
    }
    if (c >= '0' && c <= '7') {
        char32_t code = static_cast<char32_t>(c - '0');
        for (int i = 0; i < 2 && !atEnd() && peek() >= '0' && peek() <= '7'; ++i) {
            code = code * 8 + static_cast<char32_t>(take() - '0');
        }
        utf8::append(out, code);
        return true;
    }
    if (c != 'U' && c != 'u') {
        out += c;  // \\, \", \' and any other character stand for themselves
        return true;
    }

    const auto readUnit = [this]() -> int {
        int unit = 0;
        int count = 0;
        while (count < 4 && !atEnd() && hexDigit(peek()) >= 0) {
            unit = unit * 16 + hexDigit(take());
            ++count;
        }
        return count == 0 ? -1 : unit;
    };
    const int unit = readUnit();
    if (unit < 0) return fail("\\U without hex digits");
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        const auto rest = text_.substr(pos_, 2);
        if (rest == "\\U" || rest == "\\u") {
            const std::size_t saved = pos_;
            pos_ += 2;
            const int low = readUnit();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::append(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return true;
            }
            pos_ = saved;
        }
    }
    utf8::append(out, static_cast<char32_t>(unit));  // an unpaired surrogate gives U+FFFD
    return true;
}

}  // namespace foundation::plist
