#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "SimServiceFixture.h"
#include "device/AFCDirectoryKinds.h"
#include "device/AFCFileReference.h"
#include "simdevice/SimAfcServer.h"

namespace {

using devicetest::fileInfo;
using devicetest::listFolder;
using devicetest::readFile;
using devicetest::writeFile;

class SimFiles : public devicetest::SimServiceTest {};

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST_F(SimFiles, PathOperationsReachTheFolder) {
    afc_client_t afc = startFiles();
    ASSERT_TRUE(afc);
    ASSERT_EQ(afc_make_directory(afc, "/DCIM/100APPLE"), AFC_E_SUCCESS);
    ASSERT_EQ(writeFile(afc, "/DCIM/100APPLE/IMG_0001.JPG", "picture"), AFC_E_SUCCESS);
    EXPECT_EQ(contentsOf(media("DCIM/100APPLE/IMG_0001.JPG")), "picture");

    auto info = fileInfo(afc, "/DCIM/100APPLE/IMG_0001.JPG");
    EXPECT_EQ(info["st_ifmt"], "S_IFREG");
    EXPECT_EQ(info["st_size"], "7");
    EXPECT_EQ(info["st_nlink"], "1");
    EXPECT_FALSE(info["st_mtime"].empty());
    EXPECT_FALSE(info["st_birthtime"].empty());
    EXPECT_EQ(fileInfo(afc, "/DCIM")["st_ifmt"], "S_IFDIR");
    EXPECT_EQ(listFolder(afc, "/DCIM/100APPLE"),
              (std::vector<std::string>{".", "..", "IMG_0001.JPG"}));

    // Links: a symbolic one reports its target, a hard one shares the file.
    ASSERT_EQ(afc_make_link(afc, AFC_SYMLINK, "100APPLE/IMG_0001.JPG", "/DCIM/latest"),
              AFC_E_SUCCESS);
    info = fileInfo(afc, "/DCIM/latest");
    EXPECT_EQ(info["st_ifmt"], "S_IFLNK");
    EXPECT_EQ(info["LinkTarget"], "100APPLE/IMG_0001.JPG");
    std::string bytes;
    EXPECT_EQ(readFile(afc, "/DCIM/latest", &bytes), AFC_E_SUCCESS);
    EXPECT_EQ(bytes, "picture");
    ASSERT_EQ(afc_make_link(afc, AFC_HARDLINK, "/DCIM/100APPLE/IMG_0001.JPG", "/copy.jpg"),
              AFC_E_SUCCESS);
    EXPECT_EQ(fileInfo(afc, "/copy.jpg")["st_nlink"], "2");

    // Times are nanoseconds since 1970.
    ASSERT_EQ(afc_set_file_time(afc, "/copy.jpg", 1'500'000'000'123'000'000ull), AFC_E_SUCCESS);
    EXPECT_EQ(fileInfo(afc, "/copy.jpg")["st_mtime"], "1500000000123000000");

    ASSERT_EQ(afc_rename_path(afc, "/copy.jpg", "/DCIM/renamed.jpg"), AFC_E_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(media("DCIM/renamed.jpg")));
    ASSERT_EQ(afc_truncate(afc, "/DCIM/renamed.jpg", 3), AFC_E_SUCCESS);
    EXPECT_EQ(contentsOf(media("DCIM/renamed.jpg")), "pic");

    // Removal: a full folder stays unless its contents go with it.
    EXPECT_EQ(afc_remove_path(afc, "/DCIM"), AFC_E_DIR_NOT_EMPTY);
    ASSERT_EQ(afc_remove_path(afc, "/DCIM/latest"), AFC_E_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(media("DCIM/100APPLE/IMG_0001.JPG")));
    ASSERT_EQ(afc_remove_path_and_contents(afc, "/DCIM"), AFC_E_SUCCESS);
    EXPECT_EQ(listFolder(afc, "/"), (std::vector<std::string>{".", ".."}));

    // Failures carry the protocol's codes.
    afc_error_t error = AFC_E_SUCCESS;
    fileInfo(afc, "/missing", &error);
    EXPECT_EQ(error, AFC_E_OBJECT_NOT_FOUND);
    EXPECT_EQ(afc_make_directory(afc, "/"), AFC_E_INVALID_ARG);
    ASSERT_EQ(afc_make_directory(afc, "/folder"), AFC_E_SUCCESS);
    EXPECT_EQ(afc_make_directory(afc, "/folder"), AFC_E_SUCCESS);
    ASSERT_EQ(writeFile(afc, "/folder/file", ""), AFC_E_SUCCESS);
    EXPECT_EQ(afc_make_directory(afc, "/folder/file"), AFC_E_OBJECT_EXISTS);
    std::uint64_t handle = 0;
    EXPECT_EQ(afc_file_open(afc, "/folder", AFC_FOPEN_RDONLY, &handle), AFC_E_OBJECT_IS_DIR);

    char** device = nullptr;
    ASSERT_EQ(afc_get_device_info(afc, &device), AFC_E_SUCCESS);
    auto items = devicetest::takeList(device);
    EXPECT_NE(std::find(items.begin(), items.end(), "FSTotalBytes"), items.end());
}

TEST_F(SimFiles, OpenFilesReadWriteSeekAndLock) {
    afc_client_t afc = startFiles();
    ASSERT_TRUE(afc);
    std::string bytes(3 << 20, '\0');
    std::mt19937 random(7);
    for (auto& byte : bytes) byte = static_cast<char>(random());
    ASSERT_EQ(writeFile(afc, "/big.bin", bytes), AFC_E_SUCCESS);
    std::string back;
    ASSERT_EQ(readFile(afc, "/big.bin", &back), AFC_E_SUCCESS);
    EXPECT_TRUE(back == bytes);

    std::uint64_t handle = 0;
    ASSERT_EQ(afc_file_open(afc, "/big.bin", AFC_FOPEN_RW, &handle), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_lock(afc, handle, AFC_LOCK_EX), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_seek(afc, handle, -10, SEEK_END), AFC_E_SUCCESS);
    std::uint64_t position = 0;
    ASSERT_EQ(afc_file_tell(afc, handle, &position), AFC_E_SUCCESS);
    EXPECT_EQ(position, bytes.size() - 10);
    std::uint32_t count = 0;
    ASSERT_EQ(afc_file_write(afc, handle, "tail", 4, &count), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_truncate(afc, handle, bytes.size() - 6), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_lock(afc, handle, AFC_LOCK_UN), AFC_E_SUCCESS);
    ASSERT_EQ(afc_file_close(afc, handle), AFC_E_SUCCESS);
    EXPECT_EQ(afc_file_close(afc, handle), AFC_E_INVALID_ARG);
    ASSERT_EQ(readFile(afc, "/big.bin", &back), AFC_E_SUCCESS);
    EXPECT_EQ(back.size(), bytes.size() - 6);
    EXPECT_EQ(back.substr(back.size() - 4), "tail");

    // Writing from the start replaces the file; appending keeps it.
    ASSERT_EQ(writeFile(afc, "/big.bin", "short"), AFC_E_SUCCESS);
    ASSERT_EQ(writeFile(afc, "/big.bin", "+more", AFC_FOPEN_APPEND), AFC_E_SUCCESS);
    EXPECT_EQ(contentsOf(media("big.bin")), "short+more");
}

// No path, "..", or link a client makes leads outside the folder.
TEST_F(SimFiles, NothingLeadsOutsideTheFolder) {
    afc_client_t afc = startFiles();
    ASSERT_TRUE(afc);
    const std::string outside = scratch / "secret.txt";
    std::ofstream(outside) << "secret";
    ASSERT_EQ(afc_make_link(afc, AFC_SYMLINK, "../..", "/up"), AFC_E_SUCCESS);
    ASSERT_EQ(afc_make_link(afc, AFC_SYMLINK, outside.c_str(), "/absolute"), AFC_E_SUCCESS);
    ASSERT_EQ(afc_make_directory(afc, "/sub"), AFC_E_SUCCESS);

    const char* paths[] = {"../secret.txt", "/../secret.txt",    "sub/../../secret.txt",
                           "up/secret.txt", "/up/../secret.txt", "absolute"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        std::string bytes;
        EXPECT_EQ(readFile(afc, path, &bytes), AFC_E_OBJECT_NOT_FOUND);
        writeFile(afc, path, "overwritten");  // lands inside, or nowhere
        EXPECT_EQ(afc_remove_path(afc, path), AFC_E_SUCCESS);
        EXPECT_NE(afc_make_link(afc, AFC_HARDLINK, path, "/hard"), AFC_E_SUCCESS);
    }
    EXPECT_EQ(afc_rename_path(afc, "/sub", "../moved"), AFC_E_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_directory(media("moved")));
    EXPECT_EQ(listFolder(afc, "up/.."), listFolder(afc, "/"));
    EXPECT_EQ(contentsOf(outside), "secret");
    // The scratch folder holds only what the test made.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"containers", "crash", "media", "secret.txt"}));
}

// Each way the service can break its protocol, as the file service client sees it: the
// client, not the simulator, decides that the answer is broken.
TEST_F(SimFiles, HostileAnswersBreakTheProtocol) {
    std::ofstream(media("file.bin")) << std::string(5000, 'x');
    auto am = amDevice(simulated);
    ASSERT_TRUE(am);
    struct Case {
        simdevice::SimAfcHostility hostility;
        bool readFails;
        std::size_t bytesRead;  // of a whole read, when it does not fail
    };
    const Case cases[] = {
        {simdevice::SimAfcHostility::HugeLength, true, 0},
        {simdevice::SimAfcHostility::Truncated, true, 0},
        {simdevice::SimAfcHostility::ShortReads, false, 5000},
        {simdevice::SimAfcHostility::BadEntryNames, false, 5000},
        {simdevice::SimAfcHostility::FailingWrites, false, 5000},
        {simdevice::SimAfcHostility::EndlessFolders, false, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.hostility));
        simulated->setAfcHostility(c.hostility);
        auto files = am->newAFCMediaDirectory();
        ASSERT_TRUE(files);
        auto file = files->openForRead("/file.bin");
        ASSERT_TRUE(file);
        std::vector<char> chunk(8192);
        std::size_t total = 0;
        bool failed = false;
        for (int reads = 0; reads < 100; ++reads) {
            const std::int64_t got = file->readNBytes(chunk.size(), chunk.data());
            failed = got < 0;
            if (got <= 0) break;
            total += static_cast<std::size_t>(got);
        }
        EXPECT_EQ(failed, c.readFails);
        if (c.readFails) continue;  // the service has hung up
        EXPECT_EQ(total, c.bytesRead);
        const bool badNames = c.hostility == simdevice::SimAfcHostility::BadEntryNames;
        EXPECT_EQ(files->directoryContents("/").has_value(), !badNames);
        const bool endless = c.hostility == simdevice::SimAfcHostility::EndlessFolders;
        EXPECT_EQ(files->recursiveDirectoryContents("/").has_value(), !endless && !badNames);
        auto written = files->openForWrite("/written.bin");
        ASSERT_TRUE(written);
        const bool failing = c.hostility == simdevice::SimAfcHostility::FailingWrites;
        EXPECT_EQ(written->writeNSData(foundation::Data(10, 'w')), !failing);
        written->closeFile();
    }

    // A file said to hold 100 bytes reads on past them.
    simulated->setAfcHostility(simdevice::SimAfcHostility::LiesAboutSizes);
    auto files = am->newAFCMediaDirectory();
    ASSERT_TRUE(files);
    EXPECT_EQ(files->getFileInfo("/file.bin")["st_size"].toInt64(), 100);
    auto file = files->openForRead("/file.bin");
    ASSERT_TRUE(file);
    std::vector<char> chunk(8192);
    EXPECT_EQ(file->readNBytes(chunk.size(), chunk.data()), 8192);
}

}  // namespace
