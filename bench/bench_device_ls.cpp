// "device-ls" of the "mdfs" plugin over the directory-backed fake phone: a flat folder of
// 100,000 files and a tree of 100 folders of 1,000 files, each listed with names, sizes
// and dates, beside `ls -la` (and `ls -laR`) of the same folders. The counter gives the
// device calls per listed entry (a phone makes one request per call).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BaselineReport.h"
#include "fakedevice/FakeMobileDevice.h"
#include "files/WVMobileDeviceFilesystemPlugin.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFlatEntries = 100000;
constexpr int kTreeFolders = 100;
constexpr int kTreeFiles = 1000;

class NoPage : public ScriptBridge {
public:
    void _evaluateJavascript(const std::string&) override {}
};

class OneDevice : public WVMobileDeviceFileSystemPluginDelegate {
public:
    explicit OneDevice(std::shared_ptr<iMobileDevice> device) : device_(std::move(device)) {}
    std::shared_ptr<iMobileDevice> findMobileDeviceById(const std::string&) override { return device_; }

private:
    std::shared_ptr<iMobileDevice> device_;
};

struct Setting {
    Setting() {
        root = (fs::temp_directory_path() / "orvandel-bench-ls-XXXXXX").string();
        if (!mkdtemp(root.data())) std::abort();
        fs::create_directories(root + "/flat");
        for (int i = 0; i < kFlatEntries; ++i) std::ofstream(root + "/flat/file" + std::to_string(i)) << i;
        for (int f = 0; f < kTreeFolders; ++f) {
            const std::string folder = root + "/tree/folder" + std::to_string(f);
            fs::create_directories(folder);
            for (int i = 0; i < kTreeFiles; ++i) std::ofstream(folder + "/file" + std::to_string(i)) << i;
        }
        device = std::make_shared<testsupport::FakeMobileDevice>(root);
        finder = std::make_shared<OneDevice>(device);
        plugin = WVMobileDeviceFilesystemPlugin::create(bridge, {}, finder);
    }
    ~Setting() { fs::remove_all(root); }

    // Entries listed by one "device-ls" of the path.
    std::size_t list(const std::string& path) {
        std::size_t entries = 0;
        plugin->process(foundation::Value::dict({{"cmd", "device-ls"}, {"udid", device->uuid()}, {"path", path}}),
                        [&](const foundation::Value& reply) { entries = reply["data"]["properties"].size(); });
        return entries;
    }

    std::string root;
    std::shared_ptr<testsupport::FakeMobileDevice> device;
    std::shared_ptr<NoPage> bridge = std::make_shared<NoPage>();
    std::shared_ptr<OneDevice> finder;
    std::shared_ptr<WVMobileDeviceFilesystemPlugin> plugin;
};

Setting& setting() {
    static Setting* const made = new Setting();
    return *made;
}

void report(benchmark::State& state, std::size_t entries) {
    state.counters["entries"] = static_cast<double>(entries);
    state.counters["device_calls_per_entry"] =
        static_cast<double>(setting().device->totalCalls()) / static_cast<double>(entries);
}

void BM_DeviceLsFlat(benchmark::State& state) {
    auto& s = setting();
    std::size_t entries = 0;
    for (auto _ : state) {
        s.device->resetCallCounts();
        entries = s.list("/flat");
    }
    if (entries != kFlatEntries) state.SkipWithError("listing incomplete");
    report(state, entries);
}

void BM_LsLaFlat(benchmark::State& state) {
    const std::string command = "ls -la '" + setting().root + "/flat' > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ls failed");
}

void BM_DeviceLsTree(benchmark::State& state) {
    auto& s = setting();
    std::size_t entries = 0;
    for (auto _ : state) {
        s.device->resetCallCounts();
        entries = s.list("/tree");
        for (int f = 0; f < kTreeFolders; ++f) entries += s.list("/tree/folder" + std::to_string(f));
    }
    if (entries != kTreeFolders * (kTreeFiles + 1)) state.SkipWithError("listing incomplete");
    report(state, entries);
}

void BM_LsLaTree(benchmark::State& state) {
    const std::string command = "ls -laR '" + setting().root + "/tree' > /dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("ls failed");
}

BENCHMARK(BM_DeviceLsFlat)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LsLaFlat)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DeviceLsTree)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LsLaTree)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    setting();
    const int rc = bench::runWithBaselines(
        argc, argv, {{"BM_DeviceLsFlat/iterations:5", "BM_LsLaFlat/iterations:5"},
                     {"BM_DeviceLsTree/iterations:5", "BM_LsLaTree/iterations:5"}});
    delete &setting();
    return rc;
}
