#pragma once

#include <cstdint>

#include "foundation/Value.h"

// The "readfile" and "writefile" commands of the "fs" plugin: file contents in pieces,
// as Base64 text, without keeping a file open between requests. Each takes the request
// dictionary and gives the reply; failures of the file itself throw
// foundation::NamedException, which the plugin answers as a critical exception.
namespace LocalFileContents {

// The most one "readfile" hands over, so a request cannot make the process allocate
// without bound.
inline constexpr std::int64_t kMaxReadLength = std::int64_t(256) << 20;

// {"path", "offset" (default 0, negative counts from the end), "length" (-1: to the end)}.
foundation::Value readFile(const foundation::Value& request);

// {"path", "bytes"}: appends the decoded bytes, creating a missing file but never
// truncating or replacing one.
foundation::Value writeFile(const foundation::Value& request);

}  // namespace LocalFileContents
