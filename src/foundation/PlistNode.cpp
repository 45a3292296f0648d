// The bridge between Values and libplist 2.2 nodes, for the device layer.
//
// libplist 2.2 limits (see also PropertyList.h):
// - It has one integer node type, unsigned 64-bit, and writes every integer as a signed
//   8-byte value. Integers therefore cross as signed 64-bit: Int64 values go in as their
//   two's-complement bits and come out signed; UInt64 values above INT64_MAX are refused.
// - plist_new_date takes int32 seconds and int32 microseconds since 2001 and stores their
//   sum. We pass the floor of the seconds and a non-negative microsecond count.
//   plist_get_date_val gives the seconds truncated toward zero and the microseconds without
//   sign: -99.25 s comes back as (-99, 250000), and -0.25 s as (0, 250000), the same as
//   +0.25 s. That one ambiguous second is settled from libplist's binary form, which keeps
//   the exact value.
// - Strings are C strings, so text holding NUL is refused rather than cut short.

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "foundation/BinaryPropertyListReader.h"
#include "foundation/PropertyList.h"
#include "foundation/PropertyListDate.h"
#include "foundation/PropertyListFormCheck.h"
#include "foundation/Utf8.h"

namespace foundation::plist {

namespace {

constexpr double kMicroseconds = 1e6;

std::string validText(const std::string& text) {
    return utf8::isValid(text) ? text : utf8::sanitize(text);
}

plist_t makeDate(double secondsSince1970) {
    const double since2001 = secondsSince1970 - kSecondsFrom1970To2001;
    double seconds = std::floor(since2001);
    double micro = std::round((since2001 - seconds) * kMicroseconds);
    if (micro >= kMicroseconds) {
        if (seconds < std::numeric_limits<std::int32_t>::max()) {
            seconds += 1;
            micro = 0;
        } else {
            micro = kMicroseconds - 1;
        }
    }
    return plist_new_date(static_cast<std::int32_t>(seconds), static_cast<std::int32_t>(micro));
}

plist_t makeNode(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Boolean:
            return plist_new_bool(*value.boolean() ? 1 : 0);
        case Value::Kind::Int64:
            return plist_new_uint(static_cast<std::uint64_t>(*value.int64()));
        case Value::Kind::UInt64:
            return plist_new_uint(*value.uint64());
        case Value::Kind::Double:
            return plist_new_real(*value.real());
        case Value::Kind::String:
            return plist_new_string(validText(*value.string()).c_str());
        case Value::Kind::Data:
            return plist_new_data(reinterpret_cast<const char*>(value.data()->data()),
                                  value.data()->size());
        case Value::Kind::Date:
            return makeDate(value.date()->secondsSince1970);
        case Value::Kind::Array: {
            plist_t node = plist_new_array();
            for (const auto& item : *value.array()) plist_array_append_item(node, makeNode(item));
            return node;
        }
        case Value::Kind::Dictionary: {
            plist_t node = plist_new_dict();
            for (const auto& [key, item] : *value.dictionary()) {
                plist_dict_set_item(node, validText(key).c_str(), makeNode(item));
            }
            return node;
        }
        case Value::Kind::Nil:
        case Value::Kind::Null:
            break;  // refused before
    }
    return nullptr;
}

// Whether the date node holds a negative value, read from libplist's binary form.
bool isNegativeDate(plist_t node) {
    std::unique_ptr<void, decltype(&plist_free)> wrapper(plist_new_array(), plist_free);
    plist_array_append_item(wrapper.get(), plist_copy(node));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(wrapper.get(), &bytes, &length);
    if (!bytes) return false;
    const auto value =
        BinaryPropertyListReader(std::span(reinterpret_cast<const std::uint8_t*>(bytes), length))
            .read(nullptr);
    plist_to_bin_free(bytes);
    const Date* date = value ? (*value)[0].date() : nullptr;
    return date && date->secondsSince1970 < kSecondsFrom1970To2001;
}

Value readDate(plist_t node) {
    std::int32_t seconds = 0;
    std::int32_t micro = 0;
    plist_get_date_val(node, &seconds, &micro);
    const double fraction = std::abs(micro) / kMicroseconds;
    const bool negative = seconds < 0 || (seconds == 0 && micro != 0 && isNegativeDate(node));
    const double since2001 = negative ? seconds - fraction : seconds + fraction;
    return Value(Date{since2001 + kSecondsFrom1970To2001});
}

Value readNode(plist_t node, std::size_t depth) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            std::uint64_t bits = 0;
            plist_get_uint_val(node, &bits);
            return Value(static_cast<std::int64_t>(bits));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            return text ? Value(utf8::sanitize({text, length})) : Value(std::string());
        }
        case PLIST_KEY: {
            char* key = nullptr;
            plist_get_key_val(node, &key);
            Value out(utf8::sanitize(key ? key : ""));
            std::free(key);
            return out;
        }
        case PLIST_DATA: {
            std::uint64_t length = 0;
            const auto* bytes =
                reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
            return bytes ? Value(Data(bytes, bytes + length)) : Value(Data{});
        }
        case PLIST_DATE:
            return readDate(node);
        case PLIST_UID: {
            std::uint64_t uid = 0;
            plist_get_uid_val(node, &uid);
            return Value::dict({{"CF$UID", static_cast<std::int64_t>(uid)}});
        }
        case PLIST_ARRAY: {
            if (depth >= kMaxNestingDepth) return Value();
            Array items;
            const std::uint32_t count = plist_array_get_size(node);
            items.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                Value item = readNode(plist_array_get_item(node, i), depth + 1);
                if (!item.isNil()) items.push_back(std::move(item));
            }
            return Value(std::move(items));
        }
        case PLIST_DICT: {
            if (depth >= kMaxNestingDepth) return Value();
            Dictionary entries;
            plist_dict_iter iter = nullptr;
            plist_dict_new_iter(node, &iter);
            while (iter) {
                char* key = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, iter, &key, &item);
                if (!key) break;
                Value value = item ? readNode(item, depth + 1) : Value();
                if (!value.isNil()) entries.insert_or_assign(utf8::sanitize(key), std::move(value));
                std::free(key);
            }
            std::free(iter);
            return Value(std::move(entries));
        }
        default:
            return Value();
    }
}

}  // namespace

plist_t toNode(const Value& value) {
    if (findUnwritable(value, Target::LibplistNode)) return nullptr;
    return makeNode(value);
}

Value fromNode(plist_t node) {
    return node ? readNode(node, 0) : Value();
}

}  // namespace foundation::plist
