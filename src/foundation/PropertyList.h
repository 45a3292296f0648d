#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace foundation::plist {

enum class Format { Xml, Binary, OpenStep };

// Detects the form: "bplist" magic → binary; text starting (after an optional byte-order
// mark and whitespace) with "<?xml", "<plist" or "<!DOCTYPE" → XML; otherwise the old text
// (OpenStep) form. UTF-16 text with a byte-order mark is accepted. On failure gives nullopt
// and a message in *error; *format is set once the form is known, also when parsing fails.
// Integers read as Int64 unless only UInt64 holds them; UIDs read as {"CF$UID": n}.
std::optional<Value> read(std::span<const std::uint8_t> bytes, std::string* error = nullptr,
                          Format* format = nullptr);
std::optional<Value> read(std::string_view bytes, std::string* error = nullptr,
                          Format* format = nullptr);

// nullopt (and a message naming the place in *error) when the value has no property-list
// form: nil or null anywhere, nesting deeper than kMaxNestingDepth, or (XML only) a date
// outside years 1 to 9999 or text holding NUL, which XML cannot carry.
std::optional<Data> writeBinary(const Value& value, std::string* error = nullptr);
std::optional<std::string> writeXml(const Value& value, std::string* error = nullptr);
// The XML form into `out`, replacing what it held but reusing its room: a sender that
// writes message after message does not take fresh memory for each.
bool writeXmlInto(const Value& value, std::string& out, std::string* error = nullptr);

// Bridge to libplist nodes for the device layer. libplist 2.2 keeps integers as unsigned
// 64-bit values but writes them as signed ones, and keeps dates as int32 seconds plus
// microseconds since 2001. So: toNode gives nullptr (caller frees non-null results with
// plist_free) when the value has no plist form or one that libplist would corrupt: a
// UInt64 above INT64_MAX, a date outside 1933..2069 or not finite, a string or key holding
// NUL. fromNode reads integers as signed 64-bit and dates to the microsecond; nil for
// nullptr, and subtrees nested deeper than kMaxNestingDepth are left out.
plist_t toNode(const Value& value);
Value fromNode(plist_t node);

}  // namespace foundation::plist
