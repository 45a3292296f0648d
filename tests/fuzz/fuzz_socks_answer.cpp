// A SOCKS proxy's answers are outside data: whatever the bytes, an answer is whole only
// within them, asks for more only beyond them, and a failure always says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/net/NetSOCKSMessages.h"

namespace {

using net::NetSOCKSAnswer;

void check(const NetSOCKSAnswer& answer, std::size_t size) {
    switch (answer.state) {
        case NetSOCKSAnswer::State::Done:
            if (answer.length < 2 || answer.length > size || answer.error) std::abort();
            break;
        case NetSOCKSAnswer::State::NeedMore:
            // Never more than the longest answer: 4 + 1 + 255 + 2 bytes.
            if (answer.length <= size || answer.length > 262 || answer.error) std::abort();
            break;
        case NetSOCKSAnswer::State::Failed:
            if (!answer.error || answer.error->message.empty()) std::abort();
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    auto connect = net::NetSOCKSMessages::parseConnectAnswer(bytes);
    check(connect, size);
    // The same answer read in two steps, as the client reads it, comes out the same.
    if (connect.state == NetSOCKSAnswer::State::Done) {
        auto again = net::NetSOCKSMessages::parseConnectAnswer(bytes.first(connect.length));
        if (again.state != NetSOCKSAnswer::State::Done || again.length != connect.length)
            std::abort();
    }
    check(net::NetSOCKSMessages::parseGreetingAnswer(bytes, size % 2 == 0), size);
    check(net::NetSOCKSMessages::parseCredentialsAnswer(bytes), size);
    return 0;
}
