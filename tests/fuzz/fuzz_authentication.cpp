// Challenges come from any server or proxy, and auto-configuration answers from any script:
// each must parse or be refused, and what is made from them must never let a line break
// into a header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/NetAuthentication.h"
#include "http/NetAuthenticationChallenge.h"
#include "platform/net/NetPACScript.h"
#include "platform/net/NetProxyBypass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto challenges = NetAuthenticationChallenge::parse(text);
    if (challenges.size() > NetAuthenticationChallenge::MaximumChallenges) std::abort();
    for (const auto& challenge : challenges) {
        if (challenge.scheme.empty()) std::abort();
    }

    NetAuthentication::Headers headers = {{"WWW-Authenticate", text}};
    if (auto authentication = NetAuthentication::createFromResponse(headers, false)) {
        auto header = authentication->authorizationHeader({"user", "password", ""}, "GET", "/a");
        if (header && header->find_first_of("\r\n") != std::string::npos) std::abort();
        authentication->updateFromResponse(headers, false);
    }

    for (const auto& entry : net::NetPACScript::parseResult(text)) {
        if (entry.type == net::NetProxyEntry::Type::HTTP &&
            (entry.host.empty() || entry.port <= 0 || entry.port > 65535))
            std::abort();
    }
    (void)net::NetProxyBypass::fromList(text).bypasses("www.example.com", 80);
    (void)net::NetProxyBypass::fromList("example.com").bypasses(text, 443);
    return 0;
}
