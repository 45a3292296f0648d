// The file service connection and its open files, through our own file-service code
// against the simulated device.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>

#include "SimServiceFixture.h"
#include "device/AFCDirectoryKinds.h"
#include "device/AFCFileReference.h"
#include "foundation/NotificationCenter.h"

namespace {

namespace fs = std::filesystem;
using foundation::Value;

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class SimFileService : public devicetest::SimAMDeviceTest {
protected:
    void SetUp() override {
        SimAMDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        files = am->newAFCMediaDirectory();
        ASSERT_TRUE(files);
    }
    std::shared_ptr<AFCMediaDirectory> files;
};

TEST_F(SimFileService, ListingsOfAnEmptyFolderAndOfAPlainFile) {
    fs::create_directories(media("Empty"));
    std::ofstream(media("song.mp3")) << "tune";
    const auto empty = files->directoryContents("/Empty");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(files->recursiveDirectoryContents("/song.mp3"), std::vector<std::string>{"/song.mp3"});
    EXPECT_EQ(files->recursiveDirectoryContents("/Empty"), std::vector<std::string>{"/Empty/"});
    EXPECT_FALSE(files->directoryContents("/missing").has_value());
    // A failure leaves its text; a question that then finds its file clears it, and one that
    // finds none sets none.
    EXPECT_FALSE(files->lasterror().empty());
    EXPECT_TRUE(files->fileExistsAtPath("/song.mp3"));
    EXPECT_EQ(files->lasterror(), "");
    EXPECT_FALSE(files->fileExistsAtPath("/missing"));
    EXPECT_EQ(files->lasterror(), "");
}

TEST_F(SimFileService, CopiesAnnounceTheirBeginProgressAndEnd) {
    const std::string source = scratch / "upload.bin";
    std::ofstream(source, std::ios::binary) << std::string(25000, 'u');
    std::vector<std::string> heard;
    auto& centre = foundation::NotificationCenter::defaultCenter();
    std::vector<foundation::NotificationCenter::ObserverId> observers;
    for (const char* name : {"AFCFileCopyBegin", "AFCFileCopyProgress", "AFCFileCopyDone"}) {
        observers.push_back(centre.addObserver(name, files.get(), [&](const foundation::Notification& n) {
            const auto value = [&](const char* key) { return std::any_cast<Value>(n.userInfo.at(key)); };
            std::string line = n.name + " " + value("Source").stringOr() + " " + value("Target").stringOr() +
                               " " + std::to_string(value("Size").toInt64().value_or(-1));
            if (n.userInfo.count("Done")) line += " " + std::to_string(value("Done").toInt64().value_or(-1));
            heard.push_back(line);
        }));
    }
    ASSERT_TRUE(files->copyLocalFileToRemoteFile(source, "/upload.bin"));
    for (auto id : observers) centre.removeObserver(id);
    const std::string what = source + " /upload.bin 25000";
    EXPECT_EQ(heard, (std::vector<std::string>{
                         "AFCFileCopyBegin " + what,
                         "AFCFileCopyProgress " + what + " 0",
                         "AFCFileCopyProgress " + what + " 10240",
                         "AFCFileCopyProgress " + what + " 20480",
                         "AFCFileCopyProgress " + what + " 25000",
                         "AFCFileCopyDone " + what + " 25000",
                     }));
    EXPECT_EQ(contentsOf(media("upload.bin")), std::string(25000, 'u'));
}

TEST_F(SimFileService, ReadWriteFilesTellResizeAndLock) {
    std::ofstream(media("data.bin"), std::ios::binary) << "0123456789abcdefghij";
    auto file = files->openForReadWrite("/data.bin");
    ASSERT_TRUE(file);
    int status = -1;
    EXPECT_TRUE(file->lock(&status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(file->seekMode(-10, 2));
    std::uint64_t position = 0;
    ASSERT_TRUE(file->tell(&position));
    EXPECT_EQ(position, 10u);
    char read[4] = {};
    EXPECT_EQ(file->readNBytes(4, read), 4);
    EXPECT_EQ(std::string(read, 4), "abcd");
    ASSERT_TRUE(file->tell(&position));
    EXPECT_EQ(position, 14u);
    EXPECT_TRUE(file->writeNBytes(4, "TAIL"));
    EXPECT_TRUE(file->setFileSize(16));
    EXPECT_TRUE(file->unlock(&status));
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(file->closeFile());
    // The content was kept where not written: read and write share the one file.
    EXPECT_EQ(contentsOf(media("data.bin")), "0123456789abcdTA");

    EXPECT_FALSE(file->tell(&position));
    EXPECT_EQ(file->lasterror(), "File is not open");
    EXPECT_FALSE(file->lock(&status));
    EXPECT_EQ(status, -900);
    EXPECT_FALSE(file->setFileSize(0));
    EXPECT_FALSE(files->openForReadWrite("/Missing/data.bin"));
}

}  // namespace

namespace {

// Missing arguments and computer files that cannot be opened fail before the device is
// asked, each with its own words.
TEST_F(SimFileService, MissingPathsAndUnopenableFilesSayWhich) {
    const struct {
        const char* name;
        std::function<bool()> call;
        const char* error;
    } cases[] = {
        {"info", [&] { return !files->getFileInfo("").isNil(); }, "Input path is nil"},
        {"exists", [&] { return files->fileExistsAtPath(""); }, "Input path is nil"},
        {"list", [&] { return files->directoryContents("").has_value(); }, "Input path is nil"},
        {"walk", [&] { return files->recursiveDirectoryContents("").has_value(); },
         "Input path is nil"},
        {"mkdir", [&] { return files->mkdir(""); }, "Input path is nil"},
        {"unlink", [&] { return files->unlink(""); }, "Input path is nil"},
        {"rename from", [&] { return files->renameTo("", "/b"); }, "Old path is nil"},
        {"rename to", [&] { return files->renameTo("/a", ""); }, "New path is nil"},
        {"link path", [&] { return files->linkTo("", "/b"); }, "Path is nil"},
        {"link target", [&] { return files->linkTo("/a", ""); }, "Target is nil"},
        {"symlink target", [&] { return files->symlinkTo("/a", ""); }, "Target is nil"},
        {"upload of nothing",
         [&] { return files->copyLocalFileToRemoteFile(scratch / "missing.bin", "/up.bin"); },
         "Can't open input file"},
        {"download into nowhere",
         [&] {
             return files->copyRemoteFileToLocalFile("/song.mp3",
                                                     scratch / "no/such/folder/song.mp3");
         },
         "Can't open output file"},
    };
    std::ofstream(media("song.mp3")) << "tune";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        files->setLasterror("");
        EXPECT_FALSE(c.call());
        EXPECT_EQ(files->lasterror(), c.error);
    }
    EXPECT_FALSE(fs::exists(media("up.bin")));
}

}  // namespace
