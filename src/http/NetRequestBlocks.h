#pragma once

#include <cstdint>
#include <functional>

#include "foundation/Value.h"
#include "http/NetHeaders.h"

// The twelve callbacks a request may be given; each runs on the main thread.
struct NetRequestBlocks {
    std::function<void()> started;
    std::function<void(const NetHeaders&)> headersReceived;
    std::function<void()> completion;
    std::function<void()> failed;
    std::function<void(std::uint64_t amount, std::uint64_t total)> bytesReceived;
    std::function<void(std::uint64_t amount, std::uint64_t total)> bytesSent;
    std::function<void(std::int64_t amount)> downloadSizeIncremented;
    std::function<void(std::int64_t amount)> uploadSizeIncremented;
    std::function<void(const foundation::Data&)> dataReceived;
    std::function<void()> authenticationNeeded;
    std::function<void()> proxyAuthenticationNeeded;
    std::function<void()> requestRedirected;

    bool any() const {
        return started || headersReceived || completion || failed || bytesReceived || bytesSent ||
               downloadSizeIncremented || uploadSizeIncremented || dataReceived ||
               authenticationNeeded || proxyAuthenticationNeeded || requestRedirected;
    }
};
