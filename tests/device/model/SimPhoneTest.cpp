// The phone device end to end: the real libimobiledevice clients against the simulated
// device, through iPhoneDevice and the device file service layer under it.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "../LocalFiles.h"
#include "../SimServiceFixture.h"
#include "device/AFCDirectoryKinds.h"
#include "device/AMDevice.h"
#include "device/AMSpringboardServices.h"
#include "device/iPhoneDevice.h"
#include "shell/KolvexAppDelegate.h"
#include "simdevice/SimAfcServer.h"
#include "simdevice/SimApplications.h"

namespace {

namespace fs = std::filesystem;
using foundation::Data;

using devicetest::contentsOf;
using devicetest::writeLocal;

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

std::size_t leftovers(const std::string& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        count += entry.path().filename().string().find(".partial-") != std::string::npos;
    }
    return count;
}

// Records progress; stops after `stopAfter` reports and can run a step at a report.
struct Progress : iMobileDeviceCopyDelegate {
    void transferBytesOfTotal(std::int64_t bytes, std::int64_t total) override {
        reports.emplace_back(bytes, total);
        if (onReport) onReport(reports.size());
    }
    bool shouldContinue() override { return reports.size() + 1 < stopAfter; }
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    std::size_t stopAfter = SIZE_MAX;
    std::function<void(std::size_t)> onReport;
};

class SimPhone : public devicetest::SimAMDeviceTest {
protected:
    void SetUp() override {
        SimAMDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        phone = std::make_shared<iPhoneDevice>();
        ASSERT_TRUE(phone->createWithDeviceEnableAfc2(am, false));
        ASSERT_TRUE(phone->connect(false));
    }
    std::string local(const std::string& name) const { return scratch / name; }

    std::shared_ptr<iPhoneDevice> phone;
};

TEST_F(SimPhone, IdentityAndPathOperations) {
    // Before any file service is current the capacities come from the disk-usage values,
    // and a later answer of the file service is not hidden by an earlier empty one.
    auto early = std::make_shared<iPhoneDevice>();
    early->createWithDeviceEnableAfc2(am, false);
    EXPECT_EQ(early->capacity(), std::uint64_t{58} << 30);
    EXPECT_EQ(early->freeCapacity(), std::uint64_t{20} << 30);
    ASSERT_TRUE(early->connect(false));
    EXPECT_EQ(early->capacity(), simulated->volume().totalBytes);

    EXPECT_EQ(phone->name(), "Simulated iPhone");
    EXPECT_EQ(phone->deviceType(), kDeviceTypeiPhone);
    EXPECT_EQ(phone->osVersion(), "16.7.2");
    EXPECT_EQ(phone->uuid(), simulated->config().udid);

    ASSERT_TRUE(phone->createDirectory("Books"));
    bool isDirectory = false;
    EXPECT_TRUE(phone->itemExistsAtPathIsDirectory("Books", &isDirectory));
    EXPECT_TRUE(isDirectory);
    ASSERT_TRUE(phone->writeDataToPath(Data{'a', 'b', 'c'}, "/Books/a.txt"));
    EXPECT_EQ(contentsOf(media("Books/a.txt")), "abc");
    EXPECT_EQ(phone->getSizeOfItemAtPath("Books/a.txt"), 3u);
    EXPECT_GT(phone->modificationDateOfItemAtPath("Books/a.txt").secondsSince1970, 1e9);
    ASSERT_TRUE(phone->createDirectory("Books/Inner"));
    ASSERT_TRUE(phone->currentService()->symlinkTo("/Books/link", "a.txt"));
    EXPECT_TRUE(phone->isLinkAtPath("Books/link"));

    std::vector<std::string> names;
    for (const auto& node : phone->contentsOfDirectoryPathType("Books", kPathTypeFoldersThenFiles)) {
        EXPECT_EQ(node.parentDirectory(), "/Books");
        names.push_back(node.name() + (node.isDirectory() ? "/" : ""));
    }
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "Inner/");
    EXPECT_EQ(phone->contentsOfDirectoryPathType("Books", kPathTypeFolders).size(), 1u);

    ASSERT_TRUE(phone->renameItemAtPathTo("/Books/a.txt", "b.txt"));
    EXPECT_EQ(contentsOf(media("Books/b.txt")), "abc");
    ASSERT_TRUE(phone->appendDataToPath(Data{'d'}, "Books/b.txt"));
    EXPECT_EQ(phone->readFileAtPathOffsetLength("Books/b.txt", 1, 2), (Data{'b', 'c'}));
    ASSERT_TRUE(phone->writeDataToPath(Data{'z'}, "Books/b.txt"));  // no stale tail
    EXPECT_EQ(phone->contentsOfFileAtPath("Books/b.txt"), (Data{'z'}));
    ASSERT_TRUE(phone->deleteItemAtPath("Books/b.txt"));
    EXPECT_FALSE(phone->itemExistsAtPath("Books/b.txt"));
    EXPECT_FALSE(phone->contentsOfFileAtPath("Books/b.txt").has_value());

    phone->resetService();
    EXPECT_FALSE(phone->itemExistsAtPath("Books"));
    EXPECT_TRUE(phone->contentsOfDirectoryPathType("Books", kPathTypeFoldersThenFiles).empty());
    EXPECT_TRUE(phone->changeService("com.apple.afc"));
    EXPECT_TRUE(phone->itemExistsAtPath("Books"));
}

// Each lockdown session costs a TLS handshake: setting a phone up opens one, and the first
// media connection comes out of it.
TEST_F(SimPhone, SetUpOpensOneSessionAndTheFirstMediaConnectionComesFromIt) {
    writeLocal(media("note.txt"), "hello");
    const int started = simulated->sessionsStarted();
    const int stopped = simulated->sessionsStopped();
    auto fresh = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(fresh->createWithDeviceEnableAfc2(am, false));
    EXPECT_EQ(simulated->sessionsStarted(), started + 1);
    EXPECT_EQ(simulated->sessionsStopped(), stopped + 1);
    EXPECT_FALSE(fresh->isJailbreak());
    EXPECT_EQ(fresh->name(), "Simulated iPhone");
    EXPECT_EQ(fresh->osVersion(), "16.7.2");
    EXPECT_FALSE(fresh->currentService());  // none is current before connect

    ASSERT_TRUE(fresh->connect(false));
    EXPECT_EQ(simulated->sessionsStarted(), started + 1);
    EXPECT_EQ(fresh->contentsOfFileAtPath("note.txt"), (Data{'h', 'e', 'l', 'l', 'o'}));
    // Every later connect makes a new connection, in a session of its own.
    const auto first = fresh->currentService();
    ASSERT_TRUE(fresh->connect(false));
    EXPECT_NE(fresh->currentService(), first);
    EXPECT_EQ(simulated->sessionsStarted(), started + 2);
    EXPECT_EQ(fresh->getSizeOfItemAtPath("note.txt"), 5u);

    // A file tree asking for the media service first takes the connection just the same.
    auto browsed = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(browsed->createWithDeviceEnableAfc2(am, false));
    ASSERT_TRUE(browsed->changeService("com.apple.afc"));
    EXPECT_EQ(simulated->sessionsStarted(), started + 3);
    EXPECT_TRUE(browsed->itemExistsAtPath("note.txt"));
    EXPECT_EQ(simulated->sessionsStarted() - simulated->sessionsStopped(), started - stopped);
}

// A fresh connect that the phone refuses leaves no connection behind: the phone is not
// reported as connected on an old one, and the next connect or listing makes one anew.
TEST_F(SimPhone, AFreshConnectThePhoneRefusesAnswersNo) {
    writeLocal(media("note.txt"), "hello");
    simulated->setRefuseConnections(true);
    EXPECT_FALSE(phone->connect(false));
    EXPECT_FALSE(phone->currentService());
    EXPECT_FALSE(phone->connect(true));
    simulated->setRefuseConnections(false);
    EXPECT_TRUE(phone->changeService("com.apple.afc"));
    EXPECT_TRUE(phone->itemExistsAtPath("note.txt"));
    EXPECT_TRUE(phone->connect(false));
}

TEST_F(SimPhone, TenMebibytesRoundTripInChunks) {
    const std::string bytes = randomBytes(10 << 20, 1);
    writeLocal(local("up.bin"), bytes);
    auto up = std::make_shared<Progress>();
    ASSERT_TRUE(phone->uploadFileFrom("up.bin", local("up.bin"), up));
    EXPECT_EQ(contentsOf(media("up.bin")), bytes);
    ASSERT_EQ(up->reports.size(), 41u);
    EXPECT_EQ(up->reports.front(), std::make_pair(std::int64_t{262144}, std::int64_t{10 << 20}));
    EXPECT_EQ(up->reports.back(), std::make_pair(std::int64_t{100}, std::int64_t{100}));

    auto down = std::make_shared<Progress>();
    phone->setCopyDelegate(down);
    ASSERT_TRUE(phone->downloadFileTo("up.bin", local("out/down.bin")));
    EXPECT_EQ(contentsOf(local("out/down.bin")), bytes);
    EXPECT_EQ(down->reports.size(), 40u);
    EXPECT_EQ(leftovers(scratch / "media"), 0u);

    // An empty file goes up whole and reports 100 of 100 once.
    writeLocal(local("empty"), "");
    auto empty = std::make_shared<Progress>();
    ASSERT_TRUE(phone->uploadFileFrom("empty", local("empty"), empty));
    EXPECT_TRUE(fs::exists(media("empty")));
    EXPECT_EQ(empty->reports.size(), 1u);
}

TEST_F(SimPhone, StoppedTransfersAnswerNoAndKeepTheOldDestination) {
    writeLocal(local("big.bin"), randomBytes(2 << 20, 2));
    writeLocal(media("big.bin"), "old device copy");
    writeLocal(local("fetched.bin"), "old computer copy");
    auto stopUp = std::make_shared<Progress>();
    stopUp->stopAfter = 2;
    EXPECT_FALSE(phone->uploadFileFrom("big.bin", local("big.bin"), stopUp));
    EXPECT_EQ(contentsOf(media("big.bin")), "old device copy");
    EXPECT_EQ(stopUp->reports.size(), 2u);  // no 100 of 100 after a stop

    writeLocal(media("source.bin"), randomBytes(2 << 20, 3));
    auto stopDown = std::make_shared<Progress>();
    stopDown->stopAfter = 3;
    EXPECT_FALSE(phone->downloadFileTo("source.bin", local("fetched.bin"), stopDown));
    EXPECT_EQ(contentsOf(local("fetched.bin")), "old computer copy");
    EXPECT_EQ(leftovers(scratch / "media"), 0u);
    EXPECT_EQ(leftovers(scratch.path()), 0u);

    // A missing source changes nothing on either side.
    EXPECT_FALSE(phone->uploadFileFrom("big.bin", local("missing.bin"), nullptr));
    EXPECT_FALSE(phone->downloadFileTo("missing.bin", local("fetched.bin"), nullptr));
    EXPECT_EQ(contentsOf(media("big.bin")), "old device copy");
    EXPECT_EQ(contentsOf(local("fetched.bin")), "old computer copy");
}

TEST_F(SimPhone, ConcurrentTransfersKeepTheirOwnProgress) {
    writeLocal(local("one.bin"), randomBytes(1 << 20, 4));
    writeLocal(local("two.bin"), randomBytes(3 << 19, 5));
    auto one = std::make_shared<Progress>();
    auto two = std::make_shared<Progress>();
    std::atomic<bool> oneResult = false;
    std::atomic<bool> twoResult = false;
    std::thread first([&] { oneResult = phone->uploadFileFrom("one.bin", local("one.bin"), one); });
    std::thread second([&] { twoResult = phone->uploadFileFrom("two.bin", local("two.bin"), two); });
    first.join();
    second.join();
    EXPECT_TRUE(oneResult);
    EXPECT_TRUE(twoResult);
    ASSERT_EQ(one->reports.size(), 5u);
    ASSERT_EQ(two->reports.size(), 7u);
    for (std::size_t i = 0; i + 1 < one->reports.size(); ++i) EXPECT_EQ(one->reports[i].second, 1 << 20);
    for (std::size_t i = 0; i + 1 < two->reports.size(); ++i) EXPECT_EQ(two->reports[i].second, 3 << 19);
    EXPECT_EQ(contentsOf(media("one.bin")), contentsOf(local("one.bin")));
    EXPECT_EQ(contentsOf(media("two.bin")), contentsOf(local("two.bin")));
}

TEST_F(SimPhone, DeviceGoneMidTransferAnswersNoWithoutPartialFile) {
    writeLocal(media("long.bin"), randomBytes(2 << 20, 6));
    auto progress = std::make_shared<Progress>();
    progress->onReport = [&](std::size_t count) {
        if (count == 2) server->stop();  // every connection of the device ends
    };
    EXPECT_FALSE(phone->downloadFileTo("long.bin", local("long.bin"), progress));
    EXPECT_FALSE(fs::exists(local("long.bin")));
    EXPECT_EQ(leftovers(scratch.path()), 0u);
}

// The phone is described from what it gave at set-up: nothing is asked of it then, so a
// description never waits for it (the page's summaries are built on the main thread).
TEST_F(SimPhone, DescribingAPhoneAsksNothingOfIt) {
    auto fresh = std::make_shared<iPhoneDevice>();
    ASSERT_TRUE(fresh->createWithDeviceEnableAfc2(am, false));
    const int started = simulated->sessionsStarted();
    const foundation::Value summary = KolvexAppDelegate::jsonOfDevice(*fresh);
    EXPECT_EQ(simulated->sessionsStarted(), started);
    EXPECT_EQ(summary["name"], foundation::Value("Simulated iPhone"));
    EXPECT_EQ(summary["osversion"], foundation::Value("16.7.2"));
    EXPECT_EQ(summary["totalCapacity"], foundation::Value(std::uint64_t{58} << 30));
    EXPECT_EQ(summary["freeCapacity"], foundation::Value(std::uint64_t{20} << 30));
    EXPECT_EQ(summary["deviceType"], foundation::Value(kDeviceTypeiPhone));
}

// Ordinary phones refuse the whole-file-system service that set-up asks for: a healthy
// phone has no last error, and an error that is over (the phone trusts this computer
// again) is not kept.
TEST_F(SimPhone, AHealthyPhoneHasNoLastError) {
    EXPECT_FALSE(phone->isJailbreak());
    EXPECT_EQ(phone->lastErrorCode(), 0);
    const foundation::Value summary = KolvexAppDelegate::jsonOfDevice(*phone);
    EXPECT_EQ(summary["lastErrorCode"], foundation::Value(0));
    EXPECT_TRUE(summary["lastErrorText"].isNil());

    ASSERT_TRUE(phone->unpair());
    // The phone no longer answers this computer.
    EXPECT_TRUE(phone->deviceValueForKeyInDomain("DeviceName", "").isNil());
    EXPECT_NE(phone->lastErrorCode(), 0);
    ASSERT_TRUE(phone->pair());
    EXPECT_TRUE(phone->reloadAttributes());
    EXPECT_EQ(phone->lastErrorCode(), 0);
    EXPECT_TRUE(KolvexAppDelegate::jsonOfDevice(*phone)["lastErrorText"].isNil());
}

TEST_F(SimPhone, LockdownRefusalSurfacesAsTheMappedCode) {
    simulated->failRequest("StartService", "InvalidService");
    EXPECT_FALSE(am->newAFCMediaDirectory());
    EXPECT_EQ(static_cast<std::uint32_t>(phone->lastErrorCode()), mobiledevice::kAMDInvalidServiceError);
}

TEST_F(SimPhone, HostileAnswersGiveErrors) {
    writeLocal(media("data.bin"), randomBytes(300000, 7));
    fs::create_directories(media("Folder"));
    struct Case {
        simdevice::SimAfcHostility hostility;
        bool readsWhole;
    };
    const Case cases[] = {{simdevice::SimAfcHostility::ShortReads, true},
                          {simdevice::SimAfcHostility::BadEntryNames, true},
                          {simdevice::SimAfcHostility::Truncated, false},
                          {simdevice::SimAfcHostility::HugeLength, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.hostility));
        simulated->setAfcHostility(c.hostility);
        auto fresh = std::make_shared<iPhoneDevice>();
        fresh->createWithDeviceEnableAfc2(am, false);
        ASSERT_TRUE(fresh->connect(false));
        const auto read = fresh->contentsOfFileAtPath("data.bin");
        EXPECT_EQ(read.has_value(), c.readsWhole);
        if (read) {
            EXPECT_EQ(std::string(read->begin(), read->end()), contentsOf(media("data.bin")));
        }
        if (c.hostility == simdevice::SimAfcHostility::BadEntryNames) {
            EXPECT_FALSE(fresh->currentService()->directoryContents("/Folder").has_value());
            EXPECT_TRUE(fresh->contentsOfDirectoryPathType("Folder", kPathTypeFoldersThenFiles).empty());
        }
        // A download gets the file whole or answers no and leaves the old copy.
        writeLocal(local("hostile.bin"), "old copy");
        EXPECT_EQ(fresh->downloadFileTo("data.bin", local("hostile.bin"), nullptr), c.readsWhole);
        EXPECT_EQ(contentsOf(local("hostile.bin")), c.readsWhole ? contentsOf(media("data.bin")) : "old copy");
        EXPECT_EQ(leftovers(scratch.path()), 0u);
        fs::remove(local("hostile.bin"));
    }
}

}  // namespace

namespace {

TEST_F(SimPhone, ApplicationsIconsAndContainers) {
    const foundation::Value bundles = phone->appBundles();
    ASSERT_EQ(bundles.size(), 3u);  // only those that share files on this version
    std::map<std::string, foundation::Value> byId;
    for (const auto& bundle : *bundles.array()) byId[bundle["ID"].stringOr()] = bundle;
    ASSERT_TRUE(byId.count("com.example.recorder"));
    EXPECT_FALSE(byId.count("com.example.weather"));
    const auto& recorder = byId["com.example.recorder"];
    EXPECT_EQ(recorder["name"], foundation::Value("Voice Memos Pro"));  // empty display name
    EXPECT_EQ(recorder["root"], foundation::Value("/Documents"));
    EXPECT_EQ(recorder["fileSharingEnabled"], foundation::Value(true));
    EXPECT_EQ(recorder["iconPath"], foundation::Value("/8C1F7D4E-3A52-4F1C-8D9B-2E8F4A3B7CA1/AppIcon60x60"));

    const auto icon = phone->getIconDataForApp("com.example.reader");
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(*icon, simdevice::applicationIcon("com.example.reader"));
    EXPECT_FALSE(phone->getIconDataForApp("com.example.unknown").has_value());

    fs::create_directories(scratch / "containers/com.example.reader/Documents");
    writeLocal(scratch / "containers/com.example.reader/Documents/notes.txt", "reading list");
    std::vector<std::string> names;
    EXPECT_TRUE(phone->performOnService("com.example.reader", true, [&] {
        for (const auto& node : phone->contentsOfDirectoryPathType("Documents", kPathTypeFiles)) {
            names.push_back(node.name());
        }
        const Data notes = phone->contentsOfFileAtPath("Documents/notes.txt").value_or(Data());
        EXPECT_EQ(std::string(notes.begin(), notes.end()), "reading list");
    }));
    EXPECT_EQ(names, std::vector<std::string>{"notes.txt"});
    // An application without a container is no error of the phone's own.
    const auto lastCode = phone->lastErrorCode();
    EXPECT_FALSE(phone->changeService("com.example.unknown"));
    EXPECT_EQ(phone->lastErrorCode(), lastCode);
    EXPECT_NE(static_cast<std::uint32_t>(phone->lastErrorCode()),
              mobiledevice::kMobileHouseArrestApplicationLookupFailed);
    EXPECT_FALSE(phone->itemExistsAtPath("Documents"));  // no service is current now
}

// An icon request waits for a transfer that holds the device, like every other device call.
TEST_F(SimPhone, IconRequestsWaitForARunningTransfer) {
    writeLocal(media("song.bin"), randomBytes(1 << 20, 6));
    std::mutex mutex;
    std::condition_variable iconArrived;
    std::optional<Data> icon;
    bool iconDone = false;
    std::thread asker;
    bool answeredDuringTransfer = true;
    auto progress = std::make_shared<Progress>();
    progress->onReport = [&](std::size_t report) {
        if (report != 1) return;
        asker = std::thread([&] {
            auto data = phone->getIconDataForApp("com.example.reader");
            std::lock_guard lock(mutex);
            icon = std::move(data);
            iconDone = true;
            iconArrived.notify_all();
        });
        // The device is held here: the icon must not come back in the meantime.
        std::unique_lock lock(mutex);
        answeredDuringTransfer =
            iconArrived.wait_for(lock, std::chrono::milliseconds(500), [&] { return iconDone; });
    };
    ASSERT_TRUE(phone->downloadFileTo("song.bin", local("song.bin"), progress));
    ASSERT_TRUE(asker.joinable());
    asker.join();
    EXPECT_FALSE(answeredDuringTransfer);
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(*icon, simdevice::applicationIcon("com.example.reader"));
}

TEST_F(SimPhone, TwoServicesOfOneDeviceAtOnce) {
    writeLocal(media("only-in-media.txt"), "m");
    fs::create_directories(scratch / "containers/com.example.podcasts/Documents");
    writeLocal(scratch / "containers/com.example.podcasts/Documents/only-in-app.txt", "a");
    std::atomic<int> wrong = 0;
    const auto worker = [&](const std::string& service, const std::string& path) {
        for (int round = 0; round < 25; ++round) {
            phone->performOnService(service, true, [&] {
                if (!phone->itemExistsAtPath(path)) ++wrong;
            });
        }
    };
    std::thread media([&] { worker("com.apple.afc", "only-in-media.txt"); });
    std::thread app([&] { worker("com.example.podcasts", "Documents/only-in-app.txt"); });
    media.join();
    app.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace

namespace {

TEST_F(SimPhone, ConnectionCopiesNeverOverwrite) {
    auto afc = am->newAFCMediaDirectory();
    ASSERT_TRUE(afc);
    fs::create_directories(local("tree/inner"));
    writeLocal(local("tree/inner/a.txt"), "alpha");
    writeLocal(local("tree/b.txt"), "beta");
    ASSERT_TRUE(afc->copyLocalFileToRemoteDir(local("tree"), "/"));
    EXPECT_EQ(contentsOf(media("tree/inner/a.txt")), "alpha");
    EXPECT_EQ(afc->recursiveDirectoryContents("/tree"),
              (std::vector<std::string>{"/tree/", "/tree/b.txt", "/tree/inner/", "/tree/inner/a.txt"}));
    EXPECT_FALSE(afc->copyLocalFileToRemoteFile(local("tree/b.txt"), "/tree/b.txt"));
    EXPECT_EQ(afc->lasterror(), "Won't overwrite existing file");
    ASSERT_TRUE(afc->copyRemoteFileToLocalFile("/tree/inner/a.txt", local("fetched.txt")));
    EXPECT_EQ(contentsOf(local("fetched.txt")), "alpha");
    EXPECT_FALSE(afc->copyRemoteFileToLocalFile("/tree/b.txt", local("fetched.txt")));
    EXPECT_EQ(contentsOf(local("fetched.txt")), "alpha");
    EXPECT_EQ(afc->contentOfFile("/tree/b.txt"), (Data{'b', 'e', 't', 'a'}));
}

TEST_F(SimPhone, ModificationTimesAreSetByARunOperation) {
    writeLocal(scratch / "media/song.mp3", "tune");
    auto media = am->newAFCMediaDirectory();
    ASSERT_TRUE(media);
    const struct {
        std::string path;
        bool done;
        std::string error;
    } cases[] = {
        {"/song.mp3", true, ""},
        {"/missing.mp3", false, "The device's file service refused the request (error 8)."},
        {"", false, "Path is nil"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(media->setmodtimeTo(c.path, foundation::Date{1234567890.5}), c.done);
        EXPECT_EQ(media->lasterror(), c.error);
    }
    struct stat info {};
    ASSERT_EQ(::stat((scratch / "media/song.mp3").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec, 1234567890500000000);
    media->close();
    EXPECT_FALSE(media->setmodtimeTo("/song.mp3", foundation::Date{1}));
    EXPECT_EQ(media->lasterror(), "Connection is not open");
}

TEST_F(SimPhone, SpringboardIconsAsImages) {
    auto springboard = am->newAMSpringboardServices();
    ASSERT_TRUE(springboard);
    const auto icon = springboard->getIcon("com.example.reader");
    EXPECT_EQ(icon ? gdk_pixbuf_get_width(icon.get()) : 0, 60);
    // An answer without icon data is no icon and no error.
    EXPECT_FALSE(springboard->getIcon("com.example.unknown"));
    EXPECT_EQ(springboard->lasterror(), "");
}

TEST_F(SimPhone, OlderConnectionCallsChangeNothing) {
    const auto current = phone->currentService();
    EXPECT_TRUE(phone->ResetConnection());
    EXPECT_TRUE(phone->tryStartServiceTryTimes("com.apple.afc", 3));
    EXPECT_EQ(phone->currentService(), current);
    // The shorter attribute list asks for nothing the device's own lookup leaves out.
    const foundation::Value shorter = phone->defaultReturnAttributes()["ReturnAttributes"];
    const foundation::Value full = am->defaultReturnAttributes()["ReturnAttributes"];
    ASSERT_EQ(shorter.size(), 16u);
    for (const auto& key : *shorter.array())
        EXPECT_NE(std::find(full.array()->begin(), full.array()->end(), key), full.array()->end())
            << key.stringOr();
}

}  // namespace
