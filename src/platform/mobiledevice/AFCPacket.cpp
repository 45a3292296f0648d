#include "platform/mobiledevice/AFCPacket.h"

#include <algorithm>
#include <cstring>

namespace mobiledevice::afcpacket {

namespace {
constexpr char kMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};
}

void appendLittle64(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendText(std::vector<std::uint8_t>& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
}

std::optional<std::uint64_t> little64(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8) return std::nullopt;
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[static_cast<std::size_t>(i)];
    return value;
}

std::vector<std::string> splitTexts(std::span<const std::uint8_t> bytes) {
    std::vector<std::string> texts;
    auto start = bytes.begin();
    while (start != bytes.end()) {
        const auto end = std::find(start, bytes.end(), std::uint8_t{0});
        texts.emplace_back(start, end);
        start = end == bytes.end() ? end : end + 1;
    }
    return texts;
}

std::vector<std::uint8_t> encodeRequest(std::uint64_t number, std::uint64_t operation,
                                        std::span<const std::uint8_t> data,
                                        std::size_t payloadLength) {
    std::vector<std::uint8_t> bytes(kMagic, kMagic + sizeof kMagic);
    const std::uint64_t thisLength = kHeaderLength + data.size();
    appendLittle64(bytes, thisLength + payloadLength);
    appendLittle64(bytes, thisLength);
    appendLittle64(bytes, number);
    appendLittle64(bytes, operation);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::optional<Header> decodeHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderLength || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    Header header;
    header.entireLength = *little64(bytes.subspan(8));
    header.thisLength = *little64(bytes.subspan(16));
    header.number = *little64(bytes.subspan(24));
    header.operation = *little64(bytes.subspan(32));
    if (header.thisLength < kHeaderLength || header.entireLength < header.thisLength ||
        header.entireLength - kHeaderLength > kMaxPacketLength) {
        return std::nullopt;
    }
    return header;
}

std::optional<Reply> readReply(const std::function<bool(std::uint8_t*, std::size_t)>& read,
                               std::span<std::uint8_t> payloadInto) {
    std::uint8_t headerBytes[kHeaderLength];
    if (!read(headerBytes, sizeof headerBytes)) return std::nullopt;
    const auto header = decodeHeader(headerBytes);
    if (!header) return std::nullopt;
    Reply reply;
    reply.operation = header->operation;
    reply.data.resize(static_cast<std::size_t>(header->thisLength - kHeaderLength));
    reply.payloadLength = static_cast<std::size_t>(header->entireLength - header->thisLength);
    if (!reply.data.empty() && !read(reply.data.data(), reply.data.size())) return std::nullopt;
    std::uint8_t* into = payloadInto.data();
    if (reply.payloadLength > payloadInto.size()) {
        reply.payload.resize(reply.payloadLength);
        into = reply.payload.data();
    }
    if (reply.payloadLength > 0 && !read(into, reply.payloadLength)) return std::nullopt;
    return reply;
}

}  // namespace mobiledevice::afcpacket
