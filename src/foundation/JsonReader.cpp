#include <fmt/format.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "foundation/Json.h"
#include "foundation/Utf8.h"

namespace foundation::json {

namespace {

using nlohmann::json;

// Builds a Value straight from the parser's events: no intermediate document, and nesting
// is bounded before it can exhaust the stack.
class ValueBuilder {
public:
    bool null() { return add(Value::null()); }
    bool boolean(bool b) { return add(Value(b)); }
    bool number_integer(json::number_integer_t n) { return add(Value(std::int64_t{n})); }
    bool number_unsigned(json::number_unsigned_t n) {
        if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return add(Value(static_cast<std::int64_t>(n)));
        }
        return add(Value(std::uint64_t{n}));
    }
    bool number_float(json::number_float_t d, const json::string_t&) { return add(Value(d)); }
    bool string(json::string_t& s) { return add(Value(std::move(s))); }
    bool binary(json::binary_t&) { return fail("binary values are not JSON"); }
    bool start_object(std::size_t) { return open(Value(Dictionary{})); }
    bool key(json::string_t& k) {
        stack_.back().key = std::move(k);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Value(Array{})); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        return fail(e.what());
    }

    std::optional<Value> takeResult() { return std::move(result_); }
    const std::string& error() const { return error_; }

private:
    struct Frame {
        Value container;
        std::string key;
    };

    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    bool open(Value container) {
        if (stack_.size() >= kMaxNestingDepth) {
            return fail(fmt::format("nesting deeper than {} levels", kMaxNestingDepth));
        }
        stack_.push_back({std::move(container), {}});
        return true;
    }

    bool close() {
        Value done = std::move(stack_.back().container);
        stack_.pop_back();
        return add(std::move(done));
    }

    bool add(Value value) {
        if (stack_.empty()) {
            result_ = std::move(value);
            return true;
        }
        Frame& top = stack_.back();
        if (auto* items = top.container.array()) {
            items->push_back(std::move(value));
        } else {
            top.container.dictionary()->insert_or_assign(std::move(top.key), std::move(value));
        }
        return true;
    }

    std::vector<Frame> stack_;
    std::optional<Value> result_;
    std::string error_;
};

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The four hex digits of a "\uXXXX" escape starting at pos, or -1.
long escapedUnit(std::string_view text, std::size_t pos) {
    if (pos + 6 > text.size() || text[pos] != '\\' || text[pos + 1] != 'u') return -1;
    long unit = 0;
    for (std::size_t i = pos + 2; i < pos + 6; ++i) {
        if (!isHex(text[i])) return -1;
        unit = unit * 16 + (text[i] <= '9' ? text[i] - '0' : (text[i] | 0x20) - 'a' + 10);
    }
    return unit;
}

// A page may send an escaped unpaired surrogate ("\ud800", from a string cut in the middle
// of a pair). It has no UTF-8 form and the parser would reject the whole text, so it turns
// into U+FFFD first. Returns nullopt when nothing needs changing.
std::optional<std::string> replaceUnpairedSurrogates(std::string_view text) {
    std::optional<std::string> out;
    bool inString = false;
    std::size_t copied = 0;  // text before this offset is already in out
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
            continue;
        }
        if (c != '\\') continue;
        const long unit = escapedUnit(text, i);
        if (unit < 0xD800 || unit > 0xDFFF) {
            ++i;  // skip the escaped character, which may be a quote
            continue;
        }
        const long next = escapedUnit(text, i + 6);
        if (unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            i += 11;
            continue;
        }
        if (!out) out.emplace();
        out->append(text.substr(copied, i - copied));
        out->append("\\ufffd");
        copied = i + 6;
        i += 5;
    }
    if (out) out->append(text.substr(copied));
    return out;
}

}  // namespace

std::optional<Value> read(std::string_view text, std::string* error) {
    try {
        std::string clean = utf8::isValid(text) ? std::string(text) : utf8::sanitize(text);
        if (auto replaced = replaceUnpairedSurrogates(clean)) clean = std::move(*replaced);

        ValueBuilder builder;
        if (json::sax_parse(clean, &builder)) {
            if (auto result = builder.takeResult()) return result;
        }
        if (error) *error = builder.error().empty() ? "not JSON" : builder.error();
    } catch (const std::exception& e) {
        if (error) *error = e.what();
    }
    return std::nullopt;
}

}  // namespace foundation::json
