#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "foundation/Base64.h"
#include "http/NetSessionCredentials.h"
#include "support/httpserver/TestHttpServer.h"

namespace httptest {

// The "Authorization" (or "Proxy-Authorization") value of Basic for this user and password.
inline std::string basic(const std::string& user, const std::string& password) {
    std::string pair = user + ":" + password;
    return "Basic " + foundation::base64::encode(std::span(
                          reinterpret_cast<const std::uint8_t*>(pair.data()), pair.size()));
}

// A proxy's Basic challenge for the realm "gate", with an empty body.
inline testsupport::ScriptedAnswer proxyChallenge() {
    testsupport::ScriptedAnswer answer;
    answer.raw =
        "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
        "realm=\"gate\"\r\nContent-Length: 0\r\n\r\n";
    return answer;
}

// Empties the session's proxy credential store, which clearing the session keeps.
inline void forgetSessionProxyCredentials() {
    auto& session = NetSessionCredentials::shared();
    for (const auto& record : session.sessionProxyCredentialsStore())
        session.removeProxyAuthenticationCredentialsFromSessionStore(record.credentials);
}

}  // namespace httptest
