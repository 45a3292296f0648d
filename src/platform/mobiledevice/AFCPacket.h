#pragma once

// The device file service's packets: a 40-byte little-endian header ("CFA6LPAA", the whole
// length, the length of header and operation data, the packet number, the operation), the
// operation's data, then the payload. Only this layer's sources include this.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mobiledevice::afcpacket {

enum Operation : std::uint64_t {
    kStatus = 0x01,
    kData = 0x02,
    kReadDirectory = 0x03,
    kRemovePath = 0x08,
    kMakeDirectory = 0x09,
    kFileInfo = 0x0a,
    kDeviceInfo = 0x0b,
    kFileOpen = 0x0d,
    kFileOpenResult = 0x0e,
    kFileRead = 0x0f,
    kFileWrite = 0x10,
    kFileSeek = 0x11,
    kFileTell = 0x12,
    kFileTellResult = 0x13,
    kFileClose = 0x14,
    kFileSetSize = 0x15,
    kRenamePath = 0x18,
    kFileLock = 0x1b,
    kMakeLink = 0x1c,
    kSetFileModTime = 0x1e,
};

inline constexpr std::size_t kHeaderLength = 40;
// Longest reply accepted: requests never ask for more than a few MiB, so a longer length
// is a broken or hostile device, refused before anything is allocated.
inline constexpr std::uint64_t kMaxPacketLength = 64u << 20;

struct Header {
    std::uint64_t entireLength = 0;
    std::uint64_t thisLength = 0;
    std::uint64_t number = 0;
    std::uint64_t operation = 0;
};

struct Reply {
    std::uint64_t operation = 0;
    std::vector<std::uint8_t> data;     // the operation's data
    std::vector<std::uint8_t> payload;  // what follows it, unless it went to the caller's buffer
    std::size_t payloadLength = 0;
};

// The header and operation data of a request; the payload goes out after it as it is.
std::vector<std::uint8_t> encodeRequest(std::uint64_t number, std::uint64_t operation,
                                        std::span<const std::uint8_t> data,
                                        std::size_t payloadLength);
// A reply header, checked: magic, 40 <= this <= entire <= 40 + kMaxPacketLength.
std::optional<Header> decodeHeader(std::span<const std::uint8_t> bytes);
// Reads one reply through `read`, which fills exactly the bytes asked for or fails; a
// payload that fits `payloadInto` is read straight into it. nullopt for a short stream or
// a header that fails the checks.
std::optional<Reply> readReply(const std::function<bool(std::uint8_t*, std::size_t)>& read,
                               std::span<std::uint8_t> payloadInto = {});

void appendLittle64(std::vector<std::uint8_t>& bytes, std::uint64_t value);
void appendText(std::vector<std::uint8_t>& bytes, const std::string& text);  // with its NUL
// The first little-endian 64-bit number of the bytes; nullopt when fewer than 8.
std::optional<std::uint64_t> little64(std::span<const std::uint8_t> bytes);
// NUL-terminated texts one after the other (a last one without NUL counts too).
std::vector<std::string> splitTexts(std::span<const std::uint8_t> bytes);

}  // namespace mobiledevice::afcpacket
