#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "SimServiceFixture.h"

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

// libimobiledevice's client takes a truncated or oversized answer for a short one, so the
// broken packets are checked on the wire.
TEST_F(SimFiles, HostileAnswersBreakTheProtocol) {
    std::ofstream(media("file.bin")) << std::string(5000, 'x');
    struct Case {
        simdevice::SimAfcHostility hostility;
        std::uint64_t claimedPayload;  // 0: the answer is whole
        std::size_t payloadSent;
    };
    const Case cases[] = {
        {simdevice::SimAfcHostility::HugeLength, 0xfffffff0u, 2500},
        {simdevice::SimAfcHostility::Truncated, 5064, 2500},
        {simdevice::SimAfcHostility::ShortReads, 0, 1000},
        {simdevice::SimAfcHostility::BadEntryNames, 0, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.hostility));
        simulated->setAfcHostility(c.hostility);
        idevice_connection_t connection = nullptr;
        ASSERT_EQ(idevice_connect(device, startService("com.apple.afc")->port, &connection),
                  IDEVICE_E_SUCCESS);
        auto send = [&](std::uint64_t number, std::uint64_t operation,
                        std::vector<std::uint8_t> data) {
            auto packet =
                simdevice::afcHeader(40 + data.size(), 40 + data.size(), number, operation);
            packet.insert(packet.end(), data.begin(), data.end());
            std::uint32_t sent = 0;
            idevice_connection_send(connection, reinterpret_cast<const char*>(packet.data()),
                                    static_cast<std::uint32_t>(packet.size()), &sent);
        };
        std::vector<std::uint8_t> open;
        simdevice::appendLittle64(open, 1);  // read-only
        for (char ch : std::string("/file.bin")) open.push_back(static_cast<std::uint8_t>(ch));
        open.push_back(0);
        send(1, simdevice::afc::kFileOpen, open);
        std::vector<std::uint8_t> read;
        simdevice::appendLittle64(read, 1);  // the first handle
        simdevice::appendLittle64(read, 8192);
        send(2, simdevice::afc::kFileRead, read);
        // Everything up to the service's hang-up or the read's answer.
        std::vector<char> bytes(1 << 16);
        std::size_t have = 0;
        std::uint32_t count = 0;
        while (idevice_connection_receive_timeout(connection, bytes.data() + have,
                                                  static_cast<std::uint32_t>(bytes.size() - have),
                                                  &count, 2000) == IDEVICE_E_SUCCESS &&
               count > 0) {
            have += count;
            if (c.claimedPayload == 0 && have >= 48 + 40 + c.payloadSent) break;
        }
        idevice_disconnect(connection);
        ASSERT_GE(have, 48u + 40u);
        std::uint64_t claimed = 0;
        std::memcpy(&claimed, bytes.data() + 48 + 8, 8);
        EXPECT_EQ(claimed - 40, c.claimedPayload ? c.claimedPayload : c.payloadSent);
        EXPECT_EQ(have - 48 - 40, c.payloadSent);
    }
    afc_client_t afc = startFiles();
    ASSERT_TRUE(afc);
    auto names = listFolder(afc, "/");
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "file.bin", "../outside.txt",
                                               "nested/name.txt", "/absolute.txt"}));
}

}  // namespace
