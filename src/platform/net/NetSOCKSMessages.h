#pragma once

// The bytes of a SOCKS version 5 exchange (greeting, user name and password, CONNECT) and
// the checks of the proxy's answers. No I/O: the client feeds what it read. Every answer is
// read within the bytes given; a length the proxy claims is never trusted.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "foundation/Error.h"

namespace net {

// Error codes of a failed SOCKS exchange, in the stream layer's network error domain.
inline constexpr int NetErrorSOCKSUnsupportedServerVersion = 101;
inline constexpr int NetErrorSOCKS5BadState = 120;
inline constexpr int NetErrorSOCKS5BadResponseAddr = 121;
inline constexpr int NetErrorSOCKS5BadCredentials = 122;
inline constexpr int NetErrorSOCKS5UnsupportedNegotiationMethod = 123;
inline constexpr int NetErrorSOCKS5NoAcceptableMethod = 124;
// The proxy could not reach the server; the proxy's reply code is in the message.
inline constexpr int NetErrorSOCKS5RequestFailed = 125;

struct NetSOCKS5Target {
    std::string host;  // a name, an IPv4 address or an IPv6 address (brackets allowed)
    std::uint16_t port = 0;
};

// What the proxy answered, or asks the client to read first.
struct NetSOCKSAnswer {
    enum class State { NeedMore, Done, Failed };
    State state = State::NeedMore;
    std::size_t length = 0;  // NeedMore: the answer's whole length known so far; Done: its length
    std::uint8_t method = 0;  // the method chosen, for the greeting's answer
    std::optional<foundation::Error> error;
};

class NetSOCKSMessages {
public:
    static constexpr std::uint8_t MethodNone = 0x00;
    static constexpr std::uint8_t MethodUsernamePassword = 0x02;

    // Offers "no authentication", and user name and password when there are credentials.
    static std::vector<std::uint8_t> greeting(bool withCredentials);
    // nullopt for a user name or password that is empty or longer than 255 bytes.
    static std::optional<std::vector<std::uint8_t>> credentials(const std::string& username,
                                                                const std::string& password);
    // nullopt for an empty host, or a name longer than 255 bytes.
    static std::optional<std::vector<std::uint8_t>> connect(const NetSOCKS5Target& target);

    // The proxy's choice of method; Failed when it offers none of the client's.
    static NetSOCKSAnswer parseGreetingAnswer(std::span<const std::uint8_t> bytes,
                                              bool withCredentials);
    static NetSOCKSAnswer parseCredentialsAnswer(std::span<const std::uint8_t> bytes);
    // The CONNECT answer is of variable length: NeedMore tells how many bytes it has.
    static NetSOCKSAnswer parseConnectAnswer(std::span<const std::uint8_t> bytes);
};

}  // namespace net
