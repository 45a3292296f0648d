// Service packets come from devices: any byte stream must give whole property lists or a
// clean failure code, on both the packet and the XML read paths, and never block once the
// peer has closed.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "device/AMService.h"

namespace {

void readAll(const std::uint8_t* data, std::size_t size, bool xmlPath) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
    auto service = AMService::withSocket(fds[0], "fuzz");
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < size) {
            ssize_t n = ::send(fds[1], data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fds[1]);
    });
    for (int packets = 0; packets < 1000; ++packets) {
        int code = 0;
        const foundation::Value value = xmlPath
                                            ? service->readXMLReplyTimeoutReturnCode(1000, &code)
                                            : service->readPlistTimeoutReturnCode(1000, &code);
        if (value.isNil()) {
            if (!xmlPath && code == 0) std::abort();  // a failure must say so
            break;
        }
    }
    service.reset();  // closes our end, so a writer stuck on a full buffer gets out
    writer.join();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    readAll(data, size, false);
    readAll(data, size, true);
    return 0;
}
