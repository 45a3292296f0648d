#pragma once

// Blocking reads and writes of the two framings the simulated device speaks: the
// multiplexer's 16-byte little-endian header with a property list, and the services'
// 4-byte big-endian length with a property list.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "foundation/Value.h"

namespace simdevice {

inline constexpr std::uint32_t kMaxFrameLength = 64u << 20;

bool writeAll(int fd, const void* bytes, std::size_t length);
bool readExactly(int fd, void* bytes, std::size_t length);

class SimLink;
std::optional<foundation::Value> readFramedPlist(SimLink& link);
bool writeFramedPlist(SimLink& link, const foundation::Value& message, bool binary = false);
std::optional<foundation::Value> readFramedPlist(int fd);
bool writeFramedPlist(int fd, const foundation::Value& message, bool binary = false);

struct MuxMessage {
    std::uint32_t tag = 0;
    foundation::Value body;
};
std::optional<MuxMessage> readMuxMessage(int fd);
bool writeMuxMessage(int fd, std::uint32_t tag, const foundation::Value& body);

}  // namespace simdevice
