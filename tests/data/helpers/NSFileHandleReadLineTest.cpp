#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "data/helpers/NSFileHandleReadLine.h"
#include "foundation/Error.h"

namespace {

// An unlinked temporary file holding the given bytes, opened for reading.
class TextFile {
public:
    explicit TextFile(const std::string& contents) {
        char name[] = "/tmp/orvandel-lines-XXXXXX";
        fd_ = mkstemp(name);
        unlink(name);
        EXPECT_EQ(write(fd_, contents.data(), contents.size()),
                  static_cast<ssize_t>(contents.size()));
    }
    ~TextFile() { close(fd_); }
    int fd() const { return fd_; }
    off_t offset() const { return lseek(fd_, 0, SEEK_CUR); }
    void seek(off_t to) const { lseek(fd_, to, SEEK_SET); }

private:
    int fd_ = -1;
};

struct Step {
    std::optional<std::string> line;
    off_t offsetAfter;
};

TEST(NSFileHandleReadLineTest, BackwardsWalkGivesLinesAndOffsets) {
    const std::string twentyFour = std::string(20, 'x') + "\nabc";
    const std::string longLine =
        "start\n" + std::string(200000, 'y') + "\xE2\x82\xAC" + std::string(65533, 'z');
    struct Case {
        std::string contents;
        off_t from;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"ab\ncd\n", 6, {{"\n", 5}, {"\ncd", 2}, {"ab", 0}, {"", 0}, {"", 0}}},
        {twentyFour, 24, {{"\nabc", 20}, {std::string(20, 'x'), 0}}},
        {"0123456789A", 11, {{"0123456789A", 0}}},
        {"0123456789A", 10, {{"0123456789", 0}}},
        {"\n\n", 2, {{"\n", 1}, {"\n", 0}, {"", 0}}},
        {"", 0, {{"", 0}}},
        // A multi-byte character split across internal blocks arrives whole.
        {longLine, static_cast<off_t>(longLine.size()), {{longLine.substr(5), 5}, {"start", 0}}},
        {"ok\n\xFF\xFE", 5, {{std::nullopt, 2}, {"ok", 0}}},
    };
    for (const auto& c : cases) {
        TextFile file(c.contents);
        file.seek(c.from);
        for (const auto& step : c.steps) {
            EXPECT_EQ(NSFileHandle::readLineBackwards(file.fd()), step.line) << c.contents.size();
            EXPECT_EQ(file.offset(), step.offsetAfter);
        }
    }
}

TEST(NSFileHandleReadLineTest, ForwardReadKeepsTheNewline) {
    const std::string big(100000, 'q');
    TextFile file("first\n\nlast" + big);
    file.seek(0);
    const std::vector<Step> steps = {
        {"first\n", 6}, {"\n", 7}, {"last" + big, 7 + 4 + 100000}, {"", 7 + 4 + 100000}};
    for (const auto& step : steps) {
        EXPECT_EQ(NSFileHandle::readLine(file.fd()), step.line);
        EXPECT_EQ(file.offset(), step.offsetAfter);
    }
}

TEST(NSFileHandleReadLineTest, UnreadableHandleThrowsNamedException) {
    try {
        NSFileHandle::readLineBackwards(-1);
        FAIL() << "no exception";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "NSFileHandleOperationException");
    }
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_THROW(NSFileHandle::readLine(pipeEnds[0]), foundation::NamedException);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

// Each block read writes its offsets, and the block holding the newline its text from
// there, shortened: a long line gives a few console lines, not one per byte read.
TEST(NSFileHandleReadLineTest, EachBlockShowsItsOffsetsOnTheConsole) {
    const auto console = [](const TextFile& file) {
        testing::internal::CaptureStderr();
        NSFileHandle::readLineBackwards(file.fd());
        return testing::internal::GetCapturedStderr();
    };
    const TextFile shortLines("ab\ncd\n");
    shortLines.seek(6);
    EXPECT_EQ(console(shortLines), "seek to offset 0, offset in file is 6\ngot chunk data \n\n");
    EXPECT_EQ(console(shortLines), "seek to offset 0, offset in file is 5\ngot chunk data \ncd\n");
    EXPECT_EQ(console(shortLines), "seek to offset 0, offset in file is 2\n");
    EXPECT_EQ(console(shortLines), "");

    const TextFile longLine(std::string(70000, 'x') + "\n" + std::string(100000, 'y'));
    longLine.seek(170001);
    EXPECT_EQ(console(longLine), "seek to offset 104465, offset in file is 170001\n"
                                 "seek to offset 38929, offset in file is 104465\n"
                                 "got chunk data \n" + std::string(159, 'y') + "...\n");
    EXPECT_EQ(longLine.offset(), 70000);
}

}  // namespace
