#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace net {

// The hosts reached without a proxy, from "no_proxy" or GNOME's "ignore-hosts": "*" for
// all, a domain (with or without a leading "." or "*.") for itself and its subdomains, an
// address, or an address block ("10.0.0.0/8", "fd00::/8"); each optionally with ":port".
class NetProxyBypass {
public:
    explicit NetProxyBypass(std::vector<std::string> patterns);
    // Splits at commas and blanks.
    static NetProxyBypass fromList(std::string_view list);

    bool bypasses(const std::string& host, int port) const;
    const std::vector<std::string>& patterns() const { return patterns_; }

private:
    std::vector<std::string> patterns_;
};

}  // namespace net
