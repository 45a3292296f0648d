#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"
#include "http/NetZlibStream.h"

// Inflates gzip or zlib data (the header is recognised), in one call, chunk by chunk as a
// response arrives, or from file to file. One object serves one stream of data.
class NetDataDecompressor : public NetZlibStream {
public:
    NetDataDecompressor();

    // A decompressor whose stream is already set up (a failed set-up shows in the first
    // chunk as an error).
    static std::unique_ptr<NetDataDecompressor> decompressor();

    // Whether the compressed stream has come to its end marker.
    bool streamEnded() const { return reachedStreamEnd(); }

    // The bytes inflated from this chunk, or nullopt with `error` set; an empty chunk gives
    // nullopt and leaves `error` alone. zlib state is kept between calls.
    std::optional<foundation::Data> uncompressBytes(const std::uint8_t* bytes, std::size_t length,
                                                    foundation::Error* error);

    // The whole of `data` inflated; nullopt on failure (with `error` set) and for empty
    // data (without).
    static std::optional<foundation::Data> uncompressData(std::span<const std::uint8_t> data,
                                                          foundation::Error* error);
    // Inflates `sourcePath` into `destinationPath`. The destination is replaced only on
    // success; on failure it stays as it was.
    static bool uncompressDataFromFile(const std::string& sourcePath,
                                       const std::string& destinationPath,
                                       foundation::Error* error);

    static foundation::Error inflateErrorWithCode(int code);
};
