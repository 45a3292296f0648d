#include "foundation/AtomicFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ScratchFolder.h"

using namespace foundation;
using foundationtest::ScratchFolder;

namespace {

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Caps the size of files this process may write, and ignores the signal that the kernel
// sends when a write crosses the cap, so that the write fails with EFBIG instead.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, savedHandler_);
    }

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
};

}  // namespace

TEST(AtomicFile, WritesAndReplaces) {
    ScratchFolder scratch;
    std::string path = scratch / "file.bin";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, bytesOf("first"), &error)) << error;
    EXPECT_EQ(contentsOf(path), "first");
    EXPECT_EQ(modeOf(path), 0600u);

    chmod(path.c_str(), 0644);
    Data large(300000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(writeFileAtomically(path, large, &error)) << error;
    EXPECT_EQ(readFile(path, &error), large);
    EXPECT_EQ(modeOf(path), 0644u);

    ASSERT_TRUE(writeFileAtomically(path, {}, &error)) << error;
    EXPECT_EQ(readFile(path), Data());
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"file.bin"});
}

TEST(AtomicFile, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchFolder scratch;
    std::string path = scratch / "prefs.plist";
    ASSERT_TRUE(writeFileAtomically(path, bytesOf("old contents")));

    std::string error;
    {
        FileSizeLimit limit(64);
        EXPECT_FALSE(writeFileAtomically(path, Data(4096, 'x'), &error));
    }
    EXPECT_NE(error.find("could not write"), std::string::npos) << error;
    EXPECT_EQ(contentsOf(path), "old contents");
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"prefs.plist"});
}

TEST(AtomicFile, FailsCleanlyWhereItCannotWrite) {
    ScratchFolder scratch;
    std::string error;
    EXPECT_FALSE(writeFileAtomically(scratch / "missing/file", bytesOf("x"), &error));
    EXPECT_FALSE(error.empty());

    // A folder in place of the file: the rename fails and the folder stays as it was.
    std::filesystem::create_directory(scratch / "taken");
    std::ofstream(scratch / "taken/inner") << "keep";
    error.clear();
    EXPECT_FALSE(writeFileAtomically(scratch / "taken", bytesOf("x"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(contentsOf(scratch / "taken/inner"), "keep");
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"taken"});

    EXPECT_FALSE(writeFileAtomically("", bytesOf("x"), &error));
    EXPECT_FALSE(writeFileAtomically(scratch.path() + "/", bytesOf("x"), &error));
}

TEST(AtomicFile, ReadFileReportsWhatIsWrong) {
    ScratchFolder scratch;
    std::string error;
    EXPECT_EQ(readFile(scratch / "absent", &error), std::nullopt);
    EXPECT_NE(error.find("absent"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(readFile(scratch.path(), &error), std::nullopt);
    EXPECT_FALSE(error.empty());

    std::ofstream(scratch / "empty").flush();
    EXPECT_EQ(readFile(scratch / "empty"), Data());
}
