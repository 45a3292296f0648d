#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/iMobileMediaDevice.h"
#include "fakedevice/FakeMobileDevice.h"
#include "foundation/DispatchGroup.h"
#include "foundation/QuitGate.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/MediaLoadFolder.h"

namespace {

namespace fs = std::filesystem;

// Load folders in a temporary directory of the test's own, copying from a fake phone.
class MediaLoadFolderTest : public testing::Test {
protected:
    MediaLoadFolderTest() {
        environment.set("TMPDIR", temporary.path());
        fs::create_directories(phoneRoot.path() + "/iTunes_Control/iTunes");
        foundationtest::writeText(phoneRoot / "iTunes_Control/iTunes/MediaLibrary.sqlitedb",
                                  std::string(4 * kChunk, 'm'));
        phone->setChunkSize(kChunk);
    }
    // Every name under the temporary directory, folders' contents as "folder/name".
    std::vector<std::string> namesInTemporary() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(temporary.path()))
            names.push_back(fs::relative(entry.path(), temporary.path()).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static constexpr std::size_t kChunk = 4096;
    foundationtest::ScratchFolder temporary;
    foundationtest::ScratchFolder phoneRoot;
    foundationtest::ScopedEnvironment environment;
    std::shared_ptr<testsupport::FakeMobileDevice> phone =
        std::make_shared<testsupport::FakeMobileDevice>(phoneRoot.path());
    iMobileMediaDevice device{phone};
    foundation::QuitGate gate;
};

// A quit during a copy takes its partial file away at once and stops it and every later
// copy; the quit is told the load has ended only once its folder is gone.
TEST_F(MediaLoadFolderTest, AQuitDuringACopyStopsItAndWaitsForTheFolderToGo) {
    auto transfers = std::make_shared<testsupport::TransferGate>();
    phone->setTransferGate(transfers);
    auto folder = std::make_unique<media::MediaLoadFolder>(gate);
    const std::string path = folder->path();
    ASSERT_FALSE(path.empty());
    std::string copy;
    std::thread load([&] {
        copy = folder->localTempFilePathTo(device, "iTunes_Control/iTunes/MediaLibrary.sqlitedb",
                                           "iTunesDB.sqlite");
    });
    transfers->waitForPause();
    const auto during = namesInTemporary();
    ASSERT_EQ(during.size(), 2u);  // the folder and the growing copy
    EXPECT_TRUE(fs::path(during[1]).filename().string().starts_with(".partial-")) << during[1];

    auto finishing = std::make_shared<foundation::DispatchGroup>();
    gate.close(finishing);
    EXPECT_EQ(namesInTemporary(), std::vector<std::string>{fs::path(path).filename().string()});
    transfers->open();
    load.join();
    EXPECT_EQ(copy, path + "/iTunesDB.sqlite");
    EXPECT_FALSE(fs::exists(copy));
    // Later copies are not even begun.
    EXPECT_FALSE(fs::exists(folder->localTempFilePath(device, "iTunes_Control/iTunes/MediaLibrary.sqlitedb")));
    EXPECT_EQ(namesInTemporary().size(), 1u);

    EXPECT_FALSE(finishing->finished());
    folder.reset();
    EXPECT_TRUE(finishing->finished());
    EXPECT_TRUE(namesInTemporary().empty());
}

// Once the quit has begun, a load makes no folder and copies nothing.
TEST_F(MediaLoadFolderTest, AfterTheQuitBeganNoFolderIsMade) {
    gate.close(nullptr);
    media::MediaLoadFolder folder(gate);
    EXPECT_TRUE(folder.path().empty());
    EXPECT_EQ(folder.localTempFilePath(device, "iTunes_Control/iTunes/MediaLibrary.sqlitedb"), "");
    EXPECT_TRUE(namesInTemporary().empty());
}

// At start the folders that ended instances left go; a running load's folder stays, and
// so does everything that is not a load folder of this user's.
TEST_F(MediaLoadFolderTest, StaleFoldersGoAndRunningLoadsKeepTheirs) {
    const std::string stale = temporary / "orvandel-media-Stale1";
    fs::create_directories(stale);
    foundationtest::writeText(stale + "/iTunesDB.sqlite", "left behind");
    foundationtest::writeText(stale + "/.partial-0123456789abcdef", "cut off");
    media::MediaLoadFolder running(gate);
    ASSERT_FALSE(running.path().empty());
    ASSERT_TRUE(fs::exists(running.localTempFilePathTo(
        device, "iTunes_Control/iTunes/MediaLibrary.sqlitedb", "iTunesDB.sqlite")));
    fs::create_directories(temporary / "elsewhere");
    foundationtest::writeText(temporary / "elsewhere/keep", "mine");
    fs::create_directory_symlink(temporary / "elsewhere", temporary / "orvandel-media-Link01");
    foundationtest::writeText(temporary / "orvandel-media-File01", "a file");
    fs::create_directories(temporary / "unrelated");

    media::MediaLoadFolder::removeStaleFolders();
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(running.path() + "/iTunesDB.sqlite"));
    EXPECT_TRUE(fs::exists(temporary / "elsewhere/keep"));
    EXPECT_TRUE(fs::is_symlink(temporary / "orvandel-media-Link01"));
    EXPECT_TRUE(fs::exists(temporary / "orvandel-media-File01"));
    EXPECT_TRUE(fs::exists(temporary / "unrelated"));
}

}  // namespace
