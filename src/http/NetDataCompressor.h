#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/Error.h"
#include "foundation/Value.h"

struct z_stream_s;

// Deflates data into the gzip format, in one call, chunk by chunk, or from file to file.
// One object serves one stream of data.
class NetDataCompressor {
public:
    NetDataCompressor();
    ~NetDataCompressor();
    NetDataCompressor(const NetDataCompressor&) = delete;
    NetDataCompressor& operator=(const NetDataCompressor&) = delete;

    static std::unique_ptr<NetDataCompressor> compressor();

    std::optional<foundation::Error> setupStream();
    std::optional<foundation::Error> closeStream();
    bool streamReady() const { return streamReady_; }
    // Whether the gzip stream has been finished (its trailer written).
    bool streamFinished() const { return streamFinished_; }

    // The bytes deflated from this chunk, or nullopt with `error` set. With `shouldFinish`
    // the gzip stream is completed, also for an empty chunk; an empty chunk without it
    // gives no bytes.
    std::optional<foundation::Data> compressBytes(const std::uint8_t* bytes, std::size_t length,
                                                  foundation::Error* error, bool shouldFinish);

    static std::optional<foundation::Data> compressData(std::span<const std::uint8_t> data,
                                                        foundation::Error* error);
    // Deflates `sourcePath` into `destinationPath`. The destination is replaced only on
    // success; on failure it stays as it was.
    static bool compressDataFromFile(const std::string& sourcePath,
                                     const std::string& destinationPath, foundation::Error* error);

    static foundation::Error deflateErrorWithCode(int code);

private:
    std::unique_ptr<z_stream_s> zStream_;
    bool streamReady_ = false;
    bool streamFinished_ = false;
};
