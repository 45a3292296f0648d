#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

// Reads a file in chunks of this size, so that neither source nor result is held whole.
inline constexpr std::size_t NetZlibFileChunkSize = 262144;

// One chunk through a (de)compressor: `atEnd` is true once the source is exhausted (then
// `length` is 0). Returns the bytes to write, or nullopt with the error set.
using NetZlibChunkStep = std::function<std::optional<foundation::Data>(
    const std::uint8_t* bytes, std::size_t length, bool atEnd, foundation::Error* error)>;

// Streams `sourcePath` through `step` into a temporary file beside `destinationPath` and
// renames it over the destination once all went well; on failure the temporary goes and
// the destination is untouched. `word` ("Compression", "Decompression") starts the texts
// of the errors. `setupError` is the (de)compressor's failed set-up, if any.
bool netTransformFile(const std::string& sourcePath, const std::string& destinationPath,
                      const char* word, const std::optional<foundation::Error>& setupError,
                      const NetZlibChunkStep& step, foundation::Error* error);
