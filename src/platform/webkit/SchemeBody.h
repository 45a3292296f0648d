#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

typedef struct _GTask GTask;

namespace webkit {

// The body of a scheme answer on its way into the browser view. A producer on any thread
// adds pieces; the view reads them through the input stream of SchemeBodyStream.h. Only a
// bounded amount waits in between: `add` blocks while the view is behind, so a large body
// never sits whole in memory. When the view stops reading before the end (the page
// navigates away or aborts its fetch), `onReaderGone` runs once and `add` answers false
// from then on.
class SchemeBody {
public:
    static constexpr std::size_t kHeldLimit = 1024 * 1024;

    explicit SchemeBody(std::function<void()> onReaderGone, std::size_t heldLimit = kHeldLimit);
    ~SchemeBody();
    SchemeBody(const SchemeBody&) = delete;
    SchemeBody& operator=(const SchemeBody&) = delete;

    // The producer's side. After `finish` the reader gets what is held and then the end;
    // after `fail` what is held and then an error, so a body cut short is never taken as
    // whole. The first of the two counts.
    bool add(std::span<const std::uint8_t> bytes);
    void finish();
    void fail(std::string message);
    bool ended() const;
    bool readerGone() const;

    // The reader's side, used by the stream. `read` copies what is held into the buffer:
    // a count above 0, 0 at the end, -1 with `error` set on failure or when the reader has
    // stopped. With nothing held yet it waits (`wait`), or answers nullopt (no wait).
    struct ReadError {
        bool cancelled = false;
        std::string message;
    };
    std::optional<long> read(void* buffer, std::size_t count, ReadError& error, bool wait);
    // An asynchronous read that could not be answered at once: it is answered by the next
    // `add`, `finish`, `fail` or `stopReading` (the body keeps a reference to the task).
    void parkRead(GTask* task, void* buffer, std::size_t count);
    // The view stopped reading (a cancelled read, or the stream closed). Before the end it
    // counts as the reader gone.
    void stopReading();

private:
    struct Parked {
        GTask* task = nullptr;
        void* buffer = nullptr;
        std::size_t count = 0;
    };
    // Under the lock: what a read of `count` bytes gets now, or nullopt to wait.
    std::optional<long> takeLocked(void* buffer, std::size_t count, ReadError& error);
    // Answers a parked read if it can be answered now (called without the lock).
    void answerParked();

    const std::function<void()> onReaderGone_;
    const std::size_t heldLimit_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> held_;
    std::size_t heldBytes_ = 0;
    std::size_t frontOffset_ = 0;
    bool finished_ = false;
    std::optional<std::string> failure_;
    bool readerGone_ = false;
    Parked parked_;
};

}  // namespace webkit
