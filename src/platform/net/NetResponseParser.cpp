#include "platform/net/NetResponseParser.h"

// GCC's sanitizer builds see an uninitialised read inside Beast's optional content length
// that cannot happen (it is read only when set).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/beast/http/basic_parser.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#include <boost/beast/http/error.hpp>

#include <limits>
#include <optional>

namespace net {

namespace http = boost::beast::http;
using boost::beast::error_code;
using boost::beast::string_view;

namespace {

// Headers larger than this are refused rather than buffered without end; so are a chunk
// line and the trailers, which wait in the same way until their line ends.
constexpr std::uint32_t HeaderLimit = 256 * 1024;

struct Message {
    int status = 0;
    int version = 11;
    std::string reason;
    NetHeaderList headers;
    NetHeaderList trailers;
    bool headerDone = false;
};

// Where body bytes go: to the sink when there is one, else into the buffer.
struct BodyOut {
    foundation::Data buffered;
    NetResponseParser::BodySink sink;

    void put(string_view data) {
        if (data.empty()) return;
        if (sink) {
            sink(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        } else {
            buffered.insert(buffered.end(), data.begin(), data.end());
        }
    }
};

class Parser : public http::basic_parser<false> {
public:
    Parser(Message& message, BodyOut& body, bool head) : message_(message), body_(body) {
        header_limit(HeaderLimit);
        // Bodies are streamed out, so no limit; Boost 1.74 mis-compares an absent limit,
        // hence the largest value instead.
        body_limit(std::numeric_limits<std::uint64_t>::max());
        eager(true);
        skip(head);
    }

private:
    void on_request_impl(http::verb, string_view, string_view, int, error_code& ec) override {
        ec = http::error::bad_method;
    }
    void on_response_impl(int code, string_view reason, int version, error_code& ec) override {
        // Three digits are not enough: "020" is no status either.
        if (code < 100) ec = http::error::bad_status;
        message_.status = code;
        message_.version = version;
        message_.reason.assign(reason.data(), reason.size());
        // Room for a usual answer's headers at once, rather than growing the list by steps.
        message_.headers.reserve(16);
    }
    void on_field_impl(http::field, string_view name, string_view value, error_code&) override {
        auto& list = message_.headerDone ? message_.trailers : message_.headers;
        list.emplace_back(std::string(name.data(), name.size()),
                          std::string(value.data(), value.size()));
    }
    void on_header_impl(error_code&) override { message_.headerDone = true; }
    void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) override {}
    std::size_t on_body_impl(string_view data, error_code&) override {
        body_.put(data);
        return data.size();
    }
    void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override {}
    std::size_t on_chunk_body_impl(std::uint64_t, string_view data, error_code&) override {
        body_.put(data);
        return data.size();
    }
    void on_finish_impl(error_code&) override {}

    Message& message_;
    BodyOut& body_;
};

}  // namespace

struct NetResponseParser::Impl {
    bool head;
    Message message;
    BodyOut body;
    std::unique_ptr<Parser> parser;
    std::string pending;  // bytes the parser has not taken yet
    int interim = 0;
    std::size_t extra = 0;
    bool failed = false;
    bool endedByClose = false;
    std::string error;

    explicit Impl(bool h) : head(h) { restart(); }
    void restart() {
        message = Message{};
        parser = std::make_unique<Parser>(message, body, head);
    }
    bool fail(const std::string& why) {
        failed = true;
        error = why;
        return false;
    }
    // An interim answer (1xx other than 101) is dropped, and parsing starts over.
    bool isInterim() const {
        return message.status >= 100 && message.status < 200 && message.status != 101;
    }

    // Parses what it can of `data`; returns how much was taken, or nothing on a fault.
    std::optional<std::size_t> parse(const char* data, std::size_t size) {
        std::size_t at = 0;
        while (at < size) {
            if (parser->is_done()) {
                if (!isInterim()) {
                    extra += size - at;
                    return size;
                }
                ++interim;
                restart();
            }
            error_code ec;
            at += parser->put(boost::asio::const_buffer(data + at, size - at), ec);
            if (ec == http::error::need_more) break;
            if (ec) {
                fail(ec.message());
                return std::nullopt;
            }
        }
        return at;
    }
};

NetResponseParser::NetResponseParser(bool answersHeadRequest)
    : impl_(std::make_unique<Impl>(answersHeadRequest)) {}

NetResponseParser::~NetResponseParser() = default;

void NetResponseParser::setBodySink(BodySink sink) {
    impl_->body.sink = std::move(sink);
}

bool NetResponseParser::feed(const std::uint8_t* bytes, std::size_t size) {
    Impl& d = *impl_;
    if (d.failed) return false;
    if (d.parser->is_done() && !d.isInterim()) {
        d.extra += size;
        return true;
    }
    const char* data = reinterpret_cast<const char*>(bytes);
    if (d.pending.empty()) {
        // Parsed where the bytes lie, so that body bytes reach the sink inside them; only
        // a line that has not ended waits for more.
        auto used = d.parse(data, size);
        if (!used) return false;
        d.pending.assign(data + *used, size - *used);
    } else {
        d.pending.append(data, size);
        auto used = d.parse(d.pending.data(), d.pending.size());
        if (!used) return false;
        d.pending.erase(0, *used);
    }
    // Body bytes are always taken as they come: what waits is a line that has not ended.
    if (d.pending.size() > HeaderLimit)
        return d.fail(d.parser->is_header_done() ? "a chunk line or the trailers are too long"
                                                 : "the response headers are too long");
    // A complete interim answer with nothing after it: be ready for the next message.
    if (d.parser->is_done() && d.isInterim() && d.pending.empty()) {
        ++d.interim;
        d.restart();
    }
    return true;
}

bool NetResponseParser::finishAtEnd() {
    Impl& d = *impl_;
    if (d.failed) return false;
    if (d.parser->is_done()) return !d.isInterim();
    if (!d.parser->is_header_done())
        return d.fail("connection closed before the response headers ended");
    error_code ec;
    d.parser->put_eof(ec);
    if (ec)
        return d.fail(ec == http::error::partial_message ? "connection closed before the body ended"
                                                         : ec.message());
    d.endedByClose = true;
    return true;
}

bool NetResponseParser::headersComplete() const {
    return impl_->parser->is_header_done() && !impl_->isInterim();
}
bool NetResponseParser::messageComplete() const {
    return impl_->parser->is_done() && !impl_->isInterim();
}
bool NetResponseParser::bodyEndsWithClose() const {
    return impl_->endedByClose || (impl_->parser->is_header_done() && impl_->parser->need_eof());
}
bool NetResponseParser::keepAlive() const {
    return impl_->parser->is_header_done() && impl_->parser->keep_alive() && impl_->extra == 0;
}
int NetResponseParser::statusCode() const {
    return impl_->message.status;
}
int NetResponseParser::httpVersion() const {
    return impl_->message.version;
}
std::string NetResponseParser::statusLine() const {
    const Message& m = impl_->message;
    // Made for every response: plain appends cost less than a formatted text.
    std::string line = "HTTP/";
    line += std::to_string(m.version / 10);
    line += '.';
    line += std::to_string(m.version % 10);
    line += ' ';
    line += std::to_string(m.status);
    line += ' ';
    line += m.reason;
    return line;
}
const NetHeaderList& NetResponseParser::headers() const {
    return impl_->message.headers;
}
const NetHeaderList& NetResponseParser::trailers() const {
    return impl_->message.trailers;
}
std::optional<std::uint64_t> NetResponseParser::contentLength() const {
    if (!impl_->parser->is_header_done()) return std::nullopt;
    auto length = impl_->parser->content_length();
    return length ? std::optional<std::uint64_t>(*length) : std::nullopt;
}
int NetResponseParser::interimResponseCount() const {
    return impl_->interim;
}
std::size_t NetResponseParser::extraBytes() const {
    return impl_->extra;
}
foundation::Data NetResponseParser::takeBody() {
    return std::exchange(impl_->body.buffered, {});
}
std::size_t NetResponseParser::bufferedBodySize() const {
    return impl_->body.buffered.size();
}
const std::string& NetResponseParser::errorMessage() const {
    return impl_->error;
}

}  // namespace net
