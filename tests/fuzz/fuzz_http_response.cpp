// Responses arrive from any server: whatever the bytes and however they are split, the
// parser gives a framed message or a clean failure, and never more body than it was fed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/net/NetResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the piece size and whether the request was HEAD.
    const std::size_t piece = 1 + (data[0] & 0x3F);
    const bool head = (data[0] & 0x40) != 0;
    const bool peerCloses = (data[0] & 0x80) != 0;
    ++data;
    --size;
    net::NetResponseParser parser(head);
    std::size_t body = 0;
    bool failed = false;
    for (std::size_t at = 0; at < size && !failed; at += piece) {
        std::size_t n = size - at < piece ? size - at : piece;
        failed = !parser.feed(data + at, n);
        body += parser.takeBody().size();
    }
    if (!failed && peerCloses) {
        if (parser.finishAtEnd() && !parser.messageComplete()) std::abort();
        body += parser.takeBody().size();
    }
    if (body > size) std::abort();
    if (parser.headersComplete() && (parser.statusCode() < 100 || parser.statusCode() > 999))
        std::abort();
    if (parser.messageComplete()) {
        parser.statusLine();
        parser.keepAlive();
    }
    return 0;
}
