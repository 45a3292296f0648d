#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One challenge of a "WWW-Authenticate" or "Proxy-Authenticate" value: a scheme followed by
// either a token68 or name=value parameters (values unquoted).
struct NetAuthenticationChallenge {
    std::string scheme;
    std::string token68;
    std::vector<std::pair<std::string, std::string>> parameters;

    // The parameter's value, its name in any letter case.
    std::optional<std::string> parameter(std::string_view name) const;
    bool isScheme(std::string_view name) const;

    // Every challenge of a header value, in order. Malformed parts end the list; what was
    // read before them stays. At most MaximumChallenges are kept.
    static std::vector<NetAuthenticationChallenge> parse(std::string_view value);
    static constexpr std::size_t MaximumChallenges = 32;
};
