#include "platform/net/NetProxyBypass.h"

#include <arpa/inet.h>

#include <array>
#include <charconv>
#include <optional>

namespace net {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string bare(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return lowered(host);
}

// The address's bytes (4 or 16), or nothing for a name.
std::optional<std::vector<std::uint8_t>> addressBytes(const std::string& text) {
    std::array<std::uint8_t, 16> buffer{};
    if (::inet_pton(AF_INET, text.c_str(), buffer.data()) == 1)
        return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4);
    if (::inet_pton(AF_INET6, text.c_str(), buffer.data()) == 1)
        return std::vector<std::uint8_t>(buffer.begin(), buffer.end());
    return std::nullopt;
}

bool inBlock(const std::vector<std::uint8_t>& address, const std::vector<std::uint8_t>& block,
             int bits) {
    if (address.size() != block.size() || bits < 0 || bits > static_cast<int>(block.size()) * 8)
        return false;
    for (int i = 0; i < bits; ++i) {
        int byte = i / 8;
        int mask = 0x80 >> (i % 8);
        if ((address[byte] & mask) != (block[byte] & mask)) return false;
    }
    return true;
}

// Splits "host:port", "[v6]:port" and plain hosts; a bare IPv6 address has no port.
void splitPort(std::string_view pattern, std::string& host, int& port) {
    port = 0;
    auto colon = pattern.rfind(':');
    bool bracketed = !pattern.empty() && pattern.front() == '[';
    bool manyColons = pattern.find(':') != colon;
    if (colon != std::string_view::npos &&
        (bracketed ? colon > 0 && pattern[colon - 1] == ']' : !manyColons)) {
        int value = 0;
        auto digits = pattern.substr(colon + 1);
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec == std::errc() && end == digits.data() + digits.size()) {
            port = value;
            pattern = pattern.substr(0, colon);
        }
    }
    host = bare(pattern);
}

}  // namespace

NetProxyBypass::NetProxyBypass(std::vector<std::string> patterns)
    : patterns_(std::move(patterns)) {}

NetProxyBypass NetProxyBypass::fromList(std::string_view list) {
    std::vector<std::string> patterns;
    std::size_t start = 0;
    while (start < list.size()) {
        auto end = list.find_first_of(", \t", start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) patterns.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return NetProxyBypass(std::move(patterns));
}

bool NetProxyBypass::bypasses(const std::string& urlHost, int urlPort) const {
    std::string host = bare(urlHost);
    while (!host.empty() && host.back() == '.') host.pop_back();
    auto address = addressBytes(host);
    for (const auto& raw : patterns_) {
        if (raw == "*") return true;
        std::string pattern;
        int port = 0;
        auto slash = raw.find('/');
        if (slash != std::string::npos) {
            // An address block.
            auto blockBytes = addressBytes(bare(raw.substr(0, slash)));
            int bits = -1;
            auto digits = std::string_view(raw).substr(slash + 1);
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
            if (address && blockBytes && ec == std::errc() &&
                end == digits.data() + digits.size() && inBlock(*address, *blockBytes, bits))
                return true;
            continue;
        }
        splitPort(raw, pattern, port);
        if (port != 0 && port != urlPort) continue;
        if (pattern.starts_with("*.")) pattern.erase(0, 1);
        if (pattern.starts_with(".")) pattern.erase(0, 1);
        if (pattern.empty()) continue;
        if (address) {
            auto patternBytes = addressBytes(pattern);
            if (patternBytes && *patternBytes == *address) return true;
            continue;
        }
        if (host == pattern) return true;
        if (host.size() > pattern.size() && host.ends_with(pattern) &&
            host[host.size() - pattern.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace net
