#include "platform/net/NetFileReadStream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <boost/asio/post.hpp>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/net/NetRunLoop.h"
#include "platform/net/NetRunLoopImpl.h"

namespace net {

namespace {

// What the helper reads at a time; it reads on only once the client took it all.
constexpr std::size_t ChunkSize = 16384;

}  // namespace

struct NetFileReadStream::State : std::enable_shared_from_this<State> {
    // Shared with the helper thread.
    std::mutex lock;
    std::condition_variable taken;
    std::vector<std::uint8_t> waiting;
    bool ended = false;
    bool failed = false;
    bool closed = false;
    // Written when the stream closes, so that the helper stops waiting for input.
    int wake = -1;

    // The client, under the lock: the stream may be let go on another thread.
    Client client;
    unsigned mask = 0;

    // Set before the helper starts and not changed after.
    std::weak_ptr<NetRunLoop::Impl> loop;
    std::string mode;

    // The loop's thread only.
    bool endReported = false;
    bool errorReported = false;

    ~State() {
        if (wake >= 0) ::close(wake);
    }

    // From the helper: asks the loop's thread to tell the client what there is to tell.
    void post() {
        auto target = loop.lock();
        if (!target) return;
        std::weak_ptr<State> weak = shared_from_this();
        NetRunLoop::Impl* raw = target.get();
        boost::asio::post(target->context, [weak, raw, mode = mode] {
            raw->deliver(mode, [weak] {
                if (auto self = weak.lock()) self->deliver();
            });
        });
    }

    void received(const std::uint8_t* bytes, std::size_t count) {
        {
            std::lock_guard guard(lock);
            waiting.insert(waiting.end(), bytes, bytes + count);
        }
        post();
    }

    void finish(bool failure) {
        {
            std::lock_guard guard(lock);
            (failure ? failed : ended) = true;
        }
        post();
    }

    // On the loop's thread: bytes first, then the end or the failure, each told once.
    void deliver() {
        for (;;) {
            NetStreamEvent event;
            std::size_t before = 0;
            Client callback;
            {
                std::lock_guard guard(lock);
                if (closed) return;
                before = waiting.size();
                if (before > 0) {
                    event = NetStreamEventHasBytesAvailable;
                } else if (failed && !errorReported) {
                    errorReported = true;
                    event = NetStreamEventErrorOccurred;
                } else if (ended && !endReported) {
                    endReported = true;
                    event = NetStreamEventEndEncountered;
                } else {
                    return;
                }
                if ((mask & event) != 0) callback = client;
            }
            if (!callback) return;
            callback(event);
            if (event != NetStreamEventHasBytesAvailable) return;
            std::lock_guard guard(lock);
            if (waiting.size() >= before) return;  // the client took nothing
        }
    }

    // The helper's body: waits for input (or the close), reads a chunk, and waits until the
    // client took it before reading on.
    static void readFile(const std::shared_ptr<State>& state, const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return state->finish(true);
        std::vector<std::uint8_t> buffer(ChunkSize);
        for (;;) {
            {
                std::unique_lock guard(state->lock);
                state->taken.wait(guard, [&] { return state->closed || state->waiting.empty(); });
                if (state->closed) break;
            }
            // A FIFO without a writer reads as its end at once: poll waits for one instead.
            pollfd fds[2] = {{fd, POLLIN, 0}, {state->wake, POLLIN, 0}};
            int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) {
                state->finish(true);
                break;
            }
            if (fds[1].revents != 0) break;
            ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                state->finish(n < 0);
                break;
            }
            state->received(buffer.data(), static_cast<std::size_t>(n));
        }
        ::close(fd);
    }
};

std::shared_ptr<NetFileReadStream> NetFileReadStream::create(std::string path) {
    auto state = std::make_shared<State>();
    state->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->wake < 0) return nullptr;
    return std::shared_ptr<NetFileReadStream>(new NetFileReadStream(std::move(path), state));
}

NetFileReadStream::NetFileReadStream(std::string path, std::shared_ptr<State> state)
    : path_(std::move(path)), state_(std::move(state)) {}

NetFileReadStream::~NetFileReadStream() {
    close();
}

void NetFileReadStream::setClient(unsigned mask, Client client) {
    std::lock_guard guard(state_->lock);
    state_->mask = client ? mask : 0;
    state_->client = std::move(client);
}

void NetFileReadStream::scheduleInRunLoop(NetRunLoop& loop, const std::string& mode) {
    if (opened_) return;
    state_->loop = loop.handle();
    state_->mode = mode;
}

bool NetFileReadStream::open() {
    if (opened_) return false;
    opened_ = true;
    try {
        std::thread([state = state_, path = path_] { State::readFile(state, path); }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

std::size_t NetFileReadStream::read(std::uint8_t* buffer, std::size_t maxLength) {
    std::size_t n = 0;
    {
        std::lock_guard guard(state_->lock);
        n = std::min(maxLength, state_->waiting.size());
        if (n == 0) return 0;
        std::memcpy(buffer, state_->waiting.data(), n);
        state_->waiting.erase(state_->waiting.begin(),
                              state_->waiting.begin() + static_cast<std::ptrdiff_t>(n));
    }
    state_->taken.notify_all();
    return n;
}

void NetFileReadStream::close() {
    {
        std::lock_guard guard(state_->lock);
        if (state_->closed) return;
        state_->closed = true;
        state_->client = nullptr;
        state_->mask = 0;
    }
    state_->taken.notify_all();
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(state_->wake, &one, sizeof one);
}

}  // namespace net
