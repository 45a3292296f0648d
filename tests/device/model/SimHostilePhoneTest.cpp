// The phone device against a simulated phone that misbehaves: it lies about sizes, lists
// folders without end and fails writes part-way; and against callers that hold a
// transfer while the summary is asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "../LocalFiles.h"
#include "../SimServiceFixture.h"
#include "Latch.h"
#include "device/iPhoneDevice.h"
#include "files/FileSystemNode.h"
#include "simdevice/SimAfcServer.h"

namespace {

namespace fs = std::filesystem;
using foundation::Data;
using simdevice::SimAfcHostility;

using devicetest::contentsOf;
using devicetest::writeLocal;

std::size_t entriesIn(const std::string& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class SimHostilePhone : public devicetest::SimAMDeviceTest {
protected:
    // A phone whose file service misbehaves as asked (from its first connection on).
    std::shared_ptr<iPhoneDevice> phoneThat(SimAfcHostility hostility) {
        simulated->setAfcHostility(hostility);
        auto phone = std::make_shared<iPhoneDevice>();
        phone->createWithDeviceEnableAfc2(am, false);
        EXPECT_TRUE(phone->connect(false));
        return phone;
    }
    std::string local(const std::string& name) const { return scratch / name; }
};

// Holds the transfer at its first report, as a page waiting for the main thread does.
struct HeldProgress : iMobileDeviceCopyDelegate {
    void transferBytesOfTotal(std::int64_t, std::int64_t) override {
        if (reports++ > 0) return;
        inside.count_down();
        release.wait();
    }
    int reports = 0;
    testsupport::Latch inside{1};
    testsupport::Latch release{1};
};

TEST_F(SimHostilePhone, TheSummaryNeverWaitsForATransfer) {
    auto phone = phoneThat(SimAfcHostility::None);
    writeLocal(media("song.bin"), std::string(3 << 18, 's'));
    auto held = std::make_shared<HeldProgress>();
    auto copy = std::async(std::launch::async, [&] {
        return phone->downloadFileTo("song.bin", local("song.bin"), held);
    });
    held->inside.wait();
    // The capacities come from elsewhere while the transfer holds the file service.
    auto summary = std::async(std::launch::async, [&] {
        return std::make_pair(phone->capacity(), phone->freeCapacity());
    });
    const bool answered = summary.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    held->release.count_down();
    EXPECT_TRUE(answered) << "the summary waited for the transfer";
    EXPECT_EQ(summary.get(), std::make_pair(std::uint64_t{58} << 30, std::uint64_t{20} << 30));
    EXPECT_TRUE(copy.get());
    // Once the service is free its own figures are read.
    EXPECT_EQ(phone->capacity(), simulated->volume().totalBytes);
}

// A copy from the page runs on the service its node chose, as long as it takes; nothing
// else waits for it meanwhile: not a fresh media connection (a library load), not a switch
// of the current service, not the device's description.
TEST_F(SimHostilePhone, ACopyOnItsServiceHoldsNoOneElseUp) {
    auto phone = phoneThat(SimAfcHostility::None);
    writeLocal(media("song.bin"), std::string(3 << 18, 's'));
    auto held = std::make_shared<HeldProgress>();
    auto copy = std::async(std::launch::async, [&] {
        bool copied = false;
        phone->performOnService("com.apple.afc", false, [&] {
            copied = phone->downloadFileTo("song.bin", local("song.bin"), held);
        });
        return copied;
    });
    held->inside.wait();
    auto others = std::async(std::launch::async, [&] {
        const bool connected = phone->connect(false);
        const bool switched = phone->changeService("com.apple.afc");
        return connected && switched && phone->capacity() > 0 && !phone->name().empty();
    });
    const bool answered = others.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    held->release.count_down();
    EXPECT_TRUE(answered) << "a caller waited for the copy";
    EXPECT_TRUE(copy.get());
    EXPECT_TRUE(others.get());
    EXPECT_EQ(contentsOf(local("song.bin")), std::string(3 << 18, 's'));
}

TEST_F(SimHostilePhone, AWriteFailingPartWayKeepsTheOldFile) {
    fs::create_directories(media("Purchases"));
    writeLocal(media("Purchases/Ringtones.plist"), "the registry as it was");
    writeLocal(local("tone.m4r"), std::string(1 << 19, 't'));
    writeLocal(media("Purchases/tone.m4r"), "old tone");
    auto phone = phoneThat(SimAfcHostility::FailingWrites);
    EXPECT_FALSE(phone->writeDataToPath(Data(5000, 'n'), "Purchases/Ringtones.plist"));
    EXPECT_FALSE(phone->uploadFileFrom("Purchases/tone.m4r", local("tone.m4r"), nullptr));
    EXPECT_EQ(contentsOf(media("Purchases/Ringtones.plist")), "the registry as it was");
    EXPECT_EQ(contentsOf(media("Purchases/tone.m4r")), "old tone");
    EXPECT_EQ(entriesIn(media("Purchases")), 2u);  // nothing partial left beside them

    auto sound = phoneThat(SimAfcHostility::None);
    ASSERT_TRUE(sound->writeDataToPath(Data{'n', 'e', 'w'}, "Purchases/Ringtones.plist"));
    EXPECT_EQ(contentsOf(media("Purchases/Ringtones.plist")), "new");
    EXPECT_EQ(entriesIn(media("Purchases")), 2u);
}

TEST_F(SimHostilePhone, ReadsAreBoundedByTheBytesThatArriveNotTheSizeSaid) {
    writeLocal(media("small.plist"), "tiny");
    auto phone = phoneThat(SimAfcHostility::LiesAboutSizes);
    EXPECT_EQ(phone->getSizeOfItemAtPath("small.plist"), 100u);
    bool tooLarge = false;
    EXPECT_FALSE(phone->contentsOfFileAtPathWithin("small.plist", 1 << 20, &tooLarge));
    EXPECT_TRUE(tooLarge);
    const auto part = phone->readFileAtPathOffsetLength("small.plist", 0, 300000);
    ASSERT_TRUE(part);
    EXPECT_EQ(part->size(), 300000u);

    auto sound = phoneThat(SimAfcHostility::None);
    EXPECT_EQ(sound->contentsOfFileAtPathWithin("small.plist", 4, &tooLarge), (Data{'t', 'i', 'n', 'y'}));
    EXPECT_FALSE(tooLarge);
    EXPECT_FALSE(sound->contentsOfFileAtPathWithin("small.plist", 3, &tooLarge));
    EXPECT_TRUE(tooLarge);
}

TEST_F(SimHostilePhone, DeletingEndlessFoldersAnswersAndTakesNothing) {
    fs::create_directories(media("Doomed/Inner"));
    writeLocal(media("Doomed/Inner/keep.txt"), "kept");
    auto phone = phoneThat(SimAfcHostility::EndlessFolders);
    const auto node = FileSystemNode::fileSystemRootNodeWithMobileDevicePath(phone, "/Doomed");
    ASSERT_TRUE(node->isDirectory());
    EXPECT_FALSE(node->deleteNode());
    EXPECT_EQ(contentsOf(media("Doomed/Inner/keep.txt")), "kept");

    // A tree of ordinary depth goes whole, deepest first.
    auto sound = phoneThat(SimAfcHostility::None);
    const auto again = FileSystemNode::fileSystemRootNodeWithMobileDevicePath(sound, "/Doomed");
    EXPECT_TRUE(again->deleteNode());
    EXPECT_FALSE(fs::exists(media("Doomed")));
}

TEST_F(SimHostilePhone, NamesNearTheLongestAFolderTakesAreCopiedBothWays) {
    auto phone = phoneThat(SimAfcHostility::None);
    for (const std::size_t length : {240u, 245u, 250u}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'a');
        writeLocal(local("source.bin"), "long-named");
        EXPECT_TRUE(phone->uploadFileFrom(name, local("source.bin"), nullptr));
        EXPECT_EQ(contentsOf(media(name)), "long-named");
        EXPECT_TRUE(phone->downloadFileTo(name, local(name), nullptr));
        EXPECT_EQ(contentsOf(local(name)), "long-named");
        EXPECT_TRUE(phone->writeDataToPath(Data{'w'}, name));
        EXPECT_EQ(contentsOf(media(name)), "w");
    }
}

}  // namespace
