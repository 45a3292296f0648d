#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "logging/LogFolder.h"
#include "logging/TCrashLogFinder.h"

namespace {

using Clock = TCrashLogFinder::Clock;
using namespace std::chrono_literals;

// Two places as the finder sees them (the system's first), built in a temporary folder;
// every report gets a known modification time.
class TCrashLogFinderTest : public testing::Test {
protected:
    void SetUp() override {
        system = {folder.file("system/crash"), "", ""};
        user = {folder.file("user/DiagnosticReports"), folder.file("user/CrashReporter"),
                folder.file("user/HangReporter/" + app)};
    }

    // A report at `relative` below the temporary folder, changed at `when`.
    std::string report(const std::string& relative, Clock::time_point when) {
        const auto path = folder.file(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        folder.make(relative, 0, "report");
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch());
        const timespec times[2] = {{ns.count() / 1000000000, ns.count() % 1000000000},
                                   {ns.count() / 1000000000, ns.count() % 1000000000}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        return path;
    }

    std::vector<std::string> find(std::optional<Clock::time_point> since) {
        return TCrashLogFinder::crashLogsSince(since, {system, user});
    }

    LogFolder folder;
    const std::string app = TCrashLogFinder::applicationName();
    const Clock::time_point t0 = Clock::time_point(1790000000s);
    TCrashLogFinder::ReportFolders system, user;
};

TEST_F(TCrashLogFinderTest, FindsThisApplicationsReportsPlaceByPlaceCrashesBeforeHangs) {
    const auto userCrash = report("user/DiagnosticReports/" + app + "_2026-01-01.crash", t0);
    // The path below the folder is what must begin with the name.
    const auto nested = report("user/DiagnosticReports/" + app + "_dir/inner.crash", t0);
    report("user/DiagnosticReports/Retired/" + app + "_old.crash", t0);
    const auto userHang = report("user/HangReporter/" + app + "/a.hang", t0);
    const auto nestedHang = report("user/HangReporter/" + app + "/deeper/b.hang", t0);
    const auto systemCrash = report("system/crash/" + app + "_x.crash", t0);
    // None of these are ours, or they are not reports.
    report("user/DiagnosticReports/" + app + "-no-underscore.crash", t0);
    report("user/DiagnosticReports/other_2026.crash", t0);
    report("user/DiagnosticReports/" + app + "_2026.txt", t0);
    report("user/HangReporter/loose.hang", t0);
    report("user/HangReporter/" + app + "/c.crash", t0);
    // Not looked at while DiagnosticReports exists.
    report("user/CrashReporter/" + app + "_older.crash", t0);

    auto found = find(std::nullopt);
    ASSERT_EQ(found.size(), 5u);
    EXPECT_EQ(found[0], systemCrash);
    std::sort(found.begin() + 1, found.begin() + 3);
    std::vector<std::string> userCrashes{userCrash, nested};
    std::sort(userCrashes.begin(), userCrashes.end());
    EXPECT_EQ(std::vector<std::string>(found.begin() + 1, found.begin() + 3), userCrashes);
    std::vector<std::string> hangs{userHang, nestedHang};
    std::vector<std::string> foundHangs(found.begin() + 3, found.end());
    std::sort(hangs.begin(), hangs.end());
    std::sort(foundHangs.begin(), foundHangs.end());
    EXPECT_EQ(foundHangs, hangs);
}

TEST_F(TCrashLogFinderTest, TheOlderCrashFolderServesWhenTheNewerIsMissing) {
    const auto older = report("user/CrashReporter/" + app + "_older.crash", t0);
    EXPECT_EQ(find(std::nullopt), std::vector<std::string>{older});
    EXPECT_TRUE(TCrashLogFinder::crashLogsSince(std::nullopt, {{"", "", ""}}).empty());
}

TEST_F(TCrashLogFinderTest, ASinceMomentKeepsReportsChangedAtOrAfterIt) {
    const auto same = report("user/DiagnosticReports/" + app + "_same.crash", t0);
    report("user/DiagnosticReports/" + app + "_second_older.crash", t0 - 1s);
    const auto later = report("user/HangReporter/" + app + "/later.hang", t0 + 1ms);
    EXPECT_EQ(find(t0), (std::vector<std::string>{same, later}));
    EXPECT_EQ(find(t0 + 2s), std::vector<std::string>{});

    EXPECT_FALSE(TCrashLogFinder::fileIsNewerThan(folder.file("missing"), std::nullopt));
    EXPECT_TRUE(TCrashLogFinder::fileIsNewerThan(same, std::nullopt));
    EXPECT_FALSE(TCrashLogFinder::fileIsNewerThan(same, t0 + 1ns));
}

TEST(TCrashLogFinderDefaults, TheApplicationIsNamedByTheBundlesExecutable) {
    EXPECT_EQ(TCrashLogFinder::applicationName(), "orvandel");
    const auto places = TCrashLogFinder::defaultReportFolders();
    ASSERT_EQ(places.size(), 2u);
    EXPECT_TRUE(places[1].hangFolder.ends_with("/Orvandel/HangReporter/orvandel"))
        << places[1].hangFolder;
}

TEST(TCrashLogFinderDefaults, WithoutABundleTheProcessNamesTheApplication) {
    LogFolder emptyBundle;
    const char* saved = std::getenv("ORVANDEL_BUNDLE_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("ORVANDEL_BUNDLE_DIR", emptyBundle.path.c_str(), 1);
    const std::string name = TCrashLogFinder::applicationName();
    if (saved) {
        ::setenv("ORVANDEL_BUNDLE_DIR", savedValue.c_str(), 1);
    } else {
        ::unsetenv("ORVANDEL_BUNDLE_DIR");
    }
    EXPECT_EQ(name, "logging_tests");
}

TEST(TCrashLogFinderDefaults, TheUsersFoldersLieBelowTheStateFolder) {
    const auto places = TCrashLogFinder::defaultReportFolders();
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[0].crashFolder, "/var/crash");
    EXPECT_NE(places[1].crashFolder.find("/Orvandel/DiagnosticReports"), std::string::npos);
    EXPECT_NE(
        places[1].hangFolder.find("/Orvandel/HangReporter/" + TCrashLogFinder::applicationName()),
        std::string::npos);
}

}  // namespace
