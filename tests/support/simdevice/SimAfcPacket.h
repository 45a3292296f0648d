#pragma once

// The device file service's packets: a 40-byte little-endian header ("CFA6LPAA", the whole
// length, the length of header and operation data, the packet number, the operation),
// the operation's data, then its payload.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simdevice {

namespace afc {
enum Operation : std::uint64_t {
    kStatus = 0x01,
    kData = 0x02,
    kReadDirectory = 0x03,
    kTruncatePath = 0x07,
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
    kRemovePathAndContents = 0x22,
};
inline constexpr std::size_t kHeaderLength = 40;
}  // namespace afc

struct SimAfcPacket {
    std::uint64_t number = 0;
    std::uint64_t operation = 0;
    std::vector<std::uint8_t> data;  // operation data and payload, joined
};

// One packet, or nothing when the peer has gone or sent a malformed header.
std::optional<SimAfcPacket> readAfcPacket(int fd);
bool writeAfcPacket(int fd, std::uint64_t number, std::uint64_t operation,
                    const std::vector<std::uint8_t>& operationData,
                    const std::vector<std::uint8_t>& payload);
// A header claiming the given lengths, for answers that break the protocol on purpose.
std::vector<std::uint8_t> afcHeader(std::uint64_t entireLength, std::uint64_t thisLength,
                                    std::uint64_t number, std::uint64_t operation);
void appendLittle64(std::vector<std::uint8_t>& bytes, std::uint64_t value);

// Reads a request's arguments; every read is bounds-checked and fails past the end.
class SimAfcArguments {
public:
    explicit SimAfcArguments(const std::vector<std::uint8_t>& data) : data_(data) {}
    std::optional<std::uint64_t> number();
    // Text up to a NUL, or to the end of the data when none follows.
    std::optional<std::string> text();
    const std::uint8_t* rest(std::size_t* length) const;

private:
    const std::vector<std::uint8_t>& data_;
    std::size_t offset_ = 0;
};

}  // namespace simdevice
