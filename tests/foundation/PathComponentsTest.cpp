#include <gtest/gtest.h>

#include <fstream>

#include "foundation/PathComponents.h"
#include "foundation/ReplacingFileWriter.h"
#include "foundation/ScratchFolder.h"

namespace {

TEST(PathComponents, JoinSplitAndLast) {
    struct Case {
        const char* path;
        const char* component;
        const char* joined;
        const char* parent;
        const char* last;
    };
    const Case cases[] = {
        {"/x", "a", "/x/a", "/", "x"},
        {"/", "a", "/a", "/", "/"},
        {"/x/", "/a", "/x/a", "/", "x"},
        {"", "a", "a", "", ""},
        {"x/y", "", "x/y", "x", "y"},
        {"/Media//DCIM/", "b.jpg", "/Media//DCIM/b.jpg", "/Media", "DCIM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(foundation::appendingPathComponent(c.path, c.component), c.joined);
        EXPECT_EQ(foundation::deletingLastPathComponent(c.path), c.parent);
        EXPECT_EQ(foundation::lastPathComponent(c.path), c.last);
    }
}

TEST(ReplacingFileWriter, ReplacesOnlyOnCommitAndLeavesNoTemporary) {
    foundationtest::ScratchFolder folder;
    const std::string target = folder / "file.bin";
    std::ofstream(target) << "old contents that are longer";
    const std::uint8_t bytes[] = {'n', 'e', 'w'};
    {
        foundation::ReplacingFileWriter abandoned(target);
        ASSERT_TRUE(abandoned.open());
        ASSERT_TRUE(abandoned.append(bytes, sizeof bytes));
    }
    EXPECT_EQ(foundationtest::contentsOf(target), "old contents that are longer");
    foundation::ReplacingFileWriter writer(target);
    ASSERT_TRUE(writer.open());
    ASSERT_TRUE(writer.append(bytes, sizeof bytes));
    ASSERT_TRUE(writer.commit());
    EXPECT_EQ(foundationtest::contentsOf(target), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    foundation::ReplacingFileWriter nowhere(folder / "missing/file.bin");
    std::string error;
    EXPECT_FALSE(nowhere.open(&error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
