#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

// Text in the character sets the IANA registry names, to and from UTF-8.
namespace NetTextEncoding {

// The bytes decoded from `encoding` into UTF-8; nullopt when they are not valid in it or
// the encoding is unknown.
std::optional<std::string> decode(const foundation::Data& bytes, const std::string& encoding);

// The UTF-8 text in `encoding`; nullopt when a character cannot be represented.
std::optional<std::string> encode(std::string_view text, const std::string& encoding);

// The registry's preferred name of the encoding in lower case ("utf-8"), as a Content-Type
// names it; the given name when the registry does not know it.
std::string ianaCharsetName(const std::string& encoding);

}  // namespace NetTextEncoding
