#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <cerrno>
#include <filesystem>

#include <fmt/format.h>

#include "logging/LgDateFormatter.h"
#include "logging/LgLogFileManagerDefault.h"
#include "logging/LogFolder.h"
#include "logging/TextShape.h"

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;
const char* const kArchived = LgLogFileInfo::kArchivedAttributeName;

const std::string& app() {
    return LgLogFileManagerDefault::applicationName();
}

// "<app> 2026-01-0<day>--10-00-00-000.log": a log file name dated `day` days into 2026.
std::string dated(int day, const std::string& suffix = "") {
    return fmt::format("{} 2026-01-{:02}--10-00-00-000{}.log", app(), day, suffix);
}

// Gives every new file the same name, so that clashes can be made at will.
class FixedNameManager : public LgLogFileManagerDefault {
public:
    FixedNameManager(std::string folder, std::string name)
        : LgLogFileManagerDefault(std::move(folder)), name_(std::move(name)) {}
    std::string newLogFileName() const override { return name_; }

private:
    std::string name_;
};

TEST(LgDateFormatterTest, ReadsOnlyTextOfTheWholePattern) {
    const LgDateFormatter names(kLgLogFileNameDatePattern);
    const auto moment = names.parse("2026-12-05--15-03-57-123");
    ASSERT_TRUE(moment);
    EXPECT_EQ(names.format(*moment), "2026-12-05--15-03-57-123");
    EXPECT_EQ(LgDateFormatter("yyyy/MM/dd HH:mm:ss:SSS").format(*moment),
              "2026/12/05 15:03:57:123");
    for (const char* bad : {"2", "", "2026-12-05--15-03-57-12", "2026-12-05--15-03-57-1234",
                            "2026-13-05--15-03-57-123", "2026-12-05--25-03-57-123",
                            "2026-12-05 15-03-57-123", "2026-12-05--15-03-57-12x"}) {
        EXPECT_FALSE(names.parse(bad)) << bad;
    }
}

class LgLogFileManagerDefaultTest : public testing::Test {
protected:
    LogFolder folder;
    LgLogFileManagerDefault manager{folder.path};
};

TEST_F(LgLogFileManagerDefaultTest, NewNamesCarryTheIdentifierAndTheUtcTime) {
    EXPECT_TRUE(hasShape(manager.newLogFileName(), app() + " ####-##-##--##-##-##-###.log"))
        << manager.newLogFileName();
    const auto path = manager.createNewLogFileWithError(nullptr);
    ASSERT_TRUE(path);
    EXPECT_EQ(LogFolder::read(*path), "");
    EXPECT_EQ(manager.sortedLogFilePaths(), std::vector<std::string>{*path});
}

TEST_F(LgLogFileManagerDefaultTest, FilesAreNamedAfterTheBundleIdentifier) {
    EXPECT_EQ(LgLogFileManagerDefault::applicationName(), "com.orvandel.Orvandel");
    const auto path = manager.createNewLogFileWithError(nullptr);
    ASSERT_TRUE(path);
    const std::string name = std::filesystem::path(*path).filename();
    EXPECT_TRUE(hasShape(name, "com.orvandel.Orvandel ####-##-##--##-##-##-###.log")) << name;
}

// Earlier versions named the files after the process: a user's files of those versions are
// still listed and pruned, in the background after a new file.
TEST_F(LgLogFileManagerDefaultTest, FilesNamedAfterTheProcessAreStillFoundAndPruned) {
    const std::string process = program_invocation_short_name;
    const std::string old = process + " 2026-01-01--10-00-00-000.log";
    EXPECT_TRUE(manager.isLogFile(old));
    EXPECT_FALSE(manager.isLogFile(process + "x 2026-01-01--10-00-00-000.log"));
    folder.make(old);
    for (int day = 2; day < 7; ++day) folder.make(dated(day));
    EXPECT_EQ(manager.sortedLogFileNames().back(), old);

    const auto path = manager.createNewLogFileWithError(nullptr);
    ASSERT_TRUE(path);
    LgLogFileManagerDefault::waitForPruning();
    EXPECT_FALSE(std::filesystem::exists(folder.file(old)));
    EXPECT_FALSE(std::filesystem::exists(folder.file(dated(2))));
    EXPECT_EQ(manager.sortedLogFilePaths().size(), 5u);
    EXPECT_TRUE(std::filesystem::exists(*path));
}

TEST_F(LgLogFileManagerDefaultTest, ClashesGetANumberAndNeverReplaceAFile) {
    FixedNameManager fixed(folder.path, dated(1));
    const auto first = fixed.createNewLogFileWithError(nullptr);
    ASSERT_TRUE(first);
    folder.make(dated(1), 0, "kept\n");
    const auto second = fixed.createNewLogFileWithError(nullptr);
    const auto third = fixed.createNewLogFileWithError(nullptr);
    ASSERT_TRUE(second && third);
    EXPECT_EQ(*second, folder.file(dated(1, " 2")));
    EXPECT_EQ(*third, folder.file(dated(1, " 3")));
    EXPECT_EQ(LogFolder::read(*first), "kept\n");
}

TEST_F(LgLogFileManagerDefaultTest, OnlyFilesOfThisApplicationEndingInLogAreLogFiles) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {dated(1), true},
        {dated(1, " 2"), true},
        {app() + " anything.log", true},
        {"other.app " + dated(1).substr(app().size() + 1), false},
        {app() + " 2026-01-01--10-00-00-000.txt", false},
        {app() + ".log", false},
        {app() + "x 2026-01-01--10-00-00-000.log", false},
    };
    for (const auto& [name, isLog] : cases) {
        EXPECT_EQ(manager.isLogFile(name), isLog) << name;
        folder.make(name);
    }
    auto listed = manager.unsortedLogFileNames();
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected{app() + " anything.log", dated(1), dated(1, " 2")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
}

TEST_F(LgLogFileManagerDefaultTest, ListsNewestFirstByTheTimeInTheName) {
    folder.make(dated(3));
    folder.make(dated(9));
    folder.make(dated(5));
    // No time in its name: its creation (now) makes it the newest.
    folder.make(dated(1, " 2"));
    EXPECT_EQ(manager.sortedLogFileNames(),
              (std::vector<std::string>{dated(1, " 2"), dated(9), dated(5), dated(3)}));
}

TEST_F(LgLogFileManagerDefaultTest, AFolderThatCannotBeMadeListsNothingAndCreationGivesUp) {
    folder.make("plain-file");
    LgLogFileManagerDefault broken(folder.file("plain-file") + "/Logs");
    EXPECT_TRUE(broken.sortedLogFileInfos().empty());
    foundation::Error error;
    EXPECT_FALSE(broken.createNewLogFileWithError(&error));
    EXPECT_EQ(error.code, ENOTDIR);
}

TEST_F(LgLogFileManagerDefaultTest, TheDefaultFolderIsBelowTheStateFolderElseTheTemporaryOne) {
    const char* savedState = std::getenv("XDG_STATE_HOME");
    const char* savedTemp = std::getenv("TMPDIR");
    const std::string oldState = savedState ? savedState : "", oldTemp = savedTemp ? savedTemp : "";
    folder.make("plain-file");
    // The folder is named after the process, the files after the application.
    const std::string process = program_invocation_short_name;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {folder.file("state"), folder.file("state/Orvandel/Logs/") + process},
        {folder.file("plain-file"), folder.file("temp/Orvandel/Logs/") + process},
    };
    ::setenv("TMPDIR", folder.file("temp").c_str(), 1);
    for (const auto& [state, expected] : cases) {
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        EXPECT_EQ(LgLogFileManagerDefault::defaultLogsDirectory(), expected);
        EXPECT_EQ(LgLogFileManagerDefault().logsDirectory(), expected);
        EXPECT_TRUE(std::filesystem::is_directory(expected));
    }
    savedState ? ::setenv("XDG_STATE_HOME", oldState.c_str(), 1) : ::unsetenv("XDG_STATE_HOME");
    savedTemp ? ::setenv("TMPDIR", oldTemp.c_str(), 1) : ::unsetenv("TMPDIR");
}

struct PruneCase {
    const char* name;
    std::vector<std::uint64_t> sizes;  // newest first
    bool newestArchived;
    std::uint64_t maximumCount;
    std::uint64_t quota;
    std::size_t kept;  // how many of the newest stay
};

class PruneTest : public LgLogFileManagerDefaultTest,
                  public testing::WithParamInterface<PruneCase> {};

TEST_P(PruneTest, DeletesFromTheCutOnAndLeavesOtherFilesAlone) {
    const auto& c = GetParam();
    manager.setMaximumNumberOfLogFiles(c.maximumCount);
    manager.setLogFilesDiskQuota(c.quota);
    LgLogFileManagerDefault::waitForPruning();  // what the new limits started
    std::vector<std::string> names;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
        names.push_back(dated(static_cast<int>(28 - i)));
        folder.make(names.back(), c.sizes[i]);
    }
    if (c.newestArchived) LgLogFileInfo(folder.file(names.front())).setIsArchived(true);
    folder.make("notes.txt", 30 * MiB);
    folder.make("other.app " + dated(1).substr(app().size() + 1), 30 * MiB);
    manager.deleteOldLogFiles();

    std::vector<std::string> expected(names.begin(), names.begin() + c.kept);
    EXPECT_EQ(manager.sortedLogFileNames(), expected);
    EXPECT_EQ(folder.names().size(), c.kept + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PruneTest,
    testing::Values(
        PruneCase{
            "SevenOfOneMiBKeepFive", {MiB, MiB, MiB, MiB, MiB, MiB, MiB}, false, 5, 20 * MiB, 5},
        PruneCase{
            "TheFileCrossingTheQuotaGoes", {15 * MiB, 4 * MiB, 2 * MiB}, false, 5, 20 * MiB, 2},
        PruneCase{"ALoneUnarchivedFileOverTheQuotaStays", {21 * MiB}, false, 5, 20 * MiB, 1},
        PruneCase{"ALoneArchivedFileOverTheQuotaGoes", {21 * MiB}, true, 5, 20 * MiB, 0},
        PruneCase{"NoLimitsDeleteNothing",
                  {9 * MiB, 9 * MiB, 9 * MiB, 9 * MiB, 9 * MiB, 9 * MiB, 9 * MiB},
                  false,
                  0,
                  0,
                  7},
        PruneCase{"QuotaOnly", {8 * MiB, 8 * MiB, 8 * MiB, MiB}, false, 0, 20 * MiB, 2},
        PruneCase{"CountOnlyBelowTheQuota", {MiB, MiB, MiB}, false, 2, 0, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// A clock set back makes the new file's name older than the files before it; it is still
// the one being written and must survive the pruning that follows its creation.
TEST_F(LgLogFileManagerDefaultTest, TheNewFileSurvivesPruningWhenItSortsAsOldest) {
    for (int year = 2090; year < 2096; ++year) {
        const auto name = fmt::format("{} {}-01-01--10-00-00-000.log", app(), year);
        folder.make(name, 10);
        LgLogFileInfo(folder.file(name)).setIsArchived(true);
    }
    const auto path = manager.createNewLogFileWithError(nullptr);
    ASSERT_TRUE(path);
    LgLogFileManagerDefault::waitForPruning();
    manager.deleteOldLogFiles();
    EXPECT_TRUE(std::filesystem::exists(*path));
    EXPECT_EQ(manager.sortedLogFilePaths().size(), 6u);  // the five newest and the new one

    // Once archived it is an old file like any other.
    LgLogFileInfo(*path).setIsArchived(true);
    manager.deleteOldLogFiles();
    EXPECT_FALSE(std::filesystem::exists(*path));
}

TEST_F(LgLogFileManagerDefaultTest, TheArchivedMarkIsTheSingleByteOneAndOtherValuesAreMended) {
    struct Case {
        const char* stored;  // nullptr: no attribute
        std::size_t length;
        bool archived;
        std::optional<std::string> afterwards;
    };
    const std::vector<Case> cases = {
        {nullptr, 0, false, std::nullopt},
        {"\x01", 1, true, std::string("\x01")},
        {"", 0, true, std::string("\x01")},
        {"\x07", 1, true, std::string("\x01")},
        {"\x01\x01", 2, false, std::string("\x01\x01")},
    };
    int i = 0;
    for (const auto& c : cases) {
        const auto path = folder.file(dated(++i));
        folder.make(dated(i));
        if (c.stored) {
            ASSERT_EQ(::setxattr(path.c_str(), kArchived, c.stored, c.length, 0), 0);
        }
        LgLogFileInfo info(path);
        EXPECT_EQ(info.isArchived(), c.archived) << i;
        EXPECT_EQ(LogFolder::attribute(path, kArchived), c.afterwards) << i;
    }

    LgLogFileInfo info(folder.file(dated(1)));
    info.setIsArchived(true);
    EXPECT_EQ(LogFolder::attribute(info.filePath(), kArchived), std::string("\x01"));
    EXPECT_TRUE(LgLogFileInfo(info.filePath()).isArchived());
    info.setIsArchived(false);
    info.setIsArchived(false);  // already gone: quietly nothing
    EXPECT_FALSE(LgLogFileInfo(info.filePath()).isArchived());
    LgLogFileInfo(folder.file("missing.log")).setIsArchived(true);  // no file: no crash
}

TEST_F(LgLogFileManagerDefaultTest, FileRecordsReadSizeDatesAndFollowARename) {
    folder.make(dated(1), 0, "12345");
    auto info = LgLogFileInfo::logFileWithPath(folder.file(dated(1)));
    EXPECT_EQ(LgLogFileInfo::logFileWithPath(""), nullptr);
    EXPECT_EQ(info->fileSize(), 5u);
    EXPECT_GE(info->age(), 0);
    EXPECT_LT(info->age(), 60);
    info->setIsArchived(true);

    folder.make(dated(2), 0, "replaced");
    info->renameFile(dated(2));
    EXPECT_EQ(info->fileName(), dated(2));
    EXPECT_EQ(LogFolder::read(info->filePath()), "12345");
    EXPECT_TRUE(info->isArchived());
    EXPECT_EQ(folder.names(), std::vector<std::string>{dated(2)});

    LgLogFileInfo gone(folder.file("gone.log"));
    EXPECT_EQ(gone.fileSize(), 0u);
    EXPECT_EQ(gone.age(), 0);
    EXPECT_FALSE(gone.creationDate());
}

TEST_F(LgLogFileManagerDefaultTest, AFileRecordsDescriptionShowsItsFileAttributes) {
    folder.make(dated(1), 0, "12345");
    LgLogFileInfo info(folder.file(dated(1)));
    const std::string text = info.description();
    EXPECT_NE(text.find("fileName = \"" + dated(1) + "\"; fileAttributes = {fileSize = 5; "
                        "fileCreationDate = "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("fileSize = 5; age = "), std::string::npos) << text;

    LgLogFileInfo gone(folder.file("gone.log"));
    EXPECT_NE(gone.description().find("fileAttributes = {}; creationDate = (null);"),
              std::string::npos)
        << gone.description();
}

}  // namespace
