#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace net {
class NetHTTPStream;
}

// One physical connection, shared by the requests that use it one after another.
struct NetConnectionRecord {
    int id = 0;
    std::string host;
    int port = 0;  // 0 when the URL names none
    std::string scheme;
    // The proxy the connection goes to, with the credentials it was given (see
    // NetProxySettings::connectionKey); empty for a direct one.
    std::string proxy;
    // The TLS settings the connection was opened with (certificate checking, client
    // identity); a connection is reused only by a request that asks for the same.
    std::string tls;
    // The run loop whose thread holds the physical connection; only requests on that
    // thread can reuse it.
    const void* runLoop = nullptr;
    // The request now using the connection; none while it is idle.
    std::optional<std::uint32_t> request;
    // The stream last opened on the connection.
    std::shared_ptr<net::NetHTTPStream> stream;
    // After this moment an idle connection is no longer reused; none counts as now.
    std::optional<std::chrono::steady_clock::time_point> expires;
};
