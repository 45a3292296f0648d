// A proxy script answers any text: every entry made from it must name a usable proxy or
// none, so that a request never goes to an address made of garbage.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/NetPACScript.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& entry : net::NetPACScript::parseResult(text)) {
        if (entry.type == net::NetProxyEntry::Type::None) {
            if (!entry.host.empty() || entry.port != 0) std::abort();
            continue;
        }
        if (entry.type != net::NetProxyEntry::Type::HTTP &&
            entry.type != net::NetProxyEntry::Type::SOCKS)
            std::abort();
        if (entry.host.empty() || entry.port <= 0 || entry.port > 65535) std::abort();
        for (char c : entry.host) {
            if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '@') std::abort();
        }
    }
    return 0;
}
