#include "platform/net/NetSOCKSMessages.h"

#include <boost/asio/ip/address.hpp>
#include <fmt/format.h>

#include "platform/net/NetStreamTypes.h"

namespace net {

namespace {

constexpr std::uint8_t Version5 = 0x05;
constexpr std::uint8_t CommandConnect = 0x01;
constexpr std::uint8_t AddressIPv4 = 0x01;
constexpr std::uint8_t AddressName = 0x03;
constexpr std::uint8_t AddressIPv6 = 0x04;
constexpr std::uint8_t NoAcceptableMethod = 0xFF;

foundation::Error socksError(int code, std::string message) {
    return foundation::Error{NetCFNetworkErrorDomain, code, std::move(message), {}};
}

NetSOCKSAnswer needMore(std::size_t length) {
    return NetSOCKSAnswer{NetSOCKSAnswer::State::NeedMore, length, 0, std::nullopt};
}

NetSOCKSAnswer failed(int code, std::string message) {
    return NetSOCKSAnswer{NetSOCKSAnswer::State::Failed, 0, 0,
                          socksError(code, std::move(message))};
}

NetSOCKSAnswer done(std::size_t length, std::uint8_t method = 0) {
    return NetSOCKSAnswer{NetSOCKSAnswer::State::Done, length, method, std::nullopt};
}

const char* replyText(std::uint8_t reply) {
    switch (reply) {
        case 0x01: return "general SOCKS server failure";
        case 0x02: return "connection not allowed by ruleset";
        case 0x03: return "network unreachable";
        case 0x04: return "host unreachable";
        case 0x05: return "connection refused";
        case 0x06: return "TTL expired";
        case 0x07: return "command not supported";
        case 0x08: return "address type not supported";
        default: return "unknown failure";
    }
}

void appendPort(std::vector<std::uint8_t>& out, std::uint16_t port) {
    out.push_back(static_cast<std::uint8_t>(port >> 8));
    out.push_back(static_cast<std::uint8_t>(port & 0xFF));
}

}  // namespace

std::vector<std::uint8_t> NetSOCKSMessages::greeting(bool withCredentials) {
    if (withCredentials) return {Version5, 2, MethodNone, MethodUsernamePassword};
    return {Version5, 1, MethodNone};
}

std::optional<std::vector<std::uint8_t>> NetSOCKSMessages::credentials(
    const std::string& username, const std::string& password) {
    if (username.empty() || username.size() > 255 || password.empty() || password.size() > 255)
        return std::nullopt;
    std::vector<std::uint8_t> out{0x01, static_cast<std::uint8_t>(username.size())};
    out.insert(out.end(), username.begin(), username.end());
    out.push_back(static_cast<std::uint8_t>(password.size()));
    out.insert(out.end(), password.begin(), password.end());
    return out;
}

std::optional<std::vector<std::uint8_t>> NetSOCKSMessages::connect(const NetSOCKS5Target& target) {
    std::string host = target.host;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty()) return std::nullopt;
    std::vector<std::uint8_t> out{Version5, CommandConnect, 0x00};
    boost::system::error_code ec;
    auto address = boost::asio::ip::make_address(host, ec);
    if (!ec && address.is_v4()) {
        out.push_back(AddressIPv4);
        auto bytes = address.to_v4().to_bytes();
        out.insert(out.end(), bytes.begin(), bytes.end());
    } else if (!ec && address.is_v6()) {
        out.push_back(AddressIPv6);
        auto bytes = address.to_v6().to_bytes();
        out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
        // The proxy looks the name up, so that names only it can resolve still work.
        if (host.size() > 255) return std::nullopt;
        out.push_back(AddressName);
        out.push_back(static_cast<std::uint8_t>(host.size()));
        out.insert(out.end(), host.begin(), host.end());
    }
    appendPort(out, target.port);
    return out;
}

NetSOCKSAnswer NetSOCKSMessages::parseGreetingAnswer(std::span<const std::uint8_t> bytes,
                                                     bool withCredentials) {
    if (bytes.size() < 2) return needMore(2);
    if (bytes[0] != Version5) {
        return failed(NetErrorSOCKSUnsupportedServerVersion,
                      fmt::format("The SOCKS proxy answered in version {}", bytes[0]));
    }
    std::uint8_t method = bytes[1];
    if (method == NoAcceptableMethod) {
        return failed(NetErrorSOCKS5NoAcceptableMethod,
                      withCredentials ? "The SOCKS proxy accepts none of the offered methods"
                                      : "The SOCKS proxy asks for a user name and password");
    }
    if (method != MethodNone && !(withCredentials && method == MethodUsernamePassword)) {
        return failed(NetErrorSOCKS5UnsupportedNegotiationMethod,
                      fmt::format("The SOCKS proxy chose method {}, which was not offered", method));
    }
    return done(2, method);
}

NetSOCKSAnswer NetSOCKSMessages::parseCredentialsAnswer(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2) return needMore(2);
    // Version 1 of the sub-negotiation; some proxies answer with the SOCKS version instead.
    if (bytes[0] != 0x01 && bytes[0] != Version5) {
        return failed(NetErrorSOCKS5BadState,
                      fmt::format("The SOCKS proxy's answer to the credentials is of version {}",
                                  bytes[0]));
    }
    if (bytes[1] != 0x00) {
        return failed(NetErrorSOCKS5BadCredentials,
                      "The SOCKS proxy refused the user name and password");
    }
    return done(2);
}

NetSOCKSAnswer NetSOCKSMessages::parseConnectAnswer(std::span<const std::uint8_t> bytes) {
    // Version, reply, reserved, address type, then the address and a port of two bytes.
    if (bytes.size() < 5) return needMore(5);
    if (bytes[0] != Version5) {
        return failed(NetErrorSOCKSUnsupportedServerVersion,
                      fmt::format("The SOCKS proxy answered in version {}", bytes[0]));
    }
    if (bytes[1] != 0x00) {
        return failed(NetErrorSOCKS5RequestFailed,
                      fmt::format("The SOCKS proxy could not connect: {} ({})",
                                  replyText(bytes[1]), bytes[1]));
    }
    std::size_t length = 0;
    switch (bytes[3]) {
        case AddressIPv4:
            length = 4 + 4 + 2;
            break;
        case AddressIPv6:
            length = 4 + 16 + 2;
            break;
        case AddressName:
            if (bytes[4] == 0) {
                return failed(NetErrorSOCKS5BadResponseAddr,
                              "The SOCKS proxy's answer has an empty address");
            }
            length = 4 + 1 + bytes[4] + 2;
            break;
        default:
            return failed(NetErrorSOCKS5BadResponseAddr,
                          fmt::format("The SOCKS proxy's answer has address type {}", bytes[3]));
    }
    if (bytes.size() < length) return needMore(length);
    return done(length);
}

}  // namespace net
