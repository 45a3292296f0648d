#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "content/HttpHeaderFields.h"
#include "foundation/Url.h"
#include "foundation/Value.h"

namespace content {

// What a task receives as the head of an answer: the URL, the status, the HTTP version and
// the header fields.
class HTTPURLResponse {
public:
    HTTPURLResponse(foundation::Url url, std::int64_t statusCode, std::string httpVersion = {},
                    HttpHeaderFields headerFields = {})
        : url_(std::move(url)),
          statusCode_(statusCode),
          httpVersion_(std::move(httpVersion)),
          headers_(std::move(headerFields)) {}
    virtual ~HTTPURLResponse() = default;

    const foundation::Url& url() const { return url_; }
    std::int64_t statusCode() const { return statusCode_; }
    void setStatusCode(std::int64_t code) { statusCode_ = code; }
    const std::string& httpVersion() const { return httpVersion_; }
    const HttpHeaderFields& allHeaderFields() const { return headers_; }
    HttpHeaderFields& allHeaderFields() { return headers_; }

private:
    foundation::Url url_;
    std::int64_t statusCode_;
    std::string httpVersion_;

protected:
    HttpHeaderFields headers_;
};

// The response a responder fills: status, headers, a MIME type and one body.
class MyHttpURLResponse : public HTTPURLResponse {
public:
    MyHttpURLResponse(foundation::Url url, std::int64_t statusCode,
                      HttpHeaderFields headerFields = {})
        : HTTPURLResponse(std::move(url), statusCode, {}, std::move(headerFields)) {}
    MyHttpURLResponse(foundation::Url url, std::int64_t statusCode, std::string httpVersion,
                      HttpHeaderFields headerFields)
        : HTTPURLResponse(std::move(url), statusCode, std::move(httpVersion),
                          std::move(headerFields)) {}
    // Status 200 with the given body and no headers.
    MyHttpURLResponse(foundation::Url url, foundation::Data data)
        : HTTPURLResponse(std::move(url), 200), data_(std::move(data)) {}

    // A value sets the header; no value removes it.
    void setValueForHeader(std::optional<std::string> value, std::string_view header);

    void setData(foundation::Data data) { data_ = std::move(data); }
    const foundation::Data& data() const { return data_; }
    std::uint64_t expectedContentLength() const { return data_.size(); }
    void setMIMEType(std::string mimeType) { mimeType_ = std::move(mimeType); }
    const std::string& MIMEType() const { return mimeType_; }

    // A body too large to hold: each call gives the next piece, an empty one at the end,
    // nullopt when reading fails (the rest is then left out). Called on the delivering
    // thread, one piece at a time, and no more once the request is stopped. The responder
    // sets "Content-Length" itself.
    using BodyPieces = std::function<std::optional<foundation::Data>()>;
    void setBodyPieces(BodyPieces pieces) { bodyPieces_ = std::move(pieces); }
    const BodyPieces& bodyPieces() const { return bodyPieces_; }

private:
    foundation::Data data_;
    BodyPieces bodyPieces_;
    std::string mimeType_;
};

}  // namespace content
