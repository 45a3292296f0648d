#include "device/SyslogMessageReader.h"

#include "foundation/Utf8.h"

void SyslogMessageReader::feed(std::span<const std::uint8_t> bytes, const Deliver& deliver) {
    for (const std::uint8_t byte : bytes) {
        if (byte == 0) {
            flush(deliver);
        } else if (byte != '\n' || !pending_.empty()) {
            pending_.push_back(static_cast<char>(byte));
            if (pending_.size() >= kMaxMessageLength) flush(deliver);
        }
    }
}

void SyslogMessageReader::finish(const Deliver& deliver) {
    flush(deliver);
}

void SyslogMessageReader::flush(const Deliver& deliver) {
    if (pending_.empty()) return;
    // A cut through a multi-byte character must not cost the message.
    std::string message = foundation::utf8::isValid(pending_)
                              ? std::move(pending_)
                              : foundation::utf8::sanitize(pending_);
    pending_.clear();
    deliver(message);
}
