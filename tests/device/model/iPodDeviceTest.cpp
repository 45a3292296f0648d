#include <gtest/gtest.h>
#include <gpod/itdb.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "data/db/SqlDatabase.h"
#include "device/DeviceCopyDelegate.h"
#include "device/iPodDevice.h"
#include "foundation/PropertyList.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "media/GpodFixtures.h"
#include "media/iTunesDBWriter.h"

namespace fs = std::filesystem;
using foundation::Value;

namespace {

void writeFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files written may grow no larger than `bytes` while it lives; a longer write fails
// (EFBIG) instead of ending the process.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old);
        previous = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = old;
        lower.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, previous);
    }
    rlimit old{};
    sighandler_t previous{};
};

// A volume folder "IPOD" with its control folder, a sibling "IPOD2" and preferences in a
// config folder of the test's own.
class iPodDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        environment.set("XDG_CONFIG_HOME", scratch / "config");
        fs::create_directories(volume() + "/iPod_Control/iTunes");
        writeFile(scratch / "IPOD2/secret.txt", "outside");
        writeFile(scratch / "outside.txt", "outside");
    }
    std::string volume() const { return scratch / "IPOD"; }
    std::string library() const { return volume() + "/iPod_Control/iTunes/iTunes Library.itlp/Library.itdb"; }
    // The volume's Library.itdb made with `statements`, left open; null when that failed.
    std::shared_ptr<SqlDatabase> libraryWith(const std::string& statements) {
        fs::create_directories(fs::path(library()).parent_path());
        auto db = SqlDatabase::databaseWithPath(library());
        if (!db->open() || !db->executeStatements(statements)) return nullptr;
        return db;
    }
    std::shared_ptr<iPodDevice> device(std::optional<std::string> serial = "000A27001B2C3D4E") {
        return std::make_shared<iPodDevice>(volume(), [serial](const std::string&) { return serial; });
    }
    foundationtest::ScratchFolder scratch;
    foundationtest::ScopedEnvironment environment;
};

TEST_F(iPodDeviceTest, PathsStayInsideTheVolume) {
    auto pod = device();
    writeFile(volume() + "/Notes/a.txt", "inside");
    fs::create_symlink(scratch / "outside.txt", volume() + "/Notes/out-link");
    fs::create_symlink(scratch.path(), volume() + "/escape");
    fs::create_symlink("a.txt", volume() + "/Notes/in-link");
    struct Case {
        std::string path;
        std::optional<std::string> content;  // nullopt: refused
    };
    const Case cases[] = {
        {"/Notes/a.txt", "inside"},
        {"Notes/a.txt", "inside"},
        {volume() + "/Notes/a.txt", "inside"},         // already under the mount path
        {"/Notes/../Notes/./a.txt", "inside"},          // a climb that stays inside
        {"/Notes/in-link", "inside"},
        {"/../IPOD2/secret.txt", std::nullopt},         // above the top
        {"../../outside.txt", std::nullopt},
        {scratch / "IPOD2/secret.txt", std::nullopt},   // a sibling with the mount path as prefix
        {"/Notes/out-link", std::nullopt},              // a link out
        {"/escape/outside.txt", std::nullopt},
        {std::string("/Notes/a.txt\0", 13), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto data = pod->contentsOfFileAtPath(c.path);
        if (c.content) {
            ASSERT_TRUE(data) << c.path;
            EXPECT_EQ(std::string(data->begin(), data->end()), *c.content) << c.path;
        } else {
            EXPECT_FALSE(data) << c.path;
        }
    }
    // Writing, deleting and listing are held to the volume the same way; a link out is taken
    // away as a link.
    EXPECT_FALSE(pod->writeDataToPath({'x'}, "/../IPOD2/secret.txt"));
    EXPECT_FALSE(pod->deleteItemAtPath("/escape/outside.txt"));
    EXPECT_FALSE(pod->deleteItemAtPath("/"));
    EXPECT_TRUE(pod->contentsOfDirectoryPathType("/escape", kPathTypeFoldersThenFiles).empty());
    EXPECT_TRUE(pod->isLinkAtPath("/Notes/out-link"));
    EXPECT_TRUE(pod->deleteItemAtPath("/Notes/out-link"));
    EXPECT_EQ(readFile(scratch / "outside.txt"), "outside");
    EXPECT_EQ(readFile(scratch / "IPOD2/secret.txt"), "outside");
    EXPECT_EQ(pod->fullPath("/Notes"), volume() + "/Notes");
    EXPECT_EQ(pod->fullPath("/../x"), "");
}

TEST_F(iPodDeviceTest, WritesThroughLinksStayInsideTheVolume) {
    auto pod = device();
    writeFile(volume() + "/Notes/a.txt", "inside");
    fs::create_symlink("a.txt", volume() + "/Notes/in-link");
    // Links whose targets do not exist yet, to a file and to a folder outside.
    fs::create_symlink(scratch / "made-outside.txt", volume() + "/Notes/dangling");
    fs::create_symlink(scratch / "folder-outside", volume() + "/later");
    EXPECT_FALSE(pod->appendDataToPath({'x'}, "/Notes/dangling"));
    EXPECT_FALSE(pod->writeDataToPath({'x'}, "/Notes/dangling"));
    EXPECT_FALSE(pod->uploadFileFrom("/Notes/dangling", scratch / "outside.txt", nullptr));
    EXPECT_FALSE(pod->createDirectory("/later/inner"));
    EXPECT_FALSE(pod->appendDataToPath({'x'}, "/later/file.txt"));
    EXPECT_FALSE(fs::exists(scratch / "made-outside.txt"));
    EXPECT_FALSE(fs::exists(scratch / "folder-outside"));
    EXPECT_TRUE(pod->isLinkAtPath("/Notes/dangling"));  // the link itself is still there
    // A link's own size says nothing of what reading through it brings.
    fs::resize_file(volume() + "/Notes/a.txt", 2 << 20);
    EXPECT_LT(pod->getSizeOfItemAtPath("/Notes/in-link"), 100u);
    bool tooLarge = false;
    EXPECT_FALSE(pod->contentsOfFileAtPathWithin("/Notes/in-link", 1 << 20, &tooLarge));
    EXPECT_TRUE(tooLarge);
    fs::resize_file(volume() + "/Notes/a.txt", 6);
    // A link inside the volume is written through.
    EXPECT_TRUE(pod->appendDataToPath({'!'}, "/Notes/in-link"));
    EXPECT_EQ(readFile(volume() + "/Notes/a.txt"), "inside!");
}

TEST_F(iPodDeviceTest, HostileLibraryFilesStillGiveAName) {
    // Each kind would hang a reader that trusted it; the name is read on a thread here so
    // that a hang fails the test instead of stopping it.
    const auto nameInTime = [&]() -> std::optional<std::string> {
        auto named = std::make_shared<std::promise<std::string>>();
        auto name = named->get_future();
        std::thread([pod = device(), named] { named->set_value(pod->name()); }).detach();
        if (name.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return std::nullopt;
        return name.get();
    };
    const std::string itunes = volume() + "/iPod_Control/iTunes";
    ASSERT_EQ(::mkfifo((itunes + "/iTunesDB").c_str(), 0600), 0);
    EXPECT_EQ(nameInTime(), "Unknown iPod");

    fs::create_directories(fs::path(library()).parent_path());
    ASSERT_EQ(::mkfifo(library().c_str(), 0600), 0);
    EXPECT_EQ(nameInTime(), "iPod");
    fs::remove(library());

    // A view in place of the table that never yields a row.
    auto db = libraryWith(
        "CREATE VIEW db_info AS WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) "
        "SELECT x AS pid, x AS primary_container_pid FROM n WHERE x < 0;"
        "CREATE TABLE container (pid INTEGER, name TEXT);");
    ASSERT_TRUE(db);
    db->close();
    EXPECT_EQ(nameInTime(), "iPod");

    // A sound library beside a journal and a log that are named pipes.
    fs::remove(library());
    db = libraryWith(
        "CREATE TABLE db_info (pid INTEGER, primary_container_pid INTEGER);"
        "CREATE TABLE container (pid INTEGER, name TEXT);"
        "INSERT INTO container VALUES (7, 'Piped iPod'); INSERT INTO db_info VALUES (1, 7);");
    ASSERT_TRUE(db);
    db->close();
    for (const char* beside : {"-journal", "-wal"}) ASSERT_EQ(::mkfifo((library() + beside).c_str(), 0600), 0);
    EXPECT_EQ(nameInTime(), "Piped iPod");
}

TEST_F(iPodDeviceTest, FileOperations) {
    auto pod = device();
    EXPECT_TRUE(pod->createDirectory("/A/B"));
    EXPECT_TRUE(pod->createDirectory("/A/B"));  // already there
    EXPECT_TRUE(pod->appendDataToPath({'h', 'i'}, "/A/new.txt"));  // created with the data
    EXPECT_TRUE(pod->appendDataToPath({'!'}, "/A/new.txt"));
    EXPECT_EQ(readFile(volume() + "/A/new.txt"), "hi!");
    EXPECT_TRUE(pod->writeDataToPath({'o', 'k'}, "/A/new.txt"));
    EXPECT_EQ(readFile(volume() + "/A/new.txt"), "ok");
    EXPECT_EQ(pod->getSizeOfItemAtPath("/A/new.txt"), 2u);
    const auto part = pod->readFileAtPathOffsetLength("/A/new.txt", 1, 100);
    ASSERT_TRUE(part);
    EXPECT_EQ(*part, foundation::Data({'k'}));
    EXPECT_EQ(pod->readFileAtPathOffsetLength("/A/new.txt", 9, 1), foundation::Data{});

    fs::create_symlink("new.txt", volume() + "/A/link");
    const auto listing = pod->contentsOfDirectoryPathType("/A", kPathTypeFoldersThenFiles);
    ASSERT_EQ(listing.size(), 2u);  // the link is left out
    EXPECT_EQ(listing[0], iMobileFileSystemNode("B", volume() + "/A", true));
    EXPECT_EQ(listing[1], iMobileFileSystemNode("new.txt", volume() + "/A", false));
    EXPECT_EQ(pod->contentsOfDirectoryPathType("/A", kPathTypeFiles).size(), 1u);
    EXPECT_TRUE(pod->contentsOfDirectoryPathType("/A", 300).empty());

    // A rename never replaces what is at the new name.
    EXPECT_TRUE(pod->writeDataToPath({'k', 'e', 'e', 'p'}, "/A/kept.txt"));
    EXPECT_FALSE(pod->renameItemAtPathTo("/A/new.txt", "kept.txt"));
    EXPECT_EQ(readFile(volume() + "/A/kept.txt"), "keep");
    EXPECT_EQ(readFile(volume() + "/A/new.txt"), "ok");
    EXPECT_TRUE(pod->deleteItemAtPath("/A/kept.txt"));
    EXPECT_TRUE(pod->renameItemAtPathTo("/A/new.txt", "renamed.txt"));
    bool isDirectory = true;
    EXPECT_TRUE(pod->itemExistsAtPathIsDirectory("/A/renamed.txt", &isDirectory));
    EXPECT_FALSE(isDirectory);
    EXPECT_TRUE(pod->deleteItemAtPath("/A"));
    EXPECT_FALSE(pod->itemExistsAtPathIsDirectory("/A", &isDirectory));
}

TEST_F(iPodDeviceTest, CopiesReportProgressAndKeepTheOldFileOnFailure) {
    auto pod = device();
    struct Recorder : iMobileDeviceCopyDelegate {
        std::vector<std::pair<std::int64_t, std::int64_t>> reports;
        void transferBytesOfTotal(std::int64_t bytes, std::int64_t total) override {
            reports.emplace_back(bytes, total);
        }
    };
    writeFile(scratch / "empty.bin", "");
    auto recorder = std::make_shared<Recorder>();
    EXPECT_TRUE(pod->uploadFileFrom("/empty.bin", scratch / "empty.bin", recorder));
    ASSERT_FALSE(recorder->reports.empty());
    EXPECT_EQ(recorder->reports.back(), std::make_pair(std::int64_t{0}, std::int64_t{0}));

    const std::string big(3 << 20, 'z');
    writeFile(scratch / "big.bin", big);
    recorder->reports.clear();
    EXPECT_TRUE(pod->uploadFileFrom("/big.bin", scratch / "big.bin", recorder));
    EXPECT_EQ(recorder->reports.back(), std::make_pair(std::int64_t(big.size()), std::int64_t(big.size())));
    EXPECT_TRUE(pod->downloadFileTo("/big.bin", scratch / "back.bin", recorder));
    EXPECT_EQ(readFile(scratch / "back.bin"), big);

    writeFile(scratch / "keep.txt", "old");
    EXPECT_FALSE(pod->downloadFileTo("/missing.bin", scratch / "keep.txt", recorder));
    EXPECT_EQ(readFile(scratch / "keep.txt"), "old");
    // A copy that fails part-way, when the files written may grow no further, keeps the
    // old file and leaves nothing beside it.
    writeFile(volume() + "/keep.bin", "old");
    {
        const FileSizeLimit limit(1 << 20);
        EXPECT_FALSE(pod->uploadFileFrom("/keep.bin", scratch / "big.bin", recorder));
        EXPECT_FALSE(pod->downloadFileTo("/big.bin", scratch / "keep.txt", recorder));
    }
    EXPECT_EQ(readFile(volume() + "/keep.bin"), "old");
    EXPECT_EQ(readFile(scratch / "keep.txt"), "old");
    for (const auto& entry : fs::directory_iterator(volume()))
        EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos);
    EXPECT_FALSE(pod->uploadFileFrom("/../escaped.bin", scratch / "big.bin", recorder));
    EXPECT_FALSE(fs::exists(scratch / "escaped.bin"));
}

// A stop is seen between pieces, as on a phone: the copy ends, and its target is not left
// behind (an old file there stays as it was).
TEST_F(iPodDeviceTest, CopiesStopBetweenPiecesAndLeaveNoPartialFile) {
    auto pod = device();
    struct Stopper : iMobileDeviceCopyDelegate {
        int asked = 0;
        bool shouldContinue() override { return ++asked < 2; }
    };
    writeFile(scratch / "big.bin", std::string(3 << 20, 'z'));
    writeFile(volume() + "/old.bin", "old");
    writeFile(scratch / "old.txt", "old");
    const auto noPartials = [](const std::string& folder) {
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().filename().string().find(".partial-") != std::string::npos) return false;
        return true;
    };
    for (const bool upload : {true, false}) {
        for (const bool replacing : {false, true}) {
            SCOPED_TRACE(std::string(upload ? "upload" : "download") + (replacing ? " over a file" : ""));
            auto stopper = std::make_shared<Stopper>();
            const std::string onPod = replacing ? "/old.bin" : "/new.bin";
            const std::string onComputer = scratch / (replacing ? "old.txt" : "new.txt");
            if (!upload) writeFile(volume() + "/source.bin", std::string(3 << 20, 'y'));
            EXPECT_FALSE(upload ? pod->uploadFileFrom(onPod, scratch / "big.bin", stopper)
                                : pod->downloadFileTo("/source.bin", onComputer, stopper));
            EXPECT_EQ(stopper->asked, 2);
            const std::string target = upload ? volume() + onPod : onComputer;
            if (replacing) {
                EXPECT_EQ(readFile(target), "old");
            } else {
                EXPECT_FALSE(fs::exists(target));
            }
            EXPECT_TRUE(noPartials(volume()));
            EXPECT_TRUE(noPartials(scratch.path()));
        }
    }
}

TEST_F(iPodDeviceTest, IdentityFromThePreferencesAndTheSummaryValues) {
    const Value preferences = Value::dict({{"Devices", Value::dict({{"000A27001B2C3D4E", Value::dict({
        {"Serial Number", "8K1234ABCD"},
        {"Firmware Version String", "1.1.2"},
        {"Family ID", 11},
    })}})}});
    writeFile(scratch / "config/com.apple.iPod.plist", *foundation::plist::writeXml(preferences));
    auto pod = device();
    EXPECT_EQ(pod->uuid(), "000A27001B2C3D4E");
    EXPECT_EQ(pod->serialNumber(), "8K1234ABCD");
    EXPECT_EQ(pod->osVersion(), "1.1.2");
    EXPECT_EQ(pod->PodType(), 2);
    EXPECT_EQ(pod->phoneNumber(), std::nullopt);
    const Value identity = pod->deviceValueForKeyInDomain("anything", "");
    EXPECT_EQ(identity["firmwire"], Value("1.1.2"));
    EXPECT_EQ(identity["deviceType"], Value(512));
    EXPECT_EQ(identity["familyID"], Value(std::int64_t{11}));

    // No USB serial: no preferences, empty strings in the identity, and an identifier of
    // the volume's own, so that two such players are told apart: the file system's UUID
    // where it has one, else the mount path.
    auto anonymous = device(std::nullopt);
    EXPECT_EQ(anonymous->uuid(), volume());
    const auto noSerial = [](const std::string&) { return std::optional<std::string>(); };
    auto other = std::make_shared<iPodDevice>(scratch / "IPOD2", noSerial);
    EXPECT_EQ(other->uuid(), scratch / "IPOD2");
    auto withUuid = std::make_shared<iPodDevice>(
        volume(), noSerial, [](const std::string&) { return std::optional<std::string>("6A1F-09C2"); });
    EXPECT_EQ(withUuid->uuid(), "volume-6A1F-09C2");
    EXPECT_EQ(withUuid->serialNumber(), std::nullopt);
    EXPECT_EQ(anonymous->deviceValueForKeyInDomain("", "")["serial"], Value(""));
    EXPECT_EQ(anonymous->deviceValueForKeyInDomain("", "")["osversion"], Value(""));
}

TEST_F(iPodDeviceTest, PodTypeByFamily) {
    const std::pair<int, int> cases[] = {{0, 1},   {6, 1},   {7, 3},   {11, 2},  {12, 3},
                                         {20, 3},  {21, 0},  {100, 0}, {101, 4}, {150, 4},
                                         {199, 4}, {200, 0}, {1000, 0}};
    for (const auto& [family, type] : cases) {
        const Value preferences = Value::dict({{"Devices", Value::dict({{"000A27001B2C3D4E",
            Value::dict({{"Family ID", family}})}})}});
        writeFile(scratch / "config/com.apple.iPod.plist", *foundation::plist::writeXml(preferences));
        EXPECT_EQ(device()->PodType(), type) << "family " << family;
    }
}

// A title's text is taken whole or not at all: a short or undecodable one leaves the
// cursor where it was, so the walk can step over the record by its length.
TEST(iPodDeviceName, TitleTextsAreTakenWholeOrNotAtAll) {
    const std::uint8_t bytes[] = {'P', 0, 'o', 0, 'd', 0, 0x00, 0xD8, 'x', 0};
    media::ByteCursor cursor{std::span<const std::uint8_t>(bytes)};
    EXPECT_EQ(iPodDevice::readMHODStringLength(cursor, 6), "Pod");
    EXPECT_EQ(cursor.position(), 6u);
    EXPECT_EQ(iPodDevice::readMHODStringLength(cursor, 4), std::nullopt);  // lone surrogate
    EXPECT_EQ(iPodDevice::readMHODStringLength(cursor, 40), std::nullopt);  // past the end
    EXPECT_EQ(cursor.position(), 6u);
    media::ByteCursor empty;
    EXPECT_EQ(iPodDevice::readMHLP(empty), std::nullopt);
}

TEST_F(iPodDeviceTest, NameFromTheLibraryDatabases) {
    // The binary database libgpod writes names the iPod after its master playlist.
    auto itdb = mediatest::makeGpodDatabase(3);
    ASSERT_TRUE(mediatest::writeGpodDatabase(itdb.get(), volume() + "/iPod_Control/iTunes/iTunesDB"));
    EXPECT_EQ(device()->name(), "Gpod iPod");

    const auto bytes = mediatest::writeITunesDB({.playlists = {{.name = u"Not master"}}});
    writeFile(volume() + "/iPod_Control/iTunes/iTunesDB", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(device()->name(), "Unknown iPod");

    // Library.itdb, when there, names it from its main container; without a db_info row "iPod".
    auto db = libraryWith(
        "CREATE TABLE db_info (pid INTEGER, primary_container_pid INTEGER);"
        "CREATE TABLE container (pid INTEGER, name TEXT);"
        "INSERT INTO container VALUES (77, 'Library iPod');");
    ASSERT_TRUE(db);
    EXPECT_EQ(device()->name(), "iPod");
    ASSERT_TRUE(db->executeStatements("INSERT INTO db_info VALUES (1, 77);"));
    db->close();
    EXPECT_EQ(device()->name(), "Library iPod");
}

}  // namespace
