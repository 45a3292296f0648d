// Serves one simulated device on a multiplexer socket until stopped (SIGINT or SIGTERM).
// Point clients at it with USBMUXD_SOCKET_ADDRESS=UNIX:PATH. The socket appears only once
// the device is listed on it.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "simdevice/SimSampleLibrary.h"
#include "simdevice/SimUsbmuxServer.h"

namespace {

constexpr const char* kUsage =
    "usage: orvandel-simdevice --socket PATH [--udid U] [--name N] [--product-type T]\n"
    "         [--root FOLDER] [--crash-root FOLDER] [--containers FOLDER]\n"
    "         [--hostile huge-length|truncated|bad-names|short-reads|\n"
    "           lies-about-sizes|endless-folders|failing-writes] [--no-ssl]\n"
    "         [--silent-handshake] [--sample-library]\n"
    "  --root        folder behind the media file service\n"
    "  --sample-library  puts a small media library (three tones, a playlist) under --root\n"
    "                unless one is there\n"
    "  --crash-root  folder behind the crash-report file service\n"
    "  --containers  folder holding one folder per application (made on first use)\n"
    "  --hostile     file services break their protocol this way\n"
    "  --no-ssl      sessions stay unencrypted, for reading the traffic\n"
    "  --silent-handshake  sessions never answer their TLS handshake\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return path.empty() || std::filesystem::is_directory(path, error);
}

}  // namespace

int main(int argc, char** argv) {
    using simdevice::SimAfcHostility;
    const std::map<std::string, SimAfcHostility> hostilities = {
        {"huge-length", SimAfcHostility::HugeLength},
        {"truncated", SimAfcHostility::Truncated},
        {"bad-names", SimAfcHostility::BadEntryNames},
        {"short-reads", SimAfcHostility::ShortReads},
        {"lies-about-sizes", SimAfcHostility::LiesAboutSizes},
        {"endless-folders", SimAfcHostility::EndlessFolders},
        {"failing-writes", SimAfcHostility::FailingWrites}};
    std::string socketPath;
    simdevice::SimDeviceConfig config;
    SimAfcHostility hostility = SimAfcHostility::None;
    bool silentHandshake = false;
    bool sampleLibrary = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--no-ssl") {
            config.sessionSsl = false;
            continue;
        }
        if (option == "--silent-handshake") {
            silentHandshake = true;
            continue;
        }
        if (option == "--sample-library") {
            sampleLibrary = true;
            continue;
        }
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
        } else if (option == "--crash-root") {
            config.crashRoot = value;
        } else if (option == "--containers") {
            config.containersRoot = value;
        } else if (option == "--hostile" && hostilities.count(value)) {
            hostility = hostilities.at(value);
        } else {
            return usage();
        }
    }
    if (socketPath.empty()) return usage();
    for (const auto* folder : {&config.root, &config.crashRoot, &config.containersRoot}) {
        if (!isFolder(*folder)) {
            std::fprintf(stderr, "orvandel-simdevice: %s is not a folder\n", folder->c_str());
            return 2;
        }
    }

    if (sampleLibrary) {
        if (config.root.empty()) {
            std::fputs("orvandel-simdevice: --sample-library needs --root\n", stderr);
            return 2;
        }
        if (const std::string failure = simdevice::writeSampleMediaLibrary(config.root); !failure.empty()) {
            std::fprintf(stderr, "orvandel-simdevice: %s\n", failure.c_str());
            return 1;
        }
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // every thread inherits the mask

    simdevice::SimUsbmuxServer server(socketPath);
    auto device = server.attach(config);
    device->setAfcHostility(hostility);
    device->setHandshakeAnswers(!silentHandshake);
    if (!server.start()) {
        if (errno == EADDRINUSE) {
            std::fprintf(stderr,
                         "orvandel-simdevice: another simulated device still serves %s; stop it "
                         "first, or choose another --socket\n",
                         socketPath.c_str());
            return 1;
        }
        std::fprintf(stderr, "orvandel-simdevice: cannot listen on %s: %s\n", socketPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::printf("serving %s (%s) on %s\n", config.udid.c_str(), config.name.c_str(),
                server.socketAddress().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
