#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/SyslogMessageReader.h"

namespace {

struct StreamCase {
    const char* name;
    std::vector<std::string> reads;  // the stream as it arrives, read by read
    std::vector<std::string> messages;
};

std::vector<std::string> messagesOf(const std::vector<std::string>& reads, bool finish) {
    SyslogMessageReader reader;
    std::vector<std::string> messages;
    const auto deliver = [&](const std::string& message) { messages.push_back(message); };
    for (const auto& read : reads) {
        reader.feed({reinterpret_cast<const std::uint8_t*>(read.data()), read.size()}, deliver);
    }
    if (finish) reader.finish(deliver);
    return messages;
}

TEST(SyslogMessageReader, CutsTheStreamIntoMessages) {
    using namespace std::string_literals;
    const StreamCase cases[] = {
        {"one read", {"first\0\nsecond\0\n"s}, {"first", "second"}},
        {"split inside a message", {"fir"s, "st\0\nsec"s, "ond\0"s}, {"first", "second"}},
        {"split before the zero", {"first"s, "\0"s}, {"first"}},
        {"line feeds only before", {"\n\nfirst\nline\0"s}, {"first\nline"}},
        {"empty messages dropped", {"\0\0\n\0"s}, {}},
        {"split multi-byte character", {"caf\xc3"s, "\xa9\0"s}, {"caf\xc3\xa9"}},
        {"invalid bytes replaced", {"bad\xff\0"s}, {"bad\xef\xbf\xbd"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(messagesOf(c.reads, false), c.messages);
    }
}

TEST(SyslogMessageReader, KeepsAnUnendedMessageUntilTheStreamEndsOrItGrowsTooLong) {
    EXPECT_EQ(messagesOf({"last words"}, false), std::vector<std::string>{});
    EXPECT_EQ(messagesOf({"last words"}, true), std::vector<std::string>{"last words"});

    const std::string huge(SyslogMessageReader::kMaxMessageLength + 5, 'x');
    const auto messages = messagesOf({huge.substr(0, 1000), huge.substr(1000)}, true);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].size(), SyslogMessageReader::kMaxMessageLength);
    EXPECT_EQ(messages[1], "xxxxx");
}

}  // namespace
