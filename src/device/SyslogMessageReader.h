#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

// Cuts the syslog relay's byte stream into messages: each runs to the next zero byte, and
// line feeds before a message are skipped. A message split across reads is kept until
// its end arrives; one that grows past kMaxMessageLength is handed on as it stands.
class SyslogMessageReader {
public:
    static constexpr std::size_t kMaxMessageLength = 1u << 20;
    using Deliver = std::function<void(const std::string& message)>;

    void feed(std::span<const std::uint8_t> bytes, const Deliver& deliver);
    // End of the stream: a message still waiting for its zero byte is handed on.
    void finish(const Deliver& deliver);
    std::size_t pendingLength() const { return pending_.size(); }

private:
    void flush(const Deliver& deliver);

    std::string pending_;
};
