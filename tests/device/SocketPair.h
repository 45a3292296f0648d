#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/AMService.h"
#include "foundation/PropertyList.h"

namespace devicetest {

// A connected Unix socket pair: one end inside an AMService, the other left raw so that
// a test plays the device and writes and reads the bytes on the wire itself.
class SocketPair {
public:
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) ADD_FAILURE() << "socketpair";
        service = AMService::withSocket(fds[0], "test.service");
        peer = fds[1];
    }
    ~SocketPair() { closePeer(); }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    void closePeer() {
        if (peer >= 0) ::close(peer);
        peer = -1;
    }
    void writePeer(std::span<const std::uint8_t> bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::send(peer, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            ASSERT_GT(n, 0);
            done += static_cast<std::size_t>(n);
        }
    }
    std::vector<std::uint8_t> readPeer(std::size_t count) const {
        std::vector<std::uint8_t> bytes(count);
        std::size_t done = 0;
        while (done < count) {
            ssize_t n = ::recv(peer, bytes.data() + done, count - done, 0);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
        return bytes;
    }
    // The next length-prefixed packet the service sent, read back; nil when it does not read.
    foundation::Value readPacket(foundation::plist::Format* format = nullptr) const {
        const auto prefix = readPeer(4);
        if (prefix.size() != 4) return {};
        const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                     (std::uint32_t{prefix[1]} << 16) |
                                     (std::uint32_t{prefix[2]} << 8) | prefix[3];
        return foundation::plist::read(readPeer(length), nullptr, format)
            .value_or(foundation::Value());
    }

    std::shared_ptr<AMService> service;
    int peer = -1;
};

inline std::vector<std::uint8_t> lengthPrefix(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// A property list as a device frames it: the length, then the XML.
inline std::vector<std::uint8_t> framedXml(const foundation::Value& message) {
    const auto xml = foundation::plist::writeXml(message);
    std::vector<std::uint8_t> bytes(xml->begin(), xml->end());
    const auto prefix = lengthPrefix(static_cast<std::uint32_t>(bytes.size()));
    bytes.insert(bytes.begin(), prefix.begin(), prefix.end());
    return bytes;
}

}  // namespace devicetest
