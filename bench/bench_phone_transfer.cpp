// 256 MiB up to and down from the simulated device's media folder through iPhoneDevice,
// beside a bare libimobiledevice file service loop (lockdown start, afc_client_new,
// 256 KiB writes and reads) on the same simulated device in the same run. Throughput is
// in the bytes_per_second column; the final lines give our median time / the baseline's,
// so a ratio up to 1.11 means at least 0.9 of the baseline's speed. Each is repeated, as
// the figures of single runs swing with the machine's other work.
#include <benchmark/benchmark.h>
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BaselineReport.h"
#include "device/AMDevice.h"
#include "device/iPhoneDevice.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "simdevice/SimUsbmuxServer.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kTotal = 256u << 20;
constexpr std::size_t kChunk = 262144;

struct Bench {
    Bench() {
        folder = fs::temp_directory_path() / ("orvandel-bench-phone-" + std::to_string(::getpid()));
        fs::create_directories(folder / "media");
        server = std::make_unique<simdevice::SimUsbmuxServer>((folder / "mux.sock").string());
        server->start();
        ::setenv("USBMUXD_SOCKET_ADDRESS", server->socketAddress().c_str(), 1);
        simdevice::SimDeviceConfig config;
        config.root = (folder / "media").string();
        simulated = server->attach(config);
        server->pairHost(simulated);
        auto device = AMDevice::deviceFrom(std::make_shared<mobiledevice::AMDeviceHandle>(
            simulated->config().udid, simulated->deviceId(), mobiledevice::kAMDInterfaceUSB));
        phone = std::make_shared<iPhoneDevice>();
        if (device && phone->createWithDeviceEnableAfc2(device, false) && phone->connect(false)) {
            ready = true;
        }
        source = (folder / "source.bin").string();
        std::ofstream out(source, std::ios::binary);
        std::vector<char> block(kChunk);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
        for (std::size_t done = 0; done < kTotal; done += block.size()) out.write(block.data(), block.size());
        out.close();
        // Both read loops fetch this one device file.
        fs::copy_file(source, folder / "media/read.bin");
    }
    ~Bench() {
        phone.reset();
        server->stop();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
    std::string source;
    std::unique_ptr<simdevice::SimUsbmuxServer> server;
    std::shared_ptr<simdevice::SimDevice> simulated;
    std::shared_ptr<iPhoneDevice> phone;
    bool ready = false;
};

Bench& bench() {
    static Bench instance;
    return instance;
}

// Untimed between iterations: the copy of the last iteration goes, so that each copy
// writes a new file as both loops do the first time, and the written pages go to disk,
// so that no loop pays for another's write-back.
void settle(benchmark::State& state, const fs::path& previous = {}) {
    state.PauseTiming();
    std::error_code ignored;
    if (!previous.empty()) fs::remove(previous, ignored);
    ::sync();
    state.ResumeTiming();
}

void BM_PhoneUpload(benchmark::State& state) {
    auto& b = bench();
    if (!b.ready) return state.SkipWithError("no simulated device");
    for (auto _ : state) {
        settle(state, b.folder / "media/ours.bin");
        if (!b.phone->uploadFileFrom("ours.bin", b.source, nullptr)) {
            return state.SkipWithError("upload failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_PhoneDownload(benchmark::State& state) {
    auto& b = bench();
    if (!b.ready) return state.SkipWithError("no simulated device");
    const std::string target = (b.folder / "ours-down.bin").string();
    for (auto _ : state) {
        settle(state, target);
        if (!b.phone->downloadFileTo("read.bin", target, nullptr)) {
            return state.SkipWithError("download failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

// The bare loop: its own lockdown client and service, as a command-line client does.
struct BareClient {
    BareClient() {
        if (idevice_new_with_options(&device, bench().simulated->config().udid.c_str(),
                                     IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS ||
            lockdownd_client_new_with_handshake(device, &lockdown, "bench") != LOCKDOWN_E_SUCCESS ||
            lockdownd_start_service(lockdown, "com.apple.afc", &service) != LOCKDOWN_E_SUCCESS ||
            afc_client_new(device, service, &afc) != AFC_E_SUCCESS) {
            afc = nullptr;
        }
    }
    ~BareClient() {
        if (afc) afc_client_free(afc);
        if (service) lockdownd_service_descriptor_free(service);
        if (lockdown) lockdownd_client_free(lockdown);
        if (device) idevice_free(device);
    }
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    afc_client_t afc = nullptr;
};

void BM_BareAfcWrite(benchmark::State& state) {
    BareClient client;
    if (!client.afc) return state.SkipWithError("no simulated device");
    std::vector<char> buffer(kChunk);
    for (auto _ : state) {
        settle(state, bench().folder / "media/bare.bin");
        std::ifstream in(bench().source, std::ios::binary);
        std::uint64_t handle = 0;
        afc_file_open(client.afc, "/bare.bin", AFC_FOPEN_WRONLY, &handle);
        while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
            std::uint32_t written = 0;
            afc_file_write(client.afc, handle, buffer.data(), static_cast<std::uint32_t>(in.gcount()), &written);
        }
        afc_file_close(client.afc, handle);
    }
    if (fs::file_size(bench().folder / "media/bare.bin") != kTotal) {
        return state.SkipWithError("the bare loop did not write everything");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_BareAfcRead(benchmark::State& state) {
    BareClient client;
    if (!client.afc) return state.SkipWithError("no simulated device");
    std::vector<char> buffer(kChunk);
    const std::string target = (bench().folder / "bare-down.bin").string();
    for (auto _ : state) {
        settle(state, target);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        std::uint64_t handle = 0;
        afc_file_open(client.afc, "/read.bin", AFC_FOPEN_RDONLY, &handle);
        std::uint32_t got = 0;
        std::size_t total = 0;
        while (afc_file_read(client.afc, handle, buffer.data(), kChunk, &got) == AFC_E_SUCCESS && got > 0) {
            out.write(buffer.data(), got);
            total += got;
        }
        afc_file_close(client.afc, handle);
        if (total != kTotal) return state.SkipWithError("the bare loop did not read everything");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

BENCHMARK(BM_BareAfcWrite)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_PhoneUpload)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_PhoneDownload)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_BareAfcRead)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(
        argc, argv,
        {{"BM_PhoneUpload/iterations:2/repeats:7/real_time_median", "BM_BareAfcWrite/iterations:2/repeats:7/real_time_median"},
         {"BM_PhoneDownload/iterations:2/repeats:7/real_time_median", "BM_BareAfcRead/iterations:2/repeats:7/real_time_median"}});
}
