#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "data/ZipHelper/ZipHelper.h"
#include "data/support/ByteHelpers.h"
#include "foundation/AtomicFile.h"
#include "foundation/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;
using datatest::bytes;
using foundation::Data;

class RecordingDelegate : public ZipHelperDelegate {
public:
    void ErrorMessage(const std::string& message) override { messages.push_back(message); }
    bool OverWriteOperation(const std::string& path) override {
        asked.push_back(path);
        return allowOverwrite;
    }
    std::vector<std::string> messages;
    std::vector<std::string> asked;
    bool allowOverwrite = false;
};

class ZipArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root_ / "source");
        fs::create_directories(root_ / "out");
        delegate_ = std::make_shared<RecordingDelegate>();
        helper_.setDelegate(delegate_);
    }

    std::string source(const std::string& name, const Data& contents, std::time_t mtime = 0) {
        const auto path = (root_ / "source" / name).string();
        EXPECT_TRUE(foundation::writeFileAtomically(path, contents));
        if (mtime) {
            const timespec times[2] = {{mtime, 0}, {mtime, 0}};
            utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        return path;
    }

    // An archive of the given entry names, each holding its own name as text, written
    // straight through minizip so that any name (folders, "..", absolute) can be made.
    std::string rawArchive(const std::vector<std::string>& names) {
        const auto path = (root_ / "raw.zip").string();
        zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
        for (const auto& name : names) {
            zip_fileinfo info{};
            zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                  Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0);
            zipWriteInFileInZip(zip, name.data(), static_cast<unsigned>(name.size()));
            zipCloseFileInZip(zip);
        }
        zipClose(zip, nullptr);
        return path;
    }

    std::optional<Data> read(const fs::path& path) { return foundation::readFile(path.string()); }

    foundationtest::ScratchFolder scratch_;
    fs::path root_ = scratch_.path();
    ZipHelper helper_;
    std::shared_ptr<RecordingDelegate> delegate_;
};

TEST_F(ZipArchiveTest, WrittenArchivesExtractWithContentsAndDates) {
    const Data big = datatest::sampleText(300000);
    const std::time_t evenSecond = 1600000000;  // entries keep times to two seconds
    const auto archive = (root_ / "written.zip").string();
    ASSERT_TRUE(helper_.CreateZipFile2(archive));
    EXPECT_TRUE(helper_.addFileToZipNewname(source("a.txt", bytes("alpha"), evenSecond), "a.txt"));
    EXPECT_TRUE(helper_.addFileToZipNewname(source("big", big), "sub\\deeper/big.bin"));
    EXPECT_FALSE(helper_.addFileToZipNewname((root_ / "missing").string(), "missing"));
    EXPECT_TRUE(helper_.CloseZipFile2());

    // A password is only handed to enciphered entries; these are not.
    ASSERT_TRUE(helper_.UnzipOpenFile(archive, "unused"));
    EXPECT_EQ(helper_.UnzipFileByName("sub/deeper/big.bin"), big);
    EXPECT_EQ(helper_.UnzipFileByName("nothing"), std::nullopt);
    const fs::path out = root_ / "out";
    EXPECT_TRUE(helper_.UnzipFileToOverWrite(out.string(), false));
    EXPECT_TRUE(helper_.UnzipCloseFile());
    EXPECT_EQ(read(out / "a.txt"), bytes("alpha"));
    EXPECT_EQ(read(out / "sub" / "deeper" / "big.bin"), big);
    struct stat status {};
    ASSERT_EQ(stat((out / "a.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, evenSecond);
    EXPECT_TRUE(delegate_->messages.empty());

    // An archive without entries is still an archive.
    const auto empty = (root_ / "empty.zip").string();
    ASSERT_TRUE(helper_.CreateZipFile2(empty));
    EXPECT_TRUE(helper_.CloseZipFile2());
    EXPECT_TRUE(helper_.UnzipOpenFile(empty));
}

// The output of a shell command, or nullopt when it fails.
std::optional<std::string> commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char buffer[4096];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    return pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

bool haveZipTools() {
    return commandOutput("command -v zip && command -v unzip").has_value();
}

// Entries written with a password are enciphered, and read back by us and by Info-ZIP's
// unzip; what Info-ZIP's zip enciphers we read. A wrong or missing password reads nothing.
TEST_F(ZipArchiveTest, PasswordArchivesRoundTripAndMatchInfoZip) {
    const Data text = datatest::sampleText(20000);
    const auto archive = (root_ / "secret.zip").string();
    ASSERT_TRUE(helper_.CreateZipFile2(archive, "s3cret"));
    ASSERT_TRUE(helper_.addFileToZipNewname(source("notes.txt", text, 1600000000), "notes.txt"));
    ASSERT_TRUE(helper_.CloseZipFile2());
    const auto stored = *foundation::readFile(archive);
    EXPECT_EQ(std::search(stored.begin(), stored.end(), text.begin(), text.begin() + 40),
              stored.end());  // not in the clear, whatever the compression

    for (const auto& [password, readable] :
         std::vector<std::pair<std::optional<std::string>, bool>>{
             {"s3cret", true}, {"wrong", false}, {std::nullopt, false}}) {
        SCOPED_TRACE(password.value_or("no password"));
        ASSERT_TRUE(password ? helper_.UnzipOpenFile(archive, *password)
                             : helper_.UnzipOpenFile(archive));
        EXPECT_EQ(helper_.UnzipFileByName("notes.txt"), readable ? std::optional(text) : std::nullopt);
        EXPECT_EQ(helper_.UnzipFileToOverWrite((root_ / "out").string(), true), readable);
        helper_.UnzipCloseFile();
    }
    EXPECT_EQ(read(root_ / "out" / "notes.txt"), text);

    if (!haveZipTools()) GTEST_SKIP() << "zip and unzip are not installed";
    const std::string quoted = "'" + archive + "'";
    const std::string expected(text.begin(), text.end());
    EXPECT_EQ(commandOutput("unzip -P s3cret -p " + quoted + " notes.txt 2>/dev/null"), expected);
    EXPECT_NE(commandOutput("unzip -P wrong -p " + quoted + " notes.txt 2>/dev/null"), expected);

    const auto theirs = (root_ / "theirs.zip").string();
    const auto plain = source("plain.txt", bytes("from info-zip"));
    ASSERT_TRUE(commandOutput("zip -q -j -P 0ther '" + theirs + "' '" + plain + "'"));
    ASSERT_TRUE(helper_.UnzipOpenFile(theirs, "0ther"));
    EXPECT_EQ(helper_.UnzipFileByName("plain.txt"), bytes("from info-zip"));
}

TEST_F(ZipArchiveTest, EntriesLeadingOutOfTheFolderAreRefused) {
    const fs::path absolute = root_ / "absolute.txt";
    const auto archive = rawArchive({"../escape.txt", absolute.string(), "inner/../../escape2.txt",
                                     "..\\escape3.txt", "ok.txt", "folder/", "folder/./in.txt"});
    ASSERT_TRUE(helper_.UnzipOpenFile(archive));
    EXPECT_FALSE(helper_.UnzipFileToOverWrite((root_ / "out").string(), true));
    EXPECT_EQ(read(root_ / "out" / "ok.txt"), bytes("ok.txt"));
    EXPECT_EQ(read(root_ / "out" / "folder" / "in.txt"), bytes("folder/./in.txt"));
    for (const char* escaped : {"escape.txt", "escape2.txt", "escape3.txt", "absolute.txt"}) {
        EXPECT_FALSE(fs::exists(root_ / escaped)) << escaped;
    }
    EXPECT_EQ(delegate_->messages.size(), 4u);
}

TEST_F(ZipArchiveTest, ExistingFilesAreReplacedOnlyWhenAllowed) {
    const auto archive = rawArchive({"same.txt"});
    const fs::path target = root_ / "out" / "same.txt";
    struct Case {
        bool overwriteArgument;
        bool delegateAnswer;
        bool hasDelegate;
        bool replaced;
    };
    const Case cases[] = {
        {false, false, true, false},
        {false, true, true, true},
        {true, false, true, true},
        {false, false, false, true},  // no one to ask: allowed
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(foundation::writeFileAtomically(target.string(), bytes("old")));
        delegate_->allowOverwrite = c.delegateAnswer;
        helper_.setDelegate(c.hasDelegate ? delegate_ : nullptr);
        ASSERT_TRUE(helper_.UnzipOpenFile(archive));
        EXPECT_TRUE(helper_.UnzipFileToOverWrite((root_ / "out").string(), c.overwriteArgument));
        EXPECT_EQ(read(target), c.replaced ? bytes("same.txt") : bytes("old"));
        helper_.UnzipCloseFile();
    }
}

TEST_F(ZipArchiveTest, DamagedEntryLeavesTheOldFileInPlace) {
    const auto archive = (root_ / "damaged.zip").string();
    ASSERT_TRUE(helper_.CreateZipFile2(archive));
    ASSERT_TRUE(
        helper_.addFileToZipNewname(source("data.bin", datatest::sampleText(50000)), "data.bin"));
    ASSERT_TRUE(helper_.CloseZipFile2());
    auto bytesOnDisk = *foundation::readFile(archive);
    bytesOnDisk[30 + 8 + 200] ^= 0x55;  // inside the compressed data of the only entry
    ASSERT_TRUE(foundation::writeFileAtomically(archive, bytesOnDisk));

    const fs::path target = root_ / "out" / "data.bin";
    ASSERT_TRUE(foundation::writeFileAtomically(target.string(), bytes("good")));
    ASSERT_TRUE(helper_.UnzipOpenFile(archive));
    EXPECT_FALSE(helper_.UnzipFileToOverWrite((root_ / "out").string(), true));
    EXPECT_EQ(read(target), bytes("good"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "out"), {}), 1);  // no temporary left
    EXPECT_EQ(helper_.UnzipFileByName("data.bin"), std::nullopt);
    EXPECT_EQ(delegate_->messages, (std::vector<std::string>{"Failed to reading zip file",
                                                             "Failed to reading zip file"}));
}

TEST_F(ZipArchiveTest, FolderInTheWayOfAFileIsReported) {
    const auto archive = rawArchive({"taken", "free.txt"});
    fs::create_directories(root_ / "out" / "taken" / "inside");
    ASSERT_TRUE(helper_.UnzipOpenFile(archive));
    EXPECT_FALSE(helper_.UnzipFileToOverWrite((root_ / "out").string(), true));
    EXPECT_TRUE(fs::is_directory(root_ / "out" / "taken" / "inside"));
    EXPECT_EQ(read(root_ / "out" / "free.txt"), bytes("free.txt"));
    ASSERT_EQ(delegate_->messages.size(), 1u);
    EXPECT_EQ(delegate_->messages[0].rfind("Failed to write", 0), 0u);
}

TEST_F(ZipArchiveTest, NothingOpen) {
    EXPECT_FALSE(helper_.CloseZipFile2());
    EXPECT_TRUE(helper_.UnzipCloseFile());
    EXPECT_FALSE(helper_.addFileToZipNewname(source("x", bytes("x")), "x"));
    EXPECT_FALSE(helper_.UnzipOpenFile((root_ / "missing.zip").string()));
    EXPECT_FALSE(helper_.UnzipFileToOverWrite((root_ / "out").string(), true));
    EXPECT_EQ(helper_.UnzipFileByName("x"), std::nullopt);
    EXPECT_EQ(delegate_->messages, std::vector<std::string>{"Failed"});
}

}  // namespace
