// 256 MiB up to and down from a simulated phone's media folder through iPhoneDevice, beside a
// bare libimobiledevice file service loop (lockdown start, afc_client_new, 256 KiB writes and
// reads) on the same phone in the same run. The phone is the simulated-device program in a
// process of its own, as a real phone is on the other side of the multiplexer.
//
// Three kinds of loops:
//  - transfers over a connection made once: our phone device against one bare client;
//  - a download from a fresh connection, set-up and tear-down included: a new iPhoneDevice
//    set up on the attached AMDevice, connected and released each time, as the application
//    does for a phone that is plugged in, against a bare client made and freed each time;
//  - the same with the attachment's AMDevice made afresh too (its creation reads the
//    device's name in a lockdown session of its own).
// peak_growth_MiB is how far the peak resident size rose during one fresh download.
// Throughput is in the bytes_per_second column; the final lines give our median time / the
// baseline's. The repetitions of all loops run in a shuffled order (pass
// --benchmark_enable_random_interleaving=false to run each loop's repetitions together), as
// the figures of single runs swing with the machine's other work.
#include <benchmark/benchmark.h>
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BaselineReport.h"
#include "ScratchFolder.h"
#include "device/AMDevice.h"
#include "device/iPhoneDevice.h"
#include "platform/mobiledevice/AMDeviceHandle.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kTotal = 256u << 20;
constexpr std::size_t kChunk = 262144;
constexpr const char* kUdid = "00008030-0000BE4C40000001";

// The simulated-device program serving one phone on a multiplexer socket of its own.
class PhoneProcess {
public:
    PhoneProcess(const fs::path& socket, const fs::path& media) {
        const std::string socketPath = socket.string();
        const std::string mediaPath = media.string();
        const char* argv[] = {SIMDEVICE_PROGRAM, "--socket", socketPath.c_str(), "--udid", kUdid,
                              "--root", mediaPath.c_str(), nullptr};
        if (::posix_spawn(&pid_, SIMDEVICE_PROGRAM, nullptr, nullptr,
                          const_cast<char* const*>(argv), environ) != 0) {
            pid_ = 0;
            return;
        }
        // The socket appears once the phone is listed on it.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(socket) && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        listening_ = fs::exists(socket);
    }
    ~PhoneProcess() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    PhoneProcess(const PhoneProcess&) = delete;
    PhoneProcess& operator=(const PhoneProcess&) = delete;

    bool listening() const { return listening_; }

private:
    pid_t pid_ = 0;
    bool listening_ = false;
};

// Pairs this host as `idevicepair pair` does; answers the phone's multiplexer id, or none.
std::optional<std::uint32_t> pairAndFind() {
    idevice_t device = nullptr;
    if (idevice_new_with_options(&device, kUdid, IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> found;
    lockdownd_client_t client = nullptr;
    std::uint32_t handle = 0;
    if (lockdownd_client_new(device, &client, "bench") == LOCKDOWN_E_SUCCESS &&
        lockdownd_pair(client, nullptr) == LOCKDOWN_E_SUCCESS &&
        idevice_get_handle(device, &handle) == IDEVICE_E_SUCCESS) {
        found = handle;
    }
    if (client) lockdownd_client_free(client);
    idevice_free(device);
    return found;
}

// The peak resident size in KiB, and a reset of it to the present size.
long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Bench {
    Bench() : scratch("orvandel-bench-phone") {
        const fs::path folder = scratch.path();
        fs::create_directories(folder / "media");
        source = (folder / "source.bin").string();
        std::ofstream out(source, std::ios::binary);
        std::vector<char> block(kChunk);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
        for (std::size_t done = 0; done < kTotal; done += block.size()) out.write(block.data(), block.size());
        out.close();
        // Every read loop fetches this one device file.
        fs::copy_file(source, folder / "media/read.bin");

        process = std::make_unique<PhoneProcess>(folder / "mux.sock", folder / "media");
        if (!process->listening()) return;
        ::setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + (folder / "mux.sock").string()).c_str(), 1);
        muxId = pairAndFind();
        if (!muxId) return;
        attached = attach();
        phone = connectPhone(attached);
        ready = phone != nullptr;
    }
    ~Bench() { phone.reset(); }

    fs::path path(const std::string& name) const { return fs::path(scratch.path()) / name; }

    // The device as the hub makes it when the phone is plugged in.
    std::shared_ptr<AMDevice> attach() const {
        return AMDevice::deviceFrom(std::make_shared<mobiledevice::AMDeviceHandle>(
            kUdid, *muxId, mobiledevice::kAMDInterfaceUSB));
    }

    // A phone device set up and connected as the application does it; null when any step
    // fails.
    static std::shared_ptr<iPhoneDevice> connectPhone(const std::shared_ptr<AMDevice>& device) {
        auto made = std::make_shared<iPhoneDevice>();
        if (!device || !made->createWithDeviceEnableAfc2(device, false) || !made->connect(false)) {
            return nullptr;
        }
        return made;
    }

    bench::ScratchFolder scratch;
    std::string source;
    std::unique_ptr<PhoneProcess> process;
    std::optional<std::uint32_t> muxId;
    std::shared_ptr<AMDevice> attached;
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
        settle(state, b.path("media/ours.bin"));
        if (!b.phone->uploadFileFrom("ours.bin", b.source, nullptr)) {
            return state.SkipWithError("upload failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_PhoneDownload(benchmark::State& state) {
    auto& b = bench();
    if (!b.ready) return state.SkipWithError("no simulated device");
    const fs::path target = b.path("ours-down.bin");
    for (auto _ : state) {
        settle(state, target);
        if (!b.phone->downloadFileTo("read.bin", target.string(), nullptr)) {
            return state.SkipWithError("download failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

// Times one download from a fresh connection per iteration, the connection's set-up and
// release included, with how far the peak resident size rose during one.
template <class Download>
void timeFreshDownloads(benchmark::State& state, const fs::path& target, Download&& download) {
    if (!bench().ready) return state.SkipWithError("no simulated device");
    long growth = 0;
    for (auto _ : state) {
        settle(state, target);
        state.PauseTiming();
        resetPeak();
        const long before = peakKiB();
        state.ResumeTiming();
        if (!download()) return state.SkipWithError("a fresh download failed");
        growth = std::max(growth, peakKiB() - before);
    }
    state.counters["peak_growth_MiB"] = static_cast<double>(growth) / 1024.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

// Through a phone device connected afresh: on the attached device, or with the attachment's
// device made afresh too.
void freshDownload(benchmark::State& state, bool attachAfresh) {
    const fs::path target = bench().path("fresh-down.bin");
    timeFreshDownloads(state, target, [&] {
        auto& b = bench();
        auto phone = Bench::connectPhone(attachAfresh ? b.attach() : b.attached);
        return phone && phone->downloadFileTo("read.bin", target.string(), nullptr);
    });
}

void BM_PhoneFreshConnectionDownload(benchmark::State& state) { freshDownload(state, false); }
void BM_PhoneFreshAttachmentDownload(benchmark::State& state) { freshDownload(state, true); }

// The bare loop: its own lockdown client and service, as a command-line client does.
struct BareClient {
    BareClient() {
        if (idevice_new_with_options(&device, kUdid, IDEVICE_LOOKUP_USBMUX) != IDEVICE_E_SUCCESS ||
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
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    // Reads a device file into a computer file; answers the bytes read.
    std::size_t read(const char* devicePath, const fs::path& target) {
        std::vector<char> buffer(kChunk);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        std::uint64_t handle = 0;
        if (afc_file_open(afc, devicePath, AFC_FOPEN_RDONLY, &handle) != AFC_E_SUCCESS) return 0;
        std::uint32_t got = 0;
        std::size_t total = 0;
        while (afc_file_read(afc, handle, buffer.data(), kChunk, &got) == AFC_E_SUCCESS && got > 0) {
            out.write(buffer.data(), got);
            total += got;
        }
        afc_file_close(afc, handle);
        return total;
    }

    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    afc_client_t afc = nullptr;
};

void BM_BareAfcWrite(benchmark::State& state) {
    if (!bench().ready) return state.SkipWithError("no simulated device");
    BareClient client;
    if (!client.afc) return state.SkipWithError("no simulated device");
    std::vector<char> buffer(kChunk);
    for (auto _ : state) {
        settle(state, bench().path("media/bare.bin"));
        std::ifstream in(bench().source, std::ios::binary);
        std::uint64_t handle = 0;
        afc_file_open(client.afc, "/bare.bin", AFC_FOPEN_WRONLY, &handle);
        while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
            std::uint32_t written = 0;
            afc_file_write(client.afc, handle, buffer.data(), static_cast<std::uint32_t>(in.gcount()), &written);
        }
        afc_file_close(client.afc, handle);
    }
    if (fs::file_size(bench().path("media/bare.bin")) != kTotal) {
        return state.SkipWithError("the bare loop did not write everything");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_BareAfcRead(benchmark::State& state) {
    if (!bench().ready) return state.SkipWithError("no simulated device");
    BareClient client;
    if (!client.afc) return state.SkipWithError("no simulated device");
    const fs::path target = bench().path("bare-down.bin");
    for (auto _ : state) {
        settle(state, target);
        if (client.read("/read.bin", target) != kTotal) {
            return state.SkipWithError("the bare loop did not read everything");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
}

void BM_BareFreshConnectionRead(benchmark::State& state) {
    const fs::path target = bench().path("bare-fresh-down.bin");
    timeFreshDownloads(state, target, [&] {
        BareClient client;
        return client.afc && client.read("/read.bin", target) == kTotal;
    });
}

#define PHONE_BENCHMARK(name) \
    BENCHMARK(name)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime()

PHONE_BENCHMARK(BM_BareAfcWrite);
PHONE_BENCHMARK(BM_PhoneUpload);
PHONE_BENCHMARK(BM_PhoneDownload);
PHONE_BENCHMARK(BM_BareAfcRead);
PHONE_BENCHMARK(BM_PhoneFreshConnectionDownload);
PHONE_BENCHMARK(BM_PhoneFreshAttachmentDownload);
PHONE_BENCHMARK(BM_BareFreshConnectionRead);

std::string median(const char* name) {
    return std::string(name) + "/iterations:2/repeats:7/real_time_median";
}

}  // namespace

int main(int argc, char** argv) {
    // Interleaved unless the command line says otherwise: the flag given last wins.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave.data());
    int count = static_cast<int>(arguments.size());
    return bench::runWithBaselines(
        count, arguments.data(),
        {{median("BM_PhoneUpload"), median("BM_BareAfcWrite")},
         {median("BM_PhoneDownload"), median("BM_BareAfcRead")},
         {median("BM_PhoneFreshConnectionDownload"), median("BM_BareFreshConnectionRead")},
         {median("BM_PhoneFreshAttachmentDownload"), median("BM_BareFreshConnectionRead")}});
}
