#include "simdevice/SimWire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "foundation/PropertyList.h"
#include "simdevice/SimLink.h"

namespace simdevice {

namespace {

constexpr std::uint32_t kMuxProtocolVersion = 1;
constexpr std::uint32_t kMuxPlistMessage = 8;
constexpr std::size_t kMuxHeaderLength = 16;

std::uint32_t readLittle(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

void putLittle(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool writeAll(int fd, const void* bytes, std::size_t length) {
    const char* cursor = static_cast<const char*>(bytes);
    while (length > 0) {
        ssize_t n = ::send(fd, cursor, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        cursor += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readExactly(int fd, void* bytes, std::size_t length) {
    char* cursor = static_cast<char*>(bytes);
    while (length > 0) {
        ssize_t n = ::recv(fd, cursor, length, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        cursor += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<foundation::Value> readFramedPlist(int fd) {
    SimLink link(fd);
    return readFramedPlist(link);
}

bool writeFramedPlist(int fd, const foundation::Value& message, bool binary) {
    SimLink link(fd);
    return writeFramedPlist(link, message, binary);
}

std::optional<foundation::Value> readFramedPlist(SimLink& link) {
    std::uint8_t prefix[4];
    if (!link.readExactly(prefix, 4)) return std::nullopt;
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                 (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | prefix[3];
    if (length == 0 || length > kMaxFrameLength) return std::nullopt;
    std::vector<std::uint8_t> payload(length);
    if (!link.readExactly(payload.data(), length)) return std::nullopt;
    return foundation::plist::read(payload);
}

bool writeFramedPlist(SimLink& link, const foundation::Value& message, bool binary) {
    std::vector<std::uint8_t> payload;
    if (binary) {
        auto bytes = foundation::plist::writeBinary(message);
        if (!bytes) return false;
        payload = std::move(*bytes);
    } else {
        auto xml = foundation::plist::writeXml(message);
        if (!xml) return false;
        payload.assign(xml->begin(), xml->end());
    }
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::vector<std::uint8_t> frame = {
        static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return link.writeAll(frame.data(), frame.size());
}

std::optional<MuxMessage> readMuxMessage(int fd) {
    std::uint8_t header[kMuxHeaderLength];
    if (!readExactly(fd, header, sizeof header)) return std::nullopt;
    const std::uint32_t length = readLittle(header);
    if (length < kMuxHeaderLength || length > kMaxFrameLength) return std::nullopt;
    std::vector<std::uint8_t> payload(length - kMuxHeaderLength);
    if (!readExactly(fd, payload.data(), payload.size())) return std::nullopt;
    MuxMessage message;
    message.tag = readLittle(header + 12);
    if (readLittle(header + 8) != kMuxPlistMessage) return message;  // body stays nil
    auto body = foundation::plist::read(payload);
    if (body) message.body = std::move(*body);
    return message;
}

bool writeMuxMessage(int fd, std::uint32_t tag, const foundation::Value& body) {
    auto xml = foundation::plist::writeXml(body);
    if (!xml) return false;
    std::vector<std::uint8_t> frame(kMuxHeaderLength);
    putLittle(frame.data(), static_cast<std::uint32_t>(kMuxHeaderLength + xml->size()));
    putLittle(frame.data() + 4, kMuxProtocolVersion);
    putLittle(frame.data() + 8, kMuxPlistMessage);
    putLittle(frame.data() + 12, tag);
    frame.insert(frame.end(), xml->begin(), xml->end());
    return writeAll(fd, frame.data(), frame.size());
}

}  // namespace simdevice
