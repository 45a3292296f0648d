#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Url.h"

// The query of a URL as name/value pairs. Items are split on "&"; a name ends at its first
// "="; names and values are percent-decoded and "+" stays "+". An item without "=" has no
// value; one with "=" and nothing behind it has the empty value.
namespace NSURL {

// Every item that has a value; for a name given more than once the last item wins. Empty
// for a URL without a query.
std::map<std::string, std::string> queryParameters(const foundation::Url& url);

// The value of the first item with that name; nullopt when there is none or it has no value.
std::optional<std::string> valueForParameter(const foundation::Url& url, std::string_view name);

}  // namespace NSURL
