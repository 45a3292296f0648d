#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/net/NetStreamTypes.h"

namespace net {

class NetRunLoop;

// A read stream over a file that may never answer: a FIFO nobody writes to, a file on a
// network file system that hangs. The file is opened and read on a helper thread of the
// stream's own, and its client hears of bytes, the end or a failure on the run loop the
// stream is scheduled on, in that loop's mode, as of a network stream. Closing it lets the
// helper go (one held in the kernel by a hung file system goes once the call returns, and
// then only drops what it read). Used on one thread, the one whose run loop it is on.
class NetFileReadStream {
public:
    using Client = std::function<void(NetStreamEvent event)>;

    static std::shared_ptr<NetFileReadStream> create(std::string path);
    ~NetFileReadStream();
    NetFileReadStream(const NetFileReadStream&) = delete;
    NetFileReadStream& operator=(const NetFileReadStream&) = delete;

    // The client hears of the events in `mask`; an empty client removes it.
    void setClient(unsigned mask, Client client);
    // Before open: where and in which mode the client hears of the events.
    void scheduleInRunLoop(NetRunLoop& loop, const std::string& mode);
    // Starts the reading; false when it cannot start (opened already, or no thread).
    bool open();
    // Up to `maxLength` bytes read from the file and not yet taken; 0 when none wait.
    std::size_t read(std::uint8_t* buffer, std::size_t maxLength);
    void close();

    struct State;

private:
    NetFileReadStream(std::string path, std::shared_ptr<State> state);
    std::string path_;
    std::shared_ptr<State> state_;
    bool opened_ = false;
};

}  // namespace net
