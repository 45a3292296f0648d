// The simulated device's file service reads requests from the host: any byte stream must
// be answered or refused without a crash, and nothing it does may reach outside its folder.
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "simdevice/SimAfcServer.h"

namespace {

struct Scratch {
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-afc-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        base = pattern;
        root = base / "root";
        sentinel = base / "sentinel";
        std::filesystem::create_directory(root);
        std::ofstream(sentinel) << "outside";
    }
    ~Scratch() { std::filesystem::remove_all(base); }
    void check() const {
        std::ifstream in(sentinel);
        std::string text;
        std::getline(in, text);
        std::size_t entries = 0;
        for (const auto& entry : std::filesystem::directory_iterator(base)) {
            (void)entry;
            ++entries;
        }
        if (text != "outside" || entries != 2) std::abort();
        for (const auto& entry : std::filesystem::directory_iterator(root)) {
            std::filesystem::remove_all(entry.path());
        }
    }
    std::filesystem::path base, root, sentinel;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Scratch scratch;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(fds[1], data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::shutdown(fds[1], SHUT_WR);
    });
    std::thread reader([&] {
        char ignored[4096];
        while (::recv(fds[1], ignored, sizeof ignored, 0) > 0) {
        }
    });
    simdevice::SimAfcServer(scratch.root.string(), {"iPhone12,1", 1u << 30, 1u << 29})
        .serve(fds[0]);
    ::shutdown(fds[0], SHUT_RDWR);
    writer.join();
    reader.join();
    ::close(fds[0]);
    ::close(fds[1]);
    scratch.check();
    return 0;
}
