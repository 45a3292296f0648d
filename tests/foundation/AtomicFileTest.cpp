#include "foundation/AtomicFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "Unprivileged.h"

using namespace foundation;
using foundationtest::giveToCheckingUser;
using foundationtest::ScratchFolder;
using foundationtest::withoutPrivileges;

namespace {

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
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

}  // namespace

TEST(AtomicFile, WritesAndReplacesKeepingTheMode) {
    ScratchFolder scratch;
    std::string path = scratch / "file.bin";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, bytesOf("first"), &error)) << error;
    EXPECT_EQ(readFile(path), bytesOf("first"));
    EXPECT_EQ(modeOf(path), 0600u);

    chmod(path.c_str(), 0644);
    Data large(300000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(writeFileAtomically(path, large, &error)) << error;
    EXPECT_EQ(readFile(path), large);
    EXPECT_EQ(modeOf(path), 0644u);
    ASSERT_TRUE(writeFileAtomically(path, {}, &error)) << error;
    EXPECT_EQ(readFile(path), Data());
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"file.bin"});
}

TEST(AtomicFile, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchFolder scratch;
    std::string path = scratch / "prefs.plist";
    ASSERT_TRUE(writeFileAtomically(path, bytesOf("old contents")));
    // A cap on the file size, with the signal for crossing it ignored, fails the write.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    EXPECT_FALSE(writeFileAtomically(path, Data(4096, 'x'), &error));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(path), bytesOf("old contents"));
    EXPECT_EQ(namesIn(scratch.path()), std::vector<std::string>{"prefs.plist"});

    // A folder in place of the file: the rename fails and the folder stays as it was.
    std::filesystem::create_directory(scratch / "taken");
    std::ofstream(scratch / "taken/inner") << "keep";
    EXPECT_FALSE(writeFileAtomically(scratch / "taken", bytesOf("x")));
    EXPECT_EQ(readFile(scratch / "taken/inner"), bytesOf("keep"));
    EXPECT_EQ(namesIn(scratch.path()), (std::vector<std::string>{"prefs.plist", "taken"}));

    for (const std::string& bad : {scratch / "missing/file", std::string(), scratch / ""}) {
        error.clear();
        EXPECT_FALSE(writeFileAtomically(bad, bytesOf("x"), &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(AtomicFile, ReadFileReportsWhatIsWrong) {
    ScratchFolder scratch;
    std::string error;
    EXPECT_EQ(readFile(scratch / "absent", &error), std::nullopt);
    EXPECT_NE(error.find("absent"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(readFile(scratch.path(), &error), std::nullopt);
    EXPECT_FALSE(error.empty());
}

TEST(AtomicFile, LongNamesGetATemporaryWithinTheNameLimit) {
    ScratchFolder scratch;
    const std::string accented = "\xC3\xA9";  // two bytes, cut only whole
    for (const std::string& name :
         {std::string(247, 'a'), std::string(248, 'b'), std::string(255, 'c'),
          std::string(246, 'd') + accented + std::string(7, 'd')}) {
        std::string error;
        ASSERT_TRUE(writeFileAtomically(scratch / name, bytesOf("long"), &error))
            << name.size() << ": " << error;
        EXPECT_EQ(readFile(scratch / name), bytesOf("long"));
    }
    EXPECT_EQ(namesIn(scratch.path()).size(), 4u);
}

TEST(AtomicFile, SymbolicLinksStayAndTheFileTheyNameIsReplaced) {
    ScratchFolder scratch;
    namespace fs = std::filesystem;
    fs::create_directory(scratch / "real");
    ASSERT_TRUE(writeFileAtomically(scratch / "real/prefs", bytesOf("old")));
    fs::create_symlink("real/prefs", scratch / "relative");
    fs::create_symlink(scratch / "relative", scratch / "chained");
    fs::create_symlink("real/new", scratch / "dangling");
    fs::create_symlink("loop", scratch / "loop");

    struct Case {
        const char* link;
        const char* target;
    };
    for (const Case& c : {Case{"relative", "real/prefs"}, Case{"chained", "real/prefs"},
                          Case{"dangling", "real/new"}}) {
        std::string error;
        ASSERT_TRUE(writeFileAtomically(scratch / c.link, bytesOf(c.link), &error)) << error;
        EXPECT_TRUE(fs::is_symlink(scratch / c.link)) << c.link;
        EXPECT_EQ(readFile(scratch / c.target), bytesOf(c.link)) << c.link;
    }
    std::string error;
    EXPECT_FALSE(writeFileAtomically(scratch / "loop", bytesOf("x"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_symlink(scratch / "loop"));
    EXPECT_EQ(namesIn(scratch / "real"), (std::vector<std::string>{"new", "prefs"}));
}

TEST(AtomicFile, AFolderThatCannotBeReadStillReportsTheWriteThatHappened) {
    // Writable but not readable: the new file is in place, only the folder cannot be
    // opened to make the rename durable. That is no failure of the write.
    ScratchFolder scratch;
    chmod(scratch.path().c_str(), 0711);
    const std::string folder = scratch / "drop";
    std::filesystem::create_directory(folder);
    giveToCheckingUser(folder);
    chmod(folder.c_str(), 0300);
    const bool reported = withoutPrivileges(
        [&] { return writeFileAtomically(folder + "/file", bytesOf("written")); });
    chmod(folder.c_str(), 0700);
    EXPECT_TRUE(reported);
    EXPECT_EQ(readFile(folder + "/file"), bytesOf("written"));
}
