#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "foundation/ProcessUmask.h"
#include "foundation/ReplacingFileWriter.h"
#include "foundation/ScratchFolder.h"

namespace {

// Sets the process's mask for one test and puts the old one back.
struct MaskScope {
    explicit MaskScope(mode_t mask) : old(::umask(mask)) {}
    ~MaskScope() { ::umask(old); }
    mode_t old;
};

TEST(ProcessUmask, WritersStartingAtOnceLeaveTheMaskAlone) {
    const MaskScope scope(027);
    EXPECT_EQ(foundation::processUmask(), mode_t{027});
    foundationtest::ScratchFolder folder;
    std::atomic<bool> writing = true;
    std::atomic<int> changedSeen = 0;
    std::thread watcher([&] {
        while (writing) changedSeen += foundation::processUmask() != 027;
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            for (int round = 0; round < 300; ++round) {
                foundation::ReplacingFileWriter writer(folder / ("file" + std::to_string(w)));
                if (writer.open()) writer.discard();
            }
        });
    }
    for (auto& writer : writers) writer.join();
    writing = false;
    watcher.join();
    EXPECT_EQ(changedSeen, 0);
    EXPECT_EQ(::umask(027), mode_t{027});

    foundation::ReplacingFileWriter fresh(folder / "fresh");
    ASSERT_TRUE(fresh.open());
    ASSERT_TRUE(fresh.commit());
    struct stat info {};
    ASSERT_EQ(::stat((folder / "fresh").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, mode_t{0640});
}

TEST(ReplacingFileWriter, TargetsWithTheLongestNamesCanBeWritten) {
    foundationtest::ScratchFolder folder;
    for (const std::size_t length : {240u, 245u, 255u}) {
        SCOPED_TRACE(length);
        const std::string target = folder / std::string(length, 'n');
        foundation::ReplacingFileWriter writer(target);
        const std::uint8_t bytes[] = {'o', 'k'};
        ASSERT_TRUE(writer.open());
        ASSERT_TRUE(writer.append(bytes, sizeof bytes));
        ASSERT_TRUE(writer.commit());
        EXPECT_EQ(foundationtest::contentsOf(target), "ok");
    }
}

// Partial files withdrawn by another thread (a copy's, at quit, while the copy waits for a
// device) are gone at once; the writer then makes none and puts nothing in place, and what
// it still does never touches a file that has taken the old name since.
TEST(ReplacingFileWriter, WithdrawnPartialFilesAreGoneAndNothingIsPutInPlace) {
    foundationtest::ScratchFolder folder;
    const std::string target = folder / "copy.bin";
    auto partials = std::make_shared<foundation::PartialFiles>();
    foundation::ReplacingFileWriter writer(target, partials);
    const std::uint8_t bytes[] = {'p', 'a', 'r', 't'};
    ASSERT_TRUE(writer.open());
    ASSERT_TRUE(writer.append(bytes, sizeof bytes));
    const auto temporary = std::filesystem::directory_iterator(folder.path())->path();
    std::thread([&] { partials->withdraw(); }).join();
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    // The temporary's name is taken by someone else's file meanwhile.
    foundationtest::writeText(temporary, "another's");
    EXPECT_TRUE(writer.append(bytes, sizeof bytes));  // into the removed file
    EXPECT_FALSE(writer.commit());
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_EQ(foundationtest::contentsOf(temporary), "another's");
    foundation::ReplacingFileWriter later(target, partials);
    std::string error;
    EXPECT_FALSE(later.open(&error));
    EXPECT_NE(error.find("cannot create a file beside"), std::string::npos);
    later.discard();
    EXPECT_EQ(foundationtest::contentsOf(temporary), "another's");
}

}  // namespace
