// The device's log stream arrives in reads of any size: the messages must not depend on
// where the reads fall, and none may be empty, hold a zero byte, be invalid UTF-8 or
// outgrow the limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/SyslogMessageReader.h"
#include "foundation/Utf8.h"

namespace {

std::vector<std::string> messagesOf(const std::uint8_t* data, std::size_t size, std::size_t step) {
    SyslogMessageReader reader;
    std::vector<std::string> messages;
    const auto deliver = [&](const std::string& message) { messages.push_back(message); };
    for (std::size_t at = 0; at < size; at += step) {
        reader.feed({data + at, std::min(step, size - at)}, deliver);
    }
    reader.finish(deliver);
    return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t step = data[0] % 7 + 1;
    const auto whole = messagesOf(data + 1, size - 1, size);
    if (messagesOf(data + 1, size - 1, step) != whole) std::abort();
    for (const auto& message : whole) {
        if (message.empty() || message.find('\0') != std::string::npos ||
            !foundation::utf8::isValid(message) ||
            message.size() > 3 * SyslogMessageReader::kMaxMessageLength) {
            std::abort();
        }
    }
    return 0;
}
