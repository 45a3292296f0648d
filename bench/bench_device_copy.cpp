// "device-download" and "device-upload" of the "mdfs" plugin over the directory-backed fake
// phone: 1 GiB down to the computer and back up, with progress sent to a page handler for
// every 256 KiB chunk, beside `cp` of the same file in the same run. The counters give the
// progress reports that reached the page and how much the peak memory grew during the copy.
// The files go to a scratch folder in the temporary folder (TMPDIR), removed at the end of
// the run or when it fails: it needs about 2 GiB free while it runs.

#include <benchmark/benchmark.h>

#include <glib.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "BaselineReport.h"
#include "ScratchFolder.h"
#include "fakedevice/FakeMobileDevice.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"
#include "foundation/MainQueue.h"

namespace {

namespace fs = std::filesystem;
using foundation::Value;

constexpr std::int64_t kBytes = 1ll << 30;
constexpr const char* kProgress = "copyProgress";

// A page that takes every message; counts those for the progress handler.
class CountingPage : public ScriptBridge {
public:
    void _evaluateJavascript(const std::string& script) override {
        for (auto at = script.find(kProgress); at != std::string::npos; at = script.find(kProgress, at + 1))
            ++reports;
    }
    std::int64_t reports = 0;
};

class OneDevice : public WVMobileDeviceFileSystemPluginDelegate {
public:
    explicit OneDevice(std::shared_ptr<iMobileDevice> device) : device_(std::move(device)) {}
    std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string&) override { return device_; }

private:
    std::shared_ptr<iMobileDevice> device_;
};

long peakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Setting {
    Setting() {
        fs::create_directories(root + "/media");
        fs::create_directories(root + "/pc");
        std::ofstream out(root + "/media/big.bin", std::ios::binary);
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + 7);
        for (std::int64_t done = 0; done < kBytes; done += static_cast<std::int64_t>(block.size()))
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write the 1 GiB source file in " + root);
        device = std::make_shared<testsupport::FakeMobileDevice>(root + "/media");
        finder = std::make_shared<OneDevice>(device);
        page = ScriptBridge::make<CountingPage>();
        page->base().injectJavascriptFile();
        plugin = WVMobileDeviceFilesystemPlugin::create(page, {}, finder);
    }

    // One copy through the plugin, with the main loop served until it answers.
    bool copy(const char* cmd, const std::string& path, const std::string& to) {
        std::atomic<bool> done{false};
        bool result = false;
        plugin->process(Value::dict({{"cmd", cmd}, {"udid", device->uuid()}, {"path", path}, {"to", to},
                                     {"cb", kProgress}, {"stopCB", "copyStop"}}),
                        [&](const Value& reply) {
                            result = reply["result"].toBool().value_or(false);
                            foundation::MainQueue::async([&] { done = true; });
                        });
        while (!done) g_main_context_iteration(nullptr, TRUE);
        return result;
    }

    bench::ScratchFolder scratch{"orvandel-bench-copy"};
    const std::string root = scratch.path();
    std::shared_ptr<testsupport::FakeMobileDevice> device;
    std::shared_ptr<CountingPage> page;
    std::shared_ptr<OneDevice> finder;
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin;
};

// Made by the first case that needs it; main drops it (and the scratch folder) at the end.
std::unique_ptr<Setting>& settingSlot() {
    static std::unique_ptr<Setting> slot;
    return slot;
}

Setting& setting() {
    auto& slot = settingSlot();
    if (!slot) slot = std::make_unique<Setting>();
    return *slot;
}

// `written` is where the copy lands on this computer.
void run(benchmark::State& state, const char* cmd, const std::string& path, const std::string& to,
         const std::string& written) {
    auto& s = setting();
    const long peakBefore = peakKiB();
    std::int64_t reports = 0;
    for (auto _ : state) {
        s.page->reports = 0;
        if (!s.copy(cmd, path, to)) state.SkipWithError("copy failed");
        reports = s.page->reports;
    }
    std::error_code missing;
    if (fs::file_size(written, missing) != static_cast<std::uintmax_t>(kBytes) || missing)
        state.SkipWithError("copy incomplete");
    fs::remove(written, missing);  // only the source stays for the next case
    state.counters["progress_reports"] = static_cast<double>(reports);
    state.counters["peak_growth_MiB"] = static_cast<double>(peakKiB() - peakBefore) / 1024.0;
    state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_DeviceDownload(benchmark::State& state) {
    const std::string to = setting().root + "/pc/down.bin";
    run(state, "device-download", "/big.bin", to, to);
}

void BM_DeviceUpload(benchmark::State& state) {
    run(state, "device-upload", setting().root + "/media/big.bin", "/up.bin", setting().root + "/media/up.bin");
}

void BM_Cp(benchmark::State& state) {
    const std::string command =
        "cp '" + setting().root + "/media/big.bin' '" + setting().root + "/pc/cp.bin'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    std::error_code ignored;
    fs::remove(setting().root + "/pc/cp.bin", ignored);
    state.SetBytesProcessed(state.iterations() * kBytes);
}

BENCHMARK(BM_DeviceDownload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_DeviceUpload)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    foundation::MainQueue::bindToCurrentThread();
    int result = 1;
    try {
        result = bench::runWithBaselines(
            argc, argv,
            {{"BM_DeviceDownload/iterations:3/real_time", "BM_Cp/iterations:3/real_time"},
             {"BM_DeviceUpload/iterations:3/real_time", "BM_Cp/iterations:3/real_time"}});
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench_device_copy: %s\n", failure.what());
    }
    settingSlot().reset();
    return result;
}
