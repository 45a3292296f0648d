#include "simdevice/SimAfcPacket.h"

#include <cstring>

#include "simdevice/SimWire.h"

namespace simdevice {

namespace {

constexpr char kMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};

std::uint64_t readLittle64(const std::uint8_t* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

}  // namespace

void appendLittle64(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::vector<std::uint8_t> afcHeader(std::uint64_t entireLength, std::uint64_t thisLength,
                                    std::uint64_t number, std::uint64_t operation) {
    std::vector<std::uint8_t> header(kMagic, kMagic + sizeof kMagic);
    appendLittle64(header, entireLength);
    appendLittle64(header, thisLength);
    appendLittle64(header, number);
    appendLittle64(header, operation);
    return header;
}

std::optional<SimAfcPacket> readAfcPacket(int fd) {
    std::uint8_t header[afc::kHeaderLength];
    if (!readExactly(fd, header, sizeof header)) return std::nullopt;
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return std::nullopt;
    const std::uint64_t entire = readLittle64(header + 8);
    const std::uint64_t thisLength = readLittle64(header + 16);
    if (thisLength < afc::kHeaderLength || entire < thisLength ||
        entire - afc::kHeaderLength > kMaxFrameLength) {
        return std::nullopt;
    }
    SimAfcPacket packet;
    packet.number = readLittle64(header + 24);
    packet.operation = readLittle64(header + 32);
    packet.data.resize(entire - afc::kHeaderLength);
    if (!readExactly(fd, packet.data.data(), packet.data.size())) return std::nullopt;
    return packet;
}

bool writeAfcPacket(int fd, std::uint64_t number, std::uint64_t operation,
                    const std::vector<std::uint8_t>& operationData,
                    const std::vector<std::uint8_t>& payload) {
    const std::uint64_t thisLength = afc::kHeaderLength + operationData.size();
    auto bytes = afcHeader(thisLength + payload.size(), thisLength, number, operation);
    bytes.insert(bytes.end(), operationData.begin(), operationData.end());
    if (!writeAll(fd, bytes.data(), bytes.size())) return false;
    return payload.empty() || writeAll(fd, payload.data(), payload.size());
}

std::optional<std::uint64_t> SimAfcArguments::number() {
    if (data_.size() - offset_ < 8) return std::nullopt;
    const std::uint64_t value = readLittle64(data_.data() + offset_);
    offset_ += 8;
    return value;
}

std::optional<std::string> SimAfcArguments::text() {
    if (offset_ >= data_.size()) return std::nullopt;
    const auto* begin = reinterpret_cast<const char*>(data_.data() + offset_);
    const std::size_t available = data_.size() - offset_;
    const std::size_t length = ::strnlen(begin, available);
    offset_ += length + (length < available ? 1 : 0);
    return std::string(begin, length);
}

const std::uint8_t* SimAfcArguments::rest(std::size_t* length) const {
    *length = data_.size() - offset_;
    return data_.data() + offset_;
}

}  // namespace simdevice
