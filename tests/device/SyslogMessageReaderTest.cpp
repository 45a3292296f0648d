#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/SyslogMessageReader.h"

namespace {

TEST(SyslogMessageReader, CutsTheStreamIntoMessagesWhereverTheReadsFall) {
    using namespace std::string_literals;
    const std::string huge(SyslogMessageReader::kMaxMessageLength + 5, 'x');
    const struct {
        const char* name;
        std::vector<std::string> reads;  // the stream as it arrives, read by read
        bool ended;                      // whether the stream ends after them
        std::vector<std::string> messages;
    } cases[] = {
        {"one read", {"first\0\nsecond\0\n"s}, false, {"first", "second"}},
        {"split inside a message", {"fir"s, "st\0\nsec"s, "ond\0"s}, false, {"first", "second"}},
        {"line feeds only before", {"\n\nfirst\nline\0"s}, false, {"first\nline"}},
        {"empty messages dropped", {"\0\0\n\0"s}, false, {}},
        {"split multi-byte character", {"caf\xc3"s, "\xa9\0"s}, false, {"caf\xc3\xa9"}},
        {"invalid bytes replaced", {"bad\xff\0"s}, false, {"bad\xef\xbf\xbd"}},
        {"unended message kept", {"last words"s}, false, {}},
        {"unended message at the end", {"last words"s}, true, {"last words"}},
        {"too long",
         {huge.substr(0, 1000), huge.substr(1000)},
         true,
         {huge.substr(0, SyslogMessageReader::kMaxMessageLength), "xxxxx"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SyslogMessageReader reader;
        std::vector<std::string> messages;
        const auto deliver = [&](const std::string& message) { messages.push_back(message); };
        for (const auto& read : c.reads) {
            reader.feed({reinterpret_cast<const std::uint8_t*>(read.data()), read.size()}, deliver);
        }
        if (c.ended) reader.finish(deliver);
        EXPECT_EQ(messages, c.messages);
    }
}

}  // namespace
