#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "foundation/Url.h"
#include "platform/net/NetResponseParser.h"

namespace net {

// The events a stream tells its client of; the values are those of the event mask.
enum NetStreamEvent : unsigned {
    NetStreamEventOpenCompleted = 1,
    NetStreamEventHasBytesAvailable = 2,
    NetStreamEventErrorOccurred = 8,
    NetStreamEventEndEncountered = 16,
};
inline constexpr unsigned NetStreamEventMaskReadStream = 2 | 8 | 16;

// Error domains and codes the stream layer reports.
inline constexpr const char* NetPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* NetOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr const char* NetCFNetworkErrorDomain = "kCFErrorDomainCFNetwork";
inline constexpr int NetErrorHostNotFound = 2;
inline constexpr int NetErrorHTTPParseFailure = 303;
inline constexpr int NetErrorHTTPProxyConnectionFailure = 310;
inline constexpr int NetErrorNetworkConnectionLost = -1005;
// TLS failures, in the range callers recognise as certificate problems.
inline constexpr int NetTLSErrorProtocol = -9800;
inline constexpr int NetTLSErrorCertificateChainInvalid = -9807;
inline constexpr int NetTLSErrorNoRootCertificate = -9813;
inline constexpr int NetTLSErrorCertificateExpired = -9814;

// The request line and headers to send; the body comes from the stream's body reader.
struct NetHTTPMessage {
    std::string method = "GET";
    foundation::Url url;
    NetHeaderList headers;
    bool useHTTPVersionOne = false;  // send HTTP/1.0
    // The body's length, sent as Content-Length unless a header already gives it.
    std::optional<std::uint64_t> bodyLength;
};

struct NetTLSSettings {
    bool validatesCertificateChain = true;
    // A client identity: the certificate (with any chain after it) and its private key,
    // both PEM; empty for none.
    std::string clientCertificateChainPEM;
    std::string clientPrivateKeyPEM;
};

// An HTTP proxy, where "https" targets go through a CONNECT tunnel, or a SOCKS (version 5)
// proxy, through which every target is reached as if directly.
struct NetProxySettings {
    enum class Kind { HTTP, SOCKS };
    std::string host;
    std::uint16_t port = 0;
    // "Proxy-Authorization" for the proxy (in the tunnel's CONNECT for "https"); empty for none.
    std::string authorization;
    Kind kind = Kind::HTTP;
    // The SOCKS proxy's user name and password (an empty user name offers none); for an
    // HTTP proxy, those `authorization` was made from.
    std::string username{};
    std::string password{};
    // How long the SOCKS exchange may take before the connection fails.
    std::chrono::milliseconds socksTimeLimit{std::chrono::seconds(30)};

    // Connections to a server may be shared only through the same proxy, and only under
    // the same credentials: a SOCKS proxy checked them when connecting, an HTTP proxy when
    // it opened the tunnel (or, for NTLM, for the whole connection).
    std::string connectionKey() const {
        return (kind == Kind::SOCKS ? "socks://" : "http://") + username + "@" + host + ":" +
               std::to_string(port) + "\n" + password;
    }
};

}  // namespace net
