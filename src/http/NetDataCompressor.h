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

// Deflates data into the gzip format, in one call, chunk by chunk, or from file to file.
// One object serves one stream of data.
class NetDataCompressor : public NetZlibStream {
public:
    NetDataCompressor();

    static std::unique_ptr<NetDataCompressor> compressor();

    // Whether the gzip stream has been finished (its trailer written).
    bool streamFinished() const { return reachedStreamEnd(); }

    // The bytes deflated from this chunk, or nullopt with `error` set. With `shouldFinish`
    // the gzip stream is completed. An empty chunk gives nullopt and leaves `error` alone.
    std::optional<foundation::Data> compressBytes(const std::uint8_t* bytes, std::size_t length,
                                                  foundation::Error* error, bool shouldFinish);

    // The whole of `data` as one gzip stream; empty data gives nullopt and no error.
    static std::optional<foundation::Data> compressData(std::span<const std::uint8_t> data,
                                                        foundation::Error* error);
    // Deflates `sourcePath` into `destinationPath`. The destination is replaced only on
    // success; on failure it stays as it was.
    static bool compressDataFromFile(const std::string& sourcePath,
                                     const std::string& destinationPath, foundation::Error* error);

    static foundation::Error deflateErrorWithCode(int code);

private:
    // Writes the end of the gzip stream unless it is written already.
    std::optional<foundation::Data> finishStream(foundation::Error* error);
};
