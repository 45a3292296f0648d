// Serves one simulated device on a multiplexer socket until stopped (SIGINT or SIGTERM):
//   orvandel-simdevice --socket PATH [--udid U] [--name N] [--product-type T] [--root FOLDER]
// Point clients at it with USBMUXD_SOCKET_ADDRESS=UNIX:PATH.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "simdevice/SimUsbmuxServer.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: orvandel-simdevice --socket PATH [--udid U] [--name N] "
                 "[--product-type T] [--root FOLDER]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string socketPath;
    simdevice::SimDeviceConfig config;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (option == "--socket") {
            socketPath = value;
        } else if (option == "--udid") {
            config.udid = value;
        } else if (option == "--name") {
            config.name = value;
        } else if (option == "--product-type") {
            config.productType = value;
        } else if (option == "--root") {
            config.root = value;
        } else {
            return usage();
        }
    }
    if (socketPath.empty()) return usage();
    std::error_code error;
    if (!config.root.empty() && !std::filesystem::is_directory(config.root, error)) {
        std::fprintf(stderr, "orvandel-simdevice: %s is not a folder\n", config.root.c_str());
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // every thread inherits the mask

    simdevice::SimUsbmuxServer server(socketPath);
    if (!server.start()) {
        std::fprintf(stderr, "orvandel-simdevice: cannot listen on %s: %s\n", socketPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    auto device = server.attach(config);
    std::printf("serving %s (%s) on %s\n", config.udid.c_str(), config.name.c_str(),
                server.socketAddress().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
