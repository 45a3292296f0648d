#include "logging/Console.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "foundation/ConsolePrint.h"

void ConsoleLog(std::string_view line) {
    foundation::printToConsole("{}\n", line);
}

void ConsoleLines(std::initializer_list<std::initializer_list<std::string_view>> lines) {
    static const char kNewline = '\n';
    std::vector<iovec> parts;
    for (const auto& line : lines) {
        for (std::string_view piece : line) {
            if (!piece.empty()) parts.push_back({const_cast<char*>(piece.data()), piece.size()});
        }
        parts.push_back({const_cast<char*>(&kNewline), 1});
    }
    std::fflush(stderr);  // after anything written through stdio
    // A long body may take several writes; each goes on where the last one stopped.
    std::size_t first = 0;
    while (first < parts.size()) {
        const int count = int(std::min<std::size_t>(parts.size() - first, IOV_MAX));
        ssize_t written = ::writev(STDERR_FILENO, parts.data() + first, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        while (first < parts.size() && std::size_t(written) >= parts[first].iov_len) {
            written -= ssize_t(parts[first].iov_len);
            ++first;
        }
        if (first < parts.size()) {
            parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + written;
            parts[first].iov_len -= std::size_t(written);
        }
    }
}
