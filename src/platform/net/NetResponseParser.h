#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Value.h"

namespace net {

using NetHeaderList = std::vector<std::pair<std::string, std::string>>;

// Reads an HTTP/1.1 response from bytes as they arrive: the status line, the headers
// (repeated ones kept in order), the body framed by Content-Length, chunks (with trailers)
// or the end of the connection. Interim 1xx answers are skipped. Never trusts a length:
// a malformed message is an error, not a guess.
class NetResponseParser {
public:
    // For an answer to HEAD no body is read whatever the headers say.
    explicit NetResponseParser(bool answersHeadRequest = false);
    ~NetResponseParser();
    NetResponseParser(const NetResponseParser&) = delete;
    NetResponseParser& operator=(const NetResponseParser&) = delete;

    // Receives body bytes as they are parsed, in place of takeBody(). The bytes lie in the
    // buffer given to feed() where they came whole in it, so that the receiver can keep
    // them there rather than copy them; they are only good until feed() returns.
    using BodySink = std::function<void(const std::uint8_t* bytes, std::size_t size)>;
    void setBodySink(BodySink sink);

    // Feeds received bytes; false once the message is malformed (see errorMessage).
    // Bytes after a complete message are counted in extraBytes().
    bool feed(const std::uint8_t* bytes, std::size_t size);
    // The peer closed the connection. True when that ends the message (a body that runs to
    // the close, or a message already complete); false when it was cut short.
    bool finishAtEnd();

    bool headersComplete() const;
    bool messageComplete() const;
    // Whether the body runs until the connection closes.
    bool bodyEndsWithClose() const;
    // Whether the connection may carry another request after this message.
    bool keepAlive() const;

    int statusCode() const;
    int httpVersion() const;  // 11 for HTTP/1.1
    // "HTTP/1.1 200 OK"
    std::string statusLine() const;
    const NetHeaderList& headers() const;
    const NetHeaderList& trailers() const;
    std::optional<std::uint64_t> contentLength() const;
    int interimResponseCount() const;
    std::size_t extraBytes() const;

    // The body bytes parsed and not yet taken (none when a body sink is set).
    foundation::Data takeBody();
    std::size_t bufferedBodySize() const;
    const std::string& errorMessage() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace net
