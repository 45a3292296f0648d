#include "http/NetFailureText.h"

#include <cerrno>

#include "http/NetErrors.h"
#include "platform/net/NetStreamTypes.h"

namespace {

// The reasons connect() gives: the connection was never made.
bool isConnectFailure(std::int64_t code) {
    return code == ECONNREFUSED || code == EHOSTUNREACH || code == ENETUNREACH ||
           code == EHOSTDOWN || code == ETIMEDOUT || code == EADDRNOTAVAIL;
}

}  // namespace

std::string NetFailureText::describe(const foundation::Error& error, const std::string& host) {
    if (error.domain != NetworkRequestErrorDomain || error.code != NetConnectionFailureErrorType)
        return error.message;
    const foundation::Value& underlying = error.userInfo["NSUnderlyingError"];
    const std::string* domain = underlying["domain"].string();
    const std::string* reason = underlying["message"].string();
    auto code = underlying["code"].toInt64();
    if (domain == nullptr || *domain != net::NetPOSIXErrorDomain || reason == nullptr ||
        reason->empty() || !code || !isConnectFailure(*code) || host.empty())
        return error.message;
    return "Could not connect to " + host + ": " + *reason;
}
