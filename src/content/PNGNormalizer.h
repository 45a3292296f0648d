#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "content/NSImage.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

// Turns the device-optimised PNG variant (an extra "CgBI" chunk first, raw deflate data,
// blue-green-red-alpha pixels) into standard PNG. Keeps no state.
class PNGNormalizer {
public:
    // nullopt for data shorter than 20 bytes or without the PNG signature; standard PNG data
    // comes back as it was given (moved, not copied); device-style data comes back as
    // standard PNG, or nullopt when it is damaged or not 8-bit RGBA.
    static std::optional<foundation::Data> dataFromPNGData(foundation::Data data);

    // The file's contents through dataFromPNGData; nullopt when it cannot be read.
    static std::optional<foundation::Data> dataWithContentsOfPNGFile(const std::string& path);
    static NSImage::Image imageWithContentsOfPNGFile(const std::string& path);

    // At least 20 bytes starting with the PNG signature, device-style data included.
    static bool isPNGFile(const std::string& path);
    // Standard PNG: at least 20 bytes, the signature, and no "CgBI" chunk first.
    static bool isGoodPNGData(std::span<const std::uint8_t> data);
    static bool isGoodPNGFile(const std::string& path);

    // Converts the file in place, written atomically; with `backup` a copy goes to
    // "<path>.bak" first (a failed copy is reported on stderr and the conversion goes on).
    // False, with the reason in `error` when given, when there is nothing to convert or the
    // write fails.
    static bool fixPNGFileAtPathErrorBackup(const std::string& path, foundation::Error* error,
                                            bool backup);

    // Byte operations. The CRC works on the bare register: start with 0xFFFFFFFF and invert
    // the final value to get a chunk's CRC-32.
    static std::uint32_t updateCRC32Bytes(const std::uint8_t* bytes, std::size_t length,
                                          std::uint32_t crc);
    // Feeds the value's four bytes, least significant first.
    static std::uint32_t updateCRC32Uint32(std::uint32_t value, std::uint32_t crc);
    static std::uint32_t updateCRC32(std::uint8_t byte, std::uint32_t crc);
    // Big-endian 32-bit reads; the caller makes sure four bytes are there.
    static std::uint32_t nextUint32(const std::uint8_t*& cursor);
    static std::uint32_t peekUint32(const std::uint8_t* bytes);
    // Raw inflate (no zlib header) into the destination; the number of bytes written, or
    // nullopt when the data is damaged or ends before the destination is full.
    static std::optional<std::size_t> inflateData(std::span<const std::uint8_t> source,
                                                  std::span<std::uint8_t> destination);
    // A zlib stream at the default level; the number of bytes written, or 0 when the
    // destination is too small (compressBound of the source always suffices).
    static std::size_t deflateData(std::span<const std::uint8_t> source,
                                   std::span<std::uint8_t> destination);
};
