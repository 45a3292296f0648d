#include "platform/webkit/SchemeBody.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstring>

namespace webkit {

SchemeBody::SchemeBody(std::function<void()> onReaderGone, std::size_t heldLimit)
    : onReaderGone_(std::move(onReaderGone)), heldLimit_(std::max<std::size_t>(heldLimit, 1)) {}

SchemeBody::~SchemeBody() {
    // A parked read holds the stream, and the stream holds the body: none is left here.
    if (parked_.task) g_object_unref(parked_.task);
}

bool SchemeBody::add(std::span<const std::uint8_t> bytes) {
    {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return readerGone_ || heldBytes_ < heldLimit_; });
        if (readerGone_ || finished_ || failure_) return false;
        if (bytes.empty()) return true;
        held_.emplace_back(bytes.begin(), bytes.end());
        heldBytes_ += bytes.size();
    }
    changed_.notify_all();
    answerParked();
    return true;
}

void SchemeBody::finish() {
    {
        std::lock_guard guard(lock_);
        if (finished_ || failure_) return;
        finished_ = true;
    }
    changed_.notify_all();
    answerParked();
}

void SchemeBody::fail(std::string message) {
    {
        std::lock_guard guard(lock_);
        if (finished_ || failure_) return;
        failure_ = std::move(message);
    }
    changed_.notify_all();
    answerParked();
}

bool SchemeBody::ended() const {
    std::lock_guard guard(lock_);
    return finished_ || failure_;
}

bool SchemeBody::readerGone() const {
    std::lock_guard guard(lock_);
    return readerGone_;
}

std::optional<long> SchemeBody::takeLocked(void* buffer, std::size_t count, ReadError& error) {
    if (readerGone_) {
        error = {true, "the body is no longer read"};
        return -1;
    }
    if (count == 0) return 0;
    if (!held_.empty()) {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t copied = 0;
        while (copied < count && !held_.empty()) {
            const auto& front = held_.front();
            const std::size_t n = std::min(count - copied, front.size() - frontOffset_);
            std::memcpy(out + copied, front.data() + frontOffset_, n);
            copied += n;
            frontOffset_ += n;
            if (frontOffset_ == front.size()) {
                heldBytes_ -= front.size();
                held_.pop_front();
                frontOffset_ = 0;
            }
        }
        changed_.notify_all();
        return long(copied);
    }
    if (failure_) {
        error = {false, *failure_};
        return -1;
    }
    if (finished_) return 0;
    return std::nullopt;
}

std::optional<long> SchemeBody::read(void* buffer, std::size_t count, ReadError& error,
                                     bool wait) {
    std::unique_lock guard(lock_);
    for (;;) {
        if (auto got = takeLocked(buffer, count, error)) return got;
        if (!wait) return std::nullopt;
        changed_.wait(guard);
    }
}

void SchemeBody::parkRead(GTask* task, void* buffer, std::size_t count) {
    {
        std::lock_guard guard(lock_);
        if (parked_.task) g_object_unref(parked_.task);
        parked_ = {G_TASK(g_object_ref(task)), buffer, count};
    }

    // Something may have arrived between the failed read and now.
    answerParked();
}

void SchemeBody::answerParked() {
    GTask* task = nullptr;
    std::optional<long> got;
    ReadError error;
    {
        std::lock_guard guard(lock_);
        if (!parked_.task) return;
        got = takeLocked(parked_.buffer, parked_.count, error);
        if (!got) return;
        task = parked_.task;
        parked_ = {};
    }
    // GTask hands the answer to the reader's own main context from any thread.
    if (*got >= 0) {
        g_task_return_int(task, *got);
    } else {
        g_task_return_new_error(task, G_IO_ERROR,
                                error.cancelled ? G_IO_ERROR_CANCELLED : G_IO_ERROR_FAILED, "%s",
                                error.message.c_str());
    }
    g_object_unref(task);
}

void SchemeBody::stopReading() {
    bool gone = false;
    {
        std::lock_guard guard(lock_);
        if (!readerGone_ && !finished_ && !failure_) gone = true;
        readerGone_ = true;
        held_.clear();
        heldBytes_ = 0;
        frontOffset_ = 0;
    }
    // The responder learns first, so that the producer it wakes below finds it stopped.
    if (gone && onReaderGone_) onReaderGone_();
    changed_.notify_all();
    answerParked();
}

}  // namespace webkit
