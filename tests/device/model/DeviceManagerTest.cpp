#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <condition_variable>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Latch.h"
#include "device/AMDevice.h"
#include "device/DeviceManager.h"
#include "device/DeviceManagerDelegate.h"
#include "device/iPodDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/ScratchFolder.h"
#include "platform/volumes/MountTable.h"

namespace fs = std::filesystem;

namespace {

struct Recorder : DeviceManagerDelegate {
    std::mutex mutex;
    std::vector<std::shared_ptr<iMobileDevice>> added, removed;
    void DeviceAdded(const std::shared_ptr<iMobileDevice>& d) override {
        std::lock_guard lock(mutex);
        added.push_back(d);
        changed.notify_all();
    }
    void waitForAdded(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return added.size() >= count; });
    }
    std::condition_variable changed;
    void DeviceRemoved(const std::shared_ptr<iMobileDevice>& d) override {
        std::lock_guard lock(mutex);
        removed.push_back(d);
    }
    std::size_t addedCount() {
        std::lock_guard lock(mutex);
        return added.size();
    }
};

// An iPod whose name takes as long as its volume makes it: until the test opens the gate.
struct SlowlyNamedPod : iPodDevice {
    SlowlyNamedPod(const std::string& path, std::shared_ptr<testsupport::Latch> gate)
        : iPodDevice(path, [](const std::string&) { return "SERIAL"; }), gate(std::move(gate)) {}
    std::string name() override {
        gate->wait();
        return iPodDevice::name();
    }
    std::shared_ptr<testsupport::Latch> gate;
};

// A manager over fake phones (made with the type the test names for the hub device) and
// iPod folders listed in a mount table of the test's own.
class DeviceManagerTest : public testing::Test {
protected:
    void start(std::int32_t mask) {
        DeviceManager::Detectors detectors;
        detectors.phones.make = [this](const std::shared_ptr<AMDevice>& am) {
            auto phone = std::make_shared<testsupport::FakeMobileDevice>(
                scratch / "phone", "phone-" + std::to_string(reinterpret_cast<std::uintptr_t>(am.get())));
            testsupport::FakeMobileDevice::Identity identity;
            identity.deviceType = typeOf(am.get());
            phone->setIdentity(identity);
            return phone;
        };
        detectors.phones.setUp = [this](const std::shared_ptr<iMobileDevice>&,
                                        const std::shared_ptr<AMDevice>&) {
            if (setUpGate) setUpGate->wait();
        };
        if (phonesNeverAnswer) {
            detectors.phones.isReady = [](const std::shared_ptr<iMobileDevice>&) { return false; };
            detectors.phones.refresh = [](const std::shared_ptr<iMobileDevice>&) { return false; };
        }
        detectors.pods = [this](const std::string& path) -> std::shared_ptr<iMobileDevice> {
            if (nameGate) return std::make_shared<SlowlyNamedPod>(path, nameGate);
            return std::make_shared<iPodDevice>(path, [](const std::string&) { return "SERIAL"; });
        };
        monitor = std::make_shared<volumes::VolumeMonitor>(table());
        detectors.volumes = monitor;
        detectors.watchSystemVolumes = false;
        detectors.listenToHub = false;
        manager.setDetectors(std::move(detectors));
        manager.setDeviceSupport(mask);
        manager.setDelegate(recorder);
        manager.start();
        manager.iPodListener()->waitForAnnouncements();
    }
    std::int32_t typeOf(const AMDevice* am) {
        std::lock_guard lock(typesMutex);
        return typeFor[am];
    }
    void setType(const AMDevice* am, std::int32_t type) {
        std::lock_guard lock(typesMutex);
        typeFor[am] = type;
    }
    std::shared_ptr<AMDevice> plugPhone(std::int32_t type) {
        auto am = std::make_shared<AMDevice>();
        setType(am.get(), type);
        manager.iPhoneListener()->deviceConnected(am);
        return am;
    }
    void settle() { manager.iPhoneListener()->waitUntilIdle(); }
    // Plugs phones in one after the other, each unplugged once it has been announced.
    void plugAndUnplug(int times) {
        for (int i = 0; i < times; ++i) {
            auto am = plugPhone(kDeviceTypeiPhone);
            recorder->waitForAdded(static_cast<std::size_t>(i) + 1);
            manager.iPhoneListener()->deviceDisconnected(am);
        }
    }
    std::string table() const { return scratch / "mounts"; }
    std::string makePod(const std::string& name, bool withControl = true) {
        const std::string path = scratch / name;
        fs::create_directories(withControl ? path + "/iPod_Control" : path);
        return path;
    }
    void mount(const std::vector<std::string>& paths) {
        std::ofstream out(table());
        out << "/dev/vda / ext4 rw 0 0\n";
        for (const auto& path : paths) out << "/dev/sdb1 " << path << " vfat rw 0 0\n";
    }

    foundationtest::ScratchFolder scratch;
    std::mutex typesMutex;
    std::map<const AMDevice*, std::int32_t> typeFor;
    std::shared_ptr<testsupport::Latch> setUpGate;
    std::shared_ptr<testsupport::Latch> nameGate;
    // Phones that give no values (they do not trust this computer), read again and again.
    bool phonesNeverAnswer = false;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<volumes::VolumeMonitor> monitor;
    DeviceManager manager;
};

TEST_F(DeviceManagerTest, TheMaskDecidesWhichKindsAreListed) {
    struct Case {
        std::int32_t mask;
        std::int32_t type;
        bool listed;
    } const cases[] = {
        {11, kDeviceTypeiPad, true},     {3, kDeviceTypeiPad, false},
        {3, kDeviceTypeiPhone, true},    {3, kDeviceTypeiPodTouch, true},
        {2, kDeviceTypeOther, true},     {8, kDeviceTypeOther, true},
        {8, kDeviceTypeiPhone, false},   {1, kDeviceTypeiPhone, false},
    };
    for (const auto& c : cases) {
        auto recorder = std::make_shared<Recorder>();
        DeviceManager manager;
        DeviceManager::Detectors detectors;
        detectors.phones.make = [&](const std::shared_ptr<AMDevice>&) {
            auto phone = std::make_shared<testsupport::FakeMobileDevice>(scratch / "phone");
            testsupport::FakeMobileDevice::Identity identity;
            identity.deviceType = c.type;
            phone->setIdentity(identity);
            return phone;
        };
        detectors.pods = [](const std::string&) { return nullptr; };
        detectors.volumes = std::make_shared<volumes::VolumeMonitor>(table());
        detectors.watchSystemVolumes = false;
        detectors.listenToHub = false;
        manager.setDetectors(std::move(detectors));
        manager.setDeviceSupport(c.mask);
        manager.setDelegate(recorder);
        manager.start();
        manager.iPhoneListener()->deviceConnected(std::make_shared<AMDevice>());
        manager.iPhoneListener()->waitUntilIdle();
        EXPECT_EQ(recorder->addedCount(), c.listed ? 1u : 0u) << c.mask << " " << c.type;
        EXPECT_EQ(manager.devices().size(), c.listed ? 1u : 0u);
    }
}

TEST_F(DeviceManagerTest, PhonesNewestFirstAheadOfPods) {
    const auto pod = makePod("IPOD");
    mount({pod, makePod("USBSTICK", false)});
    start(11);
    auto first = plugPhone(kDeviceTypeiPhone);
    settle();
    plugPhone(kDeviceTypeiPad);
    settle();
    const auto list = manager.devices();
    ASSERT_EQ(list.size(), 3u);  // the stick without iPod_Control is not a device
    EXPECT_EQ(list[0]->deviceType(), kDeviceTypeiPad);
    EXPECT_EQ(list[1]->deviceType(), kDeviceTypeiPhone);
    EXPECT_EQ(list[2]->deviceType(), kDeviceTypeiPodDiskMode);

    // A removal for another hub device leaves the one connected phone alone.
    manager.iPhoneListener()->deviceDisconnected(std::make_shared<AMDevice>());
    settle();
    EXPECT_EQ(manager.devices().size(), 3u);
    manager.iPhoneListener()->deviceDisconnected(first);
    settle();
    ASSERT_EQ(recorder->removed.size(), 1u);
    EXPECT_EQ(recorder->removed[0]->deviceType(), kDeviceTypeiPhone);
}

TEST_F(DeviceManagerTest, APhoneUnpluggedDuringSetUpIsNeverAnnounced) {
    start(11);
    auto steady = plugPhone(kDeviceTypeiPhone);
    settle();
    setUpGate = std::make_shared<testsupport::Latch>(1);
    auto leaving = plugPhone(kDeviceTypeiPhone);
    EXPECT_TRUE(manager.iPhoneListener()->isPendingDevice(leaving));
    manager.iPhoneListener()->deviceDisconnected(leaving);
    setUpGate->count_down();
    settle();
    EXPECT_EQ(recorder->addedCount(), 1u);
    EXPECT_TRUE(recorder->removed.empty());  // the manager never listed it
    ASSERT_EQ(manager.devices().size(), 1u);
    EXPECT_EQ(manager.iPhoneListener()->findPhoneDevice(steady), manager.devices()[0]);
}

TEST_F(DeviceManagerTest, PodsComeAndGoWithTheirVolumes) {
    const auto pod = makePod("IPOD");
    mount({});
    start(11);
    EXPECT_TRUE(manager.devices().empty());
    for (int round = 0; round < 2; ++round) {  // a remount is announced again
        mount({pod});
        monitor->rescan();
        manager.iPodListener()->waitForAnnouncements();
        ASSERT_EQ(manager.devices().size(), 1u) << round;
        EXPECT_EQ(manager.devices()[0]->name(), "Unknown iPod");
        mount({});
        monitor->rescan();
        manager.iPodListener()->waitForAnnouncements();
        EXPECT_TRUE(manager.devices().empty()) << round;
    }
    EXPECT_EQ(recorder->addedCount(), 2u);
    EXPECT_EQ(recorder->removed.size(), 2u);

    // Without the iPod bit, iPods are recognised but never listed.
    DeviceManager phonesOnly;
    auto quiet = std::make_shared<Recorder>();
    DeviceManager::Detectors detectors;
    detectors.pods = [](const std::string& path) {
        return std::make_shared<iPodDevice>(path, [](const std::string&) { return std::nullopt; });
    };
    mount({pod});
    detectors.volumes = std::make_shared<volumes::VolumeMonitor>(table());
    detectors.watchSystemVolumes = false;
    detectors.listenToHub = false;
    phonesOnly.setDetectors(std::move(detectors));
    phonesOnly.setDeviceSupport(2);
    phonesOnly.setDelegate(quiet);
    phonesOnly.start();
    phonesOnly.iPodListener()->waitForAnnouncements();
    EXPECT_TRUE(phonesOnly.devices().empty());
    EXPECT_EQ(quiet->addedCount(), 0u);
}

TEST_F(DeviceManagerTest, APodIsNamedOffTheThreadThatSawItMount) {
    // A volume whose database takes long to name (a pipe, a library that never ends) must
    // not hold the main thread, where mounts are seen.
    const auto pod = makePod("SLOWPOD");
    mount({});
    nameGate = std::make_shared<testsupport::Latch>(1);
    start(11);
    mount({pod});
    monitor->rescan();  // returns with the name still unread
    EXPECT_TRUE(manager.devices().empty());
    nameGate->count_down();
    manager.iPodListener()->waitForAnnouncements();
    ASSERT_EQ(manager.devices().size(), 1u);
    EXPECT_EQ(manager.devices()[0]->name(), "Unknown iPod");

    // Unmounted before its name was read: never listed, and no leaving for the delegate.
    const auto second = makePod("SECONDPOD");
    nameGate = std::make_shared<testsupport::Latch>(1);
    mount({pod, second});
    monitor->rescan();
    mount({pod});
    monitor->rescan();
    nameGate->count_down();
    manager.iPodListener()->waitForAnnouncements();
    EXPECT_EQ(manager.devices().size(), 1u);
    EXPECT_EQ(recorder->addedCount(), 1u);
    EXPECT_TRUE(recorder->removed.empty());
}

// Thread stacks the process holds mapped, counted by their guard pages: a stack that is
// never given back keeps its guard. Other mappings of one page without access are few and
// do not change while the test runs.
int guardPages() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    int count = 0;
    while (std::getline(maps, line)) {
        std::uint64_t start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%" SCNx64 "-%" SCNx64 " %4s", &start, &end, perms) != 3) continue;
        count += end - start == static_cast<std::uint64_t>(::getpagesize()) && std::string(perms) == "---p";
    }
    return count;
}

TEST_F(DeviceManagerTest, EndedSetUpsGiveTheirThreadsBack) {
    start(11);
    constexpr int kPlugIns = 64;
    const int before = guardPages();
    plugAndUnplug(kPlugIns);
    // Ended threads' stacks are reused or unmapped; only a few are kept for reuse.
    EXPECT_LT(guardPages() - before, kPlugIns / 2);
    settle();
    EXPECT_TRUE(manager.devices().empty());
}

// A phone that never answers is read again while it stays; when it leaves, the thread that
// reads it ends and is joined, and its stack is given back.
TEST_F(DeviceManagerTest, PhonesThatNeverAnsweredGiveTheirThreadsBackWhenTheyLeave) {
    phonesNeverAnswer = true;
    start(11);
    constexpr int kPlugIns = 32;
    const int before = guardPages();
    plugAndUnplug(kPlugIns);
    settle();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (manager.iPhoneListener()->retryThreadCount() > 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    settle();  // the joins queued by the ended threads
    EXPECT_EQ(manager.iPhoneListener()->retryThreadCount(), 0u);
    EXPECT_LT(guardPages() - before, kPlugIns / 2);
}

TEST_F(DeviceManagerTest, ArrivalsAndDeparturesFromForeignThreads) {
    start(11);
    constexpr int kThreads = 4, kPhones = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < kPhones; ++i) {
                auto am = std::make_shared<AMDevice>();
                setType(am.get(), kDeviceTypeiPhone);
                manager.iPhoneListener()->deviceConnected(am);
                manager.iPhoneListener()->deviceDisconnected(am);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    settle();
    EXPECT_TRUE(manager.devices().empty());
    // Each phone was either never announced or announced and then removed, in that order.
    EXPECT_EQ(recorder->added.size(), recorder->removed.size());
}

TEST(MountTableTest, ReadsFieldsAndEscapes) {
    const auto entries = volumes::parseMountTable(
        "/dev/sdb1 /media/user/My\\040iPod vfat rw 0 0\n"
        "# comment\n\nshort line\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/sdc1 /media/odd\\134name\\04 ext4 rw 0 0");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].mountPath, "/media/user/My iPod");
    EXPECT_EQ(entries[0].device, "/dev/sdb1");
    EXPECT_EQ(entries[1].fsType, "tmpfs");
    EXPECT_EQ(entries[2].mountPath, "/media/odd\\name\\04");  // a cut escape is kept as written
}

}  // namespace

namespace {

TEST(VolumeMonitorTest, ARealBindMountComesAndGoes) {
    foundationtest::ScratchFolder scratch;
    fs::create_directories(scratch / "source/iPod_Control");
    fs::create_directories(scratch / "IPOD");
    volumes::VolumeMonitor monitor;
    std::vector<std::string> mounted, unmounted;
    monitor.start([&](const volumes::MountEntry& e) { mounted.push_back(e.mountPath); },
                  [&](const volumes::MountEntry& e) { unmounted.push_back(e.mountPath); }, false);
    if (::mount((scratch / "source").c_str(), (scratch / "IPOD").c_str(), nullptr, MS_BIND,
                nullptr) != 0) {
        GTEST_SKIP() << "bind mounts are not allowed here: " << std::strerror(errno);
    }
    // Media are volumes of device nodes; a folder on an overlay has none.
    bool onDevice = false;
    const auto table = volumes::readMountTable(volumes::kSystemMountTable);
    for (const auto& entry : table.value_or(std::vector<volumes::MountEntry>{})) {
        if (entry.mountPath == scratch / "IPOD") onDevice = entry.device.starts_with("/dev/");
    }
    monitor.rescan();
    const bool seen = std::find(mounted.begin(), mounted.end(), scratch / "IPOD") != mounted.end();
    ::umount((scratch / "IPOD").c_str());
    if (!onDevice) GTEST_SKIP() << "the scratch folder is not on a device node";
    monitor.rescan();
    EXPECT_TRUE(seen);
    EXPECT_NE(std::find(unmounted.begin(), unmounted.end(), scratch / "IPOD"), unmounted.end());
}

}  // namespace
