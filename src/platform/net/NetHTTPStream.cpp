#include "platform/net/NetHTTPStream.h"

#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/net/NetBodyBuffer.h"
#include "platform/net/NetConnection.h"
#include "platform/net/NetRunLoop.h"
#include "platform/net/NetRunLoopImpl.h"

namespace net {

namespace asio = boost::asio;

namespace {

constexpr std::size_t WriteChunk = 64 * 1024;
// Reading from the network pauses while this much body waits for the client.
constexpr std::size_t BufferedBodyLimit = 1024 * 1024;

bool hasHeader(const NetHeaderList& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& header) {
        return header.first.size() == name.size() &&
               std::equal(name.begin(), name.end(), header.first.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    });
}

bool safeHeaderText(std::string_view text) {
    return text.find_first_of("\r\n", 0) == std::string_view::npos &&
           text.find('\0') == std::string_view::npos;
}

foundation::Error makeStreamError(const char* domain, int code, std::string message) {
    return foundation::Error{domain, code, std::move(message), {}};
}

}  // namespace

struct NetHTTPStream::Impl : std::enable_shared_from_this<Impl> {
    NetHTTPMessage message;
    BodyReader body;
    NetTLSSettings tlsSettings;
    std::optional<NetProxySettings> proxy;
    std::optional<int> streamID;

    unsigned mask = 0;
    Client client;
    NetRunLoop* scheduledLoop = nullptr;
    std::string mode;
    NetRunLoop::Impl* loop = nullptr;  // where the I/O runs, fixed at open
    // Whether that loop still lives, for other threads: only its thread may close the
    // stream while it does.
    std::shared_ptr<NetRunLoop::Impl::Life> loopLife;
    // The loop (and the connection) where the connection was kept for reuse; read from
    // other threads once the exchange is over.
    std::weak_ptr<NetRunLoop::Impl> keptOn;
    std::weak_ptr<NetConnection> keptConnection;

    std::shared_ptr<NetConnection> connection;
    Status status = Status::NotOpen;
    std::optional<foundation::Error> error;
    std::unique_ptr<NetResponseParser> parser;
    // Body bytes received and not yet read, in the blocks the socket read them into.
    NetBodyBuffer waitingBody;
    bool connected = false;
    bool reading = false;
    bool messageDone = false;

    std::string head;
    std::size_t headSent = 0;
    std::vector<std::uint8_t> writeBuffer;
    bool writing = false;
    bool bodyDone = false;
    bool writeDone = false;
    std::uint64_t bytesWritten = 0;
    std::uint64_t bytesReceived = 0;

    bool reused = false;
    // Set while open() goes on with a reused connection it has just found empty.
    bool justChecked = false;
    bool kept = false;
    bool errorReported = false;
    bool endReported = false;
    bool deliveryQueued = false;
    // Set while a completed read is handled, which is a turn of the loop already.
    bool deliverInline = false;
    // Set while the client handles an event.
    bool delivering = false;

    bool terminal() const {
        return status == Status::Error || status == Status::Closed || status == Status::AtEnd;
    }
    std::size_t waiting() const { return waitingBody.size(); }

    bool buildHead() {
        const foundation::Url& url = message.url;
        if (!safeHeaderText(message.method) || message.method.find(' ') != std::string::npos ||
            message.method.empty()) {
            return false;
        }
        // Made for every request: plain appends cost less than formatted texts.
        const std::string port = url.port() ? ":" + std::to_string(*url.port()) : std::string();
        head.clear();
        head.reserve(256);
        head += message.method;
        head += ' ';
        // Only an HTTP proxy is sent the absolute URL; through a tunnel or a SOCKS proxy the
        // server is spoken to as if directly.
        bool viaHTTPProxy =
            proxy && proxy->kind == NetProxySettings::Kind::HTTP && url.scheme() != "https";
        if (viaHTTPProxy) {
            head += url.scheme();
            head += "://";
            head += url.host();
            head += port;
        }
        head += url.path().empty() ? "/" : url.path();
        if (url.query()) {
            head += '?';
            head += *url.query();
        }
        head += message.useHTTPVersionOne ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n";
        if (!hasHeader(message.headers, "Host")) {
            head += "Host: ";
            head += url.host();
            head += port;
            head += "\r\n";
        }
        for (const auto& [name, value] : message.headers) {
            if (name.empty() || !safeHeaderText(name) || name.find(':') != std::string::npos ||
                !safeHeaderText(value)) {
                return false;
            }
            head += name;
            head += ": ";
            head += value;
            head += "\r\n";
        }
        if (viaHTTPProxy && !proxy->authorization.empty()) {
            if (!safeHeaderText(proxy->authorization)) return false;
            head += "Proxy-Authorization: " + proxy->authorization + "\r\n";
        }
        if (message.bodyLength && !hasHeader(message.headers, "Content-Length") &&
            !hasHeader(message.headers, "Transfer-Encoding")) {
            head += "Content-Length: " + std::to_string(*message.bodyLength) + "\r\n";
        }
        head += "\r\n";
        return true;
    }

    bool open() {
        if (status != Status::NotOpen) return false;
        const foundation::Url& url = message.url;
        bool tls = url.scheme() == "https";
        if ((!tls && url.scheme() != "http") || url.host().empty() || !buildHead()) return false;
        loop = &NetRunLoop::current().impl();
        loopLife = loop->life;
        parser = std::make_unique<NetResponseParser>(message.method == "HEAD");
        // The parser lives no longer than this stream.
        parser->setBodySink([this](const std::uint8_t* bytes, std::size_t size) {
            waitingBody.append(bytes, size);
        });
        status = Status::Opening;
        NetConnectTarget target;
        target.host = url.host();
        target.port = url.port() ? *url.port() : (tls ? 443 : 80);
        target.tls = tls;
        target.tlsSettings = tlsSettings;
        target.proxy = proxy;
        if (streamID) {
            auto found = loop->idleConnections.find(*streamID);
            if (found != loop->idleConnections.end()) {
                auto idle = found->second;
                loop->idleConnections.erase(found);
                const bool fit = idle->looksReusable();
                if (fit && idle->awaitsTunnel() && idle->canTunnelTo(target)) {
                    // The proxy refused the tunnel on this connection: ask it again there.
                    connection = idle;
                    reused = true;
                    connection->retunnel(target, connectedHandler());
                    return true;
                }
                if (fit && !idle->awaitsTunnel()) {
                    connection = idle;
                    reused = true;
                    connected = true;
                    status = Status::Open;
                    // The check found the socket empty, and nothing waits on the kernel
                    // before the answer is asked for below: a body read could.
                    justChecked = !body;
                    resume();
                    justChecked = false;
                    return true;
                }
                idle->close();
            }
        }
        connection = std::make_shared<NetConnection>(loop->context);
        connection->connect(target, connectedHandler());
        return true;
    }

    NetConnection::DoneHandler connectedHandler() {
        std::weak_ptr<Impl> weak = shared_from_this();
        return [weak](std::optional<foundation::Error> failure) {
            auto self = weak.lock();
            if (!self || self->terminal()) return;
            if (failure && self->connection && !self->connection->refusedTunnelAnswer().empty())
                return self->takeRefusedTunnelAnswer();
            if (failure) return self->fail(*failure);
            self->connected = true;
            self->status = Status::Open;
            self->resume();
        };
    }

    // The proxy asked for credentials before it would open the tunnel: its answer is the
    // response, so that the caller can answer the challenge.
    void takeRefusedTunnelAnswer() {
        const std::string& answer = connection->refusedTunnelAnswer();
        parser = std::make_unique<NetResponseParser>(true);
        if (!parser->feed(reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size()) ||
            !parser->headersComplete()) {
            return fail(makeStreamError(NetCFNetworkErrorDomain, NetErrorHTTPProxyConnectionFailure,
                                        "The proxy's answer could not be parsed"));
        }
        bytesReceived += answer.size();
        // Kept for the next CONNECT only when the proxy left the connection open for it.
        writeDone = connection->awaitsTunnel();
        finishMessage();
    }

    // Goes on with writing, reading and telling the client, as far as the state allows.
    void resume() {
        if (terminal() || scheduledLoop == nullptr) return;
        if (connected) {
            startWriting();
            startReading();
        }
    }

    void startWriting() {
        if (writing || writeDone || terminal() || messageDone || scheduledLoop == nullptr ||
            !connection)
            return;
        writeBuffer.clear();
        std::size_t headPart = std::min(head.size() - headSent, WriteChunk);
        writeBuffer.insert(writeBuffer.end(), head.begin() + static_cast<std::ptrdiff_t>(headSent),
                           head.begin() + static_cast<std::ptrdiff_t>(headSent + headPart));
        std::size_t bodyPart = 0;
        while (!bodyDone && writeBuffer.size() < WriteChunk && headSent + headPart == head.size()) {
            if (!body) {
                bodyDone = true;
                break;
            }
            std::size_t at = writeBuffer.size();
            writeBuffer.resize(WriteChunk);
            std::ptrdiff_t n = body(writeBuffer.data() + at, WriteChunk - at);
            writeBuffer.resize(at + static_cast<std::size_t>(std::max<std::ptrdiff_t>(n, 0)));
            if (n < 0) {
                return fail(makeStreamError(NetPOSIXErrorDomain, EIO,
                                            "The request body could not be read"));
            }
            if (n == 0) bodyDone = true;
            bodyPart += static_cast<std::size_t>(n);
            // A throttled body gives a little at a time: send it rather than wait.
            break;
        }
        if (writeBuffer.empty()) {
            if (bodyDone) writeDone = true;
            return;
        }
        std::size_t already = 0;
        if (bodyPart == 0) {
            // Only the head: what the socket takes at once needs no completion on a later
            // turn. Body pieces always go the long way, which paces a throttled body.
            already = connection->writeNow(writeBuffer.data(), writeBuffer.size());
            if (already == writeBuffer.size()) {
                headSent += headPart;
                if (bodyDone && headSent == head.size()) {
                    writeDone = true;
                    return;
                }
                return startWriting();
            }
        }
        writing = true;
        std::weak_ptr<Impl> weak = shared_from_this();
        connection->writeAll(
            writeBuffer.data() + already, writeBuffer.size() - already,
            [weak, headPart, bodyPart](const boost::system::error_code& ec, std::size_t) {
                auto self = weak.lock();
                if (!self) return;
                self->writing = false;
                if (self->terminal() || self->messageDone) return;
                if (ec) return self->fail(NetConnection::errorFor(ec));
                self->headSent += headPart;
                self->bytesWritten += bodyPart;
                if (self->bodyDone && self->headSent == self->head.size()) {
                    self->writeDone = true;
                    return;
                }
                self->startWriting();
            });
    }

    // Reading goes on while the stream is off its run loop (up to the buffered limit), so
    // that a held-back stream still sees its peer close; only the events wait.
    void startReading() {
        if (reading || messageDone || terminal() || !connection) return;
        if (waiting() > BufferedBodyLimit) return;
        reading = true;
        std::weak_ptr<Impl> weak = shared_from_this();
        std::shared_ptr<NetBodyBuffer::Block> keep;
        auto space = waitingBody.receiveSpace(keep);
        // Before the first byte of the answer the server has yet to send it: wait rather
        // than try a read that finds nothing.
        auto read = bytesReceived > 0 ? &NetConnection::readSome
                    : justChecked     ? &NetConnection::readAfterReuseCheck
                                      : &NetConnection::readWhenReadable;
        justChecked = false;
        ((*connection).*read)(
            space.data(), space.size(),
            [weak, keep](const boost::system::error_code& ec, std::size_t n) mutable {
                // The block is this stream's again: it may be refilled once its bytes are read.
                keep.reset();
                auto self = weak.lock();
                if (!self) return;
                self->reading = false;
                if (self->terminal()) return;
                self->received(ec, n);
            });
    }

    void received(const boost::system::error_code& ec, std::size_t n) {
        // This runs as a turn of the loop already: what it has to tell is told now rather
        // than on a turn of its own.
        deliverInline = true;
        struct ClearedAtEnd {
            bool& flag;
            ~ClearedAtEnd() { flag = false; }
        } clearInline{deliverInline};
        if (n > 0) {
            bytesReceived += n;
            waitingBody.received(n);
            auto bytes = waitingBody.lastReceived();
            if (!parser->feed(bytes.data(), bytes.size())) {
                return fail(
                    makeStreamError(NetCFNetworkErrorDomain, NetErrorHTTPParseFailure,
                                    "The response could not be parsed: " + parser->errorMessage()));
            }
            if (parser->messageComplete()) return finishMessage();
        }
        if (ec) {
            bool closed = ec == asio::error::eof || ec == asio::ssl::error::stream_truncated;
            if (closed && parser->finishAtEnd()) return finishMessage();
            if (closed) {
                // Ending before the length or the last chunk is a failure, never a short body.
                return fail(
                    makeStreamError(NetCFNetworkErrorDomain, NetErrorNetworkConnectionLost,
                                    "The network connection was lost: " + parser->errorMessage()));
            }
            return fail(NetConnection::errorFor(ec));
        }
        queueDelivery();
        startReading();
    }

    void finishMessage() {
        messageDone = true;
        bool reusable = streamID && writeDone && parser->keepAlive() &&
                        !parser->bodyEndsWithClose() && connection && connection->isOpen();
        if (reusable) {
            auto& slot = loop->idleConnections[*streamID];
            if (slot && slot != connection) slot->close();
            slot = connection;
            kept = true;
            keptOn = NetRunLoop::current().handle();
            keptConnection = connection;
        } else if (connection) {
            connection->close();
        }
        connection.reset();
        queueDelivery();
    }

    void fail(const foundation::Error& failure) {
        if (terminal()) return;
        status = Status::Error;
        error = failure;
        if (connection) connection->close();
        connection.reset();
        queueDelivery();
    }

    void queueResume() {
        if (loop == nullptr) return;
        std::weak_ptr<Impl> weak = shared_from_this();
        asio::post(loop->context, [weak] {
            if (auto self = weak.lock()) self->resume();
        });
    }

    void queueDelivery() {
        if (deliveryQueued || scheduledLoop == nullptr || loop == nullptr) return;
        deliveryQueued = true;
        std::weak_ptr<Impl> weak = shared_from_this();
        NetRunLoop::Impl* target = loop;
        if (deliverInline) {
            // Told now if the loop runs in the stream's mode, else kept until it does.
            return target->deliver(mode, [weak] {
                if (auto self = weak.lock()) self->deliver();
            });
        }
        std::string deliverMode = mode;
        asio::post(loop->context, [weak, target, deliverMode] {
            target->deliver(deliverMode, [weak] {
                if (auto self = weak.lock()) self->deliver();
            });
        });
    }

    // Tells the client the one thing that matters most now.
    void deliver() {
        deliveryQueued = false;
        auto keep = shared_from_this();
        for (;;) {
            if (scheduledLoop == nullptr || status == Status::Closed) return;
            NetStreamEvent event;
            if (status == Status::Error) {
                if (errorReported) return;
                errorReported = true;
                event = NetStreamEventErrorOccurred;
            } else if (waiting() > 0) {
                event = NetStreamEventHasBytesAvailable;
            } else if (messageDone) {
                if (endReported) return;
                endReported = true;
                status = Status::AtEnd;
                event = NetStreamEventEndEncountered;
            } else {
                return;
            }
            if ((mask & event) == 0 || !client) return;
            std::size_t before = waiting();
            auto callback = client;
            {
                // The client hears of nothing else while it handles this event.
                bool outerInline = std::exchange(deliverInline, false);
                bool outerDelivering = std::exchange(delivering, true);
                callback(event);
                deliverInline = outerInline;
                delivering = outerDelivering;
            }
            if (event != NetStreamEventHasBytesAvailable || waiting() >= before) return;
            // The last bytes taken and the end due: said in the same turn, as the client
            // would hear it next anyway.
            if (waiting() == 0 && messageDone) continue;
            // Bytes taken but more left: say so on a later turn.
            if (waiting() > 0) queueDelivery();
            return;
        }
    }

    std::ptrdiff_t read(std::uint8_t* out, std::size_t maxLength) {
        if (status == Status::Error) return -1;
        std::size_t n = 0;
        while (n < maxLength) {
            auto piece = waitingBody.front();
            if (piece.empty()) break;
            std::size_t part = std::min(piece.size(), maxLength - n);
            std::memcpy(out + n, piece.data(), part);
            waitingBody.consume(part);
            n += part;
        }
        afterRead();
        return static_cast<std::ptrdiff_t>(n);
    }

    void consume(std::size_t count) {
        if (status == Status::Error) return;
        waitingBody.consume(count);
        afterRead();
    }

    // Room was made: the end may now be due (told at once when this read is the client's
    // answer to bytes available), or more may be read.
    void afterRead() {
        if (waiting() == 0 && messageDone && !delivering) queueDelivery();
        if (!messageDone) startReading();
    }

    void close() {
        if (status == Status::Closed) return;
        status = Status::Closed;
        if (connection) connection->close();
        connection.reset();
        client = nullptr;
        scheduledLoop = nullptr;
    }
};

NetHTTPStream::NetHTTPStream(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::shared_ptr<NetHTTPStream> NetHTTPStream::create(NetHTTPMessage message, BodyReader body) {
    auto impl = std::make_shared<Impl>();
    impl->message = std::move(message);
    impl->body = std::move(body);
    return std::shared_ptr<NetHTTPStream>(new NetHTTPStream(std::move(impl)));
}

NetHTTPStream::~NetHTTPStream() {
    impl_->close();
}

void NetHTTPStream::setTLSSettings(NetTLSSettings settings) {
    impl_->tlsSettings = std::move(settings);
}
void NetHTTPStream::setProxy(std::optional<NetProxySettings> proxy) {
    impl_->proxy = std::move(proxy);
}
void NetHTTPStream::setPersistentConnection(int streamID) {
    impl_->streamID = streamID;
}
std::optional<int> NetHTTPStream::streamID() const {
    return impl_->streamID;
}

void NetHTTPStream::setClient(unsigned mask, Client client) {
    impl_->mask = client ? mask : 0;
    impl_->client = std::move(client);
}

void NetHTTPStream::scheduleInRunLoop(NetRunLoop& loop, const std::string& mode) {
    impl_->scheduledLoop = &loop;
    impl_->mode = mode;
    // Writing goes on from the loop, not from here: the caller may itself be inside a
    // read of the body (a throttled upload putting its stream back).
    impl_->queueResume();
    impl_->queueDelivery();
}

void NetHTTPStream::unscheduleFromRunLoop() {
    impl_->scheduledLoop = nullptr;
}
bool NetHTTPStream::isScheduled() const {
    return impl_->scheduledLoop != nullptr;
}
bool NetHTTPStream::open() {
    return impl_->open();
}
void NetHTTPStream::close() {
    impl_->close();
}
std::ptrdiff_t NetHTTPStream::read(std::uint8_t* buffer, std::size_t maxLength) {
    return impl_->read(buffer, maxLength);
}
std::span<const std::uint8_t> NetHTTPStream::peek() const {
    if (impl_->status == Status::Error) return {};
    return impl_->waitingBody.front();
}
void NetHTTPStream::consume(std::size_t count) {
    impl_->consume(count);
}
bool NetHTTPStream::hasBytesAvailable() const {
    return impl_->waiting() > 0;
}
NetHTTPStream::Status NetHTTPStream::streamStatus() const {
    return impl_->status;
}
const std::optional<foundation::Error>& NetHTTPStream::streamError() const {
    return impl_->error;
}
bool NetHTTPStream::responseHeadersComplete() const {
    return impl_->parser && impl_->parser->headersComplete();
}
int NetHTTPStream::statusCode() const {
    return impl_->parser ? impl_->parser->statusCode() : 0;
}
std::string NetHTTPStream::statusLine() const {
    return responseHeadersComplete() ? impl_->parser->statusLine() : std::string();
}
const NetHeaderList& NetHTTPStream::responseHeaders() const {
    // Never destroyed: a request on a pool thread may ask for it while the process exits.
    static const NetHeaderList* const none = new NetHeaderList();
    return impl_->parser ? impl_->parser->headers() : *none;
}
const NetHeaderList& NetHTTPStream::responseTrailers() const {
    static const NetHeaderList* const none = new NetHeaderList();
    return impl_->parser ? impl_->parser->trailers() : *none;
}
std::uint64_t NetHTTPStream::bytesWritten() const {
    return impl_->bytesWritten;
}
std::uint64_t NetHTTPStream::responseBytesReceived() const {
    return impl_->bytesReceived;
}
bool NetHTTPStream::reusedConnection() const {
    return impl_->reused;
}
bool NetHTTPStream::connectionKeptForReuse() const {
    return impl_->kept;
}

namespace {

// On the loop's thread: closes the idle connection filed under the id when it is this one.
void closeIdle(NetRunLoop::Impl& loop, int streamID, const std::shared_ptr<NetConnection>& which) {
    auto found = loop.idleConnections.find(streamID);
    if (found == loop.idleConnections.end() || found->second != which) return;
    found->second->close();
    loop.idleConnections.erase(found);
}

}  // namespace

void NetHTTPStream::discardKeptConnection() {
    if (!impl_->kept || !impl_->streamID) return;
    auto loop = impl_->keptOn.lock();
    auto connection = impl_->keptConnection.lock();
    if (!loop || !connection) return;
    const int id = *impl_->streamID;
    if (loop.get() == &NetRunLoop::current().impl()) {
        closeIdle(*loop, id, connection);
        return;
    }
    std::weak_ptr<NetRunLoop::Impl> weakLoop = loop;
    asio::post(loop->context, [weakLoop, id, connection] {
        if (auto owner = weakLoop.lock()) closeIdle(*owner, id, connection);
    });
}

void NetHTTPStream::closeOnItsThread(std::shared_ptr<NetHTTPStream> stream) {
    if (!stream) return;
    const Impl& impl = *stream->impl_;
    if (impl.loopLife) {
        std::unique_lock guard(impl.loopLife->lock);
        // While the flag holds, the loop cannot go: the job reaches it, and is run there or
        // let go there with the loop.
        if (impl.loopLife->alive && impl.loop != &NetRunLoop::current().impl()) {
            // The job holds the last reference this thread had: the stream goes there too.
            asio::post(impl.loop->context, [stream = std::move(stream)] {
                stream->close();
                stream->discardKeptConnection();
            });
            return;
        }
    }
    // Never opened, opened on this thread, or its thread is gone after all it did with it.
    stream->close();
    stream->discardKeptConnection();
}

bool NetHTTPStream::keptConnectionIsElsewhere() const {
    if (!impl_->kept) return false;
    auto loop = impl_->keptOn.lock();
    return loop && loop.get() != &NetRunLoop::current().impl();
}

std::size_t NetHTTPStream::idleConnectionCount() {
    return NetRunLoop::current().impl().idleConnections.size();
}

void NetHTTPStream::closeIdleConnection(int streamID) {
    auto& idle = NetRunLoop::current().impl().idleConnections;
    auto found = idle.find(streamID);
    if (found == idle.end()) return;
    found->second->close();
    idle.erase(found);
}

}  // namespace net
