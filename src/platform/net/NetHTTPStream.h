#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/Error.h"
#include "platform/net/NetStreamTypes.h"

namespace net {

class NetRunLoop;

// A read stream for one HTTP exchange: it connects (or takes the idle connection of its
// stream id), writes the message and its body, and hands out the response body as it
// arrives. Events go to the client only while the stream is scheduled on a run loop, in
// the loop's mode; off it, the response is still read into a bounded buffer, so that its
// end or failure shows in streamStatus(). Used on one thread, the one whose run loop it is
// scheduled on.
class NetHTTPStream {
public:
    // Gives body bytes: a count, 0 at the end, negative on error.
    using BodyReader = std::function<std::ptrdiff_t(std::uint8_t* buffer, std::size_t length)>;
    using Client = std::function<void(NetStreamEvent event)>;
    enum class Status { NotOpen, Opening, Open, AtEnd, Closed, Error };

    static std::shared_ptr<NetHTTPStream> create(NetHTTPMessage message, BodyReader body = {});
    ~NetHTTPStream();
    NetHTTPStream(const NetHTTPStream&) = delete;
    NetHTTPStream& operator=(const NetHTTPStream&) = delete;

    void setTLSSettings(NetTLSSettings settings);
    void setProxy(std::optional<NetProxySettings> proxy);
    // Keeps the connection open after the response and files it under this id, so that
    // the next stream with the same id can use it.
    void setPersistentConnection(int streamID);
    std::optional<int> streamID() const;

    // The client hears of the events in `mask`; an empty client removes it.
    void setClient(unsigned mask, Client client);
    void scheduleInRunLoop(NetRunLoop& loop, const std::string& mode);
    void unscheduleFromRunLoop();
    bool isScheduled() const;

    // Starts the exchange on the calling thread's run loop; false when it cannot start.
    bool open();
    // Stops the exchange; a connection already filed for reuse stays open.
    void close();

    // Body bytes received and not yet read; 0 when none are waiting (see streamStatus).
    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t maxLength);
    // Reading without a copy: the oldest waiting body bytes that lie in one piece, where
    // they were received (empty when none wait), good until the next call on the stream;
    // consume() then says how many of them were used.
    std::span<const std::uint8_t> peek() const;
    void consume(std::size_t count);
    bool hasBytesAvailable() const;
    Status streamStatus() const;
    const std::optional<foundation::Error>& streamError() const;

    bool responseHeadersComplete() const;
    int statusCode() const;
    std::string statusLine() const;
    const NetHeaderList& responseHeaders() const;
    const NetHeaderList& responseTrailers() const;
    // Body bytes written so far.
    std::uint64_t bytesWritten() const;
    // Bytes of the answer received so far, head included.
    std::uint64_t responseBytesReceived() const;
    // Whether the exchange ran on a connection an earlier stream had opened.
    bool reusedConnection() const;
    // Whether the connection was kept for the next stream of the same id.
    bool connectionKeptForReuse() const;

    // Closes the connection this stream kept for reuse, if it is still idle; from any
    // thread (on another, the run loop that keeps it closes it on its own thread).
    void discardKeptConnection();
    // Closes the stream and discards the connection it kept, on the thread whose run loop
    // runs it: at once when that is the calling thread, else handed to that loop, which
    // then also lets go of `stream`. For a stream that another thread finds in a pool while
    // its own thread may still be tearing it down.
    static void closeOnItsThread(std::shared_ptr<NetHTTPStream> stream);
    // Whether the connection this stream kept waits on another thread's run loop, where
    // no stream of the calling thread can take it.
    bool keptConnectionIsElsewhere() const;

    // The idle connections kept on the calling thread's run loop.
    static std::size_t idleConnectionCount();
    // Closes the idle connection of this id on the calling thread's run loop, if any.
    static void closeIdleConnection(int streamID);

    struct Impl;

private:
    explicit NetHTTPStream(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

}  // namespace net
