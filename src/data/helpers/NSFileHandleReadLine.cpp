#include "data/helpers/NSFileHandleReadLine.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/ConsolePrint.h"
#include "foundation/Error.h"
#include "foundation/Utf8.h"

namespace NSFileHandle {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

[[noreturn]] void fail(const char* what) {
    throw foundation::NamedException("NSFileHandleOperationException",
                                     std::string(what) + ": " + std::strerror(errno));
}

off_t currentOffset(int fd) {
    const off_t offset = lseek(fd, 0, SEEK_CUR);
    if (offset < 0) fail("lseek");
    return offset;
}

void seekTo(int fd, off_t offset) {
    if (lseek(fd, offset, SEEK_SET) < 0) fail("lseek");
}

// Reads exactly `length` bytes at `offset`; fewer only when the file ends first.
std::size_t readAt(int fd, char* into, std::size_t length, off_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got =
            pread(fd, into + done, length - done, offset + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("read");
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::optional<std::string> validText(std::string bytes) {
    if (!foundation::utf8::isValid(bytes)) return std::nullopt;
    return bytes;
}

// The chunk's text for the console: its start, cut at a character, so that a long line
// does not fill the console; "(null)" when it is no UTF-8 text.
std::string chunkForConsole(std::string_view chunk) {
    constexpr std::size_t kShown = 160;
    std::size_t length = std::min(chunk.size(), kShown);
    if (length < chunk.size()) {
        while (length > 0 && (static_cast<unsigned char>(chunk[length]) & 0xC0) == 0x80) --length;
    }
    std::string shown(chunk.substr(0, length));
    if (!foundation::utf8::isValid(shown)) return "(null)";
    if (length < chunk.size()) shown += "...";
    return shown;
}

}  // namespace

std::optional<std::string> readLineBackwards(int fd) {
    const off_t end = currentOffset(fd);
    // Blocks are read from the end towards the start and gathered in reverse order, so
    // that a long line costs one copy at the end rather than one per block.
    std::vector<std::string> blocks;
    off_t start = end;
    while (start > 0) {
        const auto length = static_cast<std::size_t>(std::min<off_t>(start, kBlock));
        foundation::printToConsole("seek to offset {}, offset in file is {}\n",
                                   start - static_cast<off_t>(length), start);
        std::string block(length, '\0');
        const std::size_t got =
            readAt(fd, block.data(), length, start - static_cast<off_t>(length));
        if (got != length) {
            errno = EIO;
            fail("file shrank while reading");
        }
        start -= static_cast<off_t>(length);
        const void* newline = memrchr(block.data(), '\n', block.size());
        if (newline) {
            const auto at =
                static_cast<std::size_t>(static_cast<const char*>(newline) - block.data());
            block.erase(0, at);
            foundation::printToConsole("got chunk data {}\n", chunkForConsole(block));
            start += static_cast<off_t>(at);
            blocks.push_back(std::move(block));
            break;
        }
        blocks.push_back(std::move(block));
    }
    seekTo(fd, start);
    std::string line;
    line.reserve(static_cast<std::size_t>(end - start));
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) line += *it;
    return validText(std::move(line));
}

std::optional<std::string> readLine(int fd) {
    off_t offset = currentOffset(fd);
    std::string line;
    std::string block(kBlock, '\0');
    for (;;) {
        const std::size_t got = readAt(fd, block.data(), block.size(), offset);
        if (got == 0) break;
        const void* newline = std::memchr(block.data(), '\n', got);
        const std::size_t keep =
            newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - block.data()) + 1
                    : got;
        line.append(block, 0, keep);
        offset += static_cast<off_t>(keep);
        if (newline) break;
    }
    seekTo(fd, offset);
    return validText(std::move(line));
}

}  // namespace NSFileHandle
