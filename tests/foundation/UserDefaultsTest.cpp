#include "foundation/UserDefaults.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ScratchFolder.h"
#include "Unprivileged.h"
#include "foundation/NumberFormat.h"
#include "foundation/PropertyList.h"

using namespace foundation;
using foundationtest::contentsOf;
using foundationtest::ScratchFolder;
using foundationtest::writeText;

namespace {

const std::string kDomain = "com.orvandel.Test";

class UserDefaultsTest : public testing::Test {
protected:
    std::string filePath() const { return scratch / (kDomain + ".plist"); }
    ScratchFolder scratch;
};

}  // namespace

TEST_F(UserDefaultsTest, DestructorWritesEveryKindForAFreshInstance) {
    const Dictionary expected = {
        {"flag", true},
        {"count", -42},
        {"ratio", 0.25},
        {"name", "Zoë"},
        {"blob", Data{0, 1, 255}},
        {"when", Date{1700000000.5}},
        {"nested", Value::dict({{"list", Value::list({1, "two", 3.5})}, {"on", true}})},
        {"huge", std::uint64_t{1} << 63},
    };
    {
        UserDefaults defaults(kDomain, scratch / "Prefs");
        for (const auto& [key, value] : expected) EXPECT_TRUE(defaults.setObject(key, value));
        // The typed setters must store the same kinds.
        defaults.setBool("flag", true);
        defaults.setInteger("count", -42);
        defaults.setDouble("ratio", 0.25);
        EXPECT_FALSE(std::filesystem::exists(scratch / "Prefs"));  // nothing before synchronize
    }
    EXPECT_TRUE(contentsOf(scratch / ("Prefs/" + kDomain + ".plist")).starts_with("bplist00"));
    EXPECT_EQ(UserDefaults(kDomain, scratch / "Prefs").dictionaryRepresentation(), expected);
}

TEST_F(UserDefaultsTest, RemovedAndRefusedValuesAreNotWritten) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.setInteger("a", 1);
    defaults.setInteger("b", 2);
    EXPECT_TRUE(defaults.setObject("a", Value()));
    defaults.removeObject("b");
    defaults.setObject("good", "kept");
    std::string error;
    EXPECT_FALSE(defaults.setObject("good", Value::null(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(
        defaults.setObject("inner", Value::dict({{"x", Value::list({1, Value::null()})}})));
    // The refused values must not block writing the good ones.
    ASSERT_TRUE(defaults.synchronize(&error)) << error;
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).dictionaryRepresentation(),
              (Dictionary{{"good", "kept"}}));
}

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerOnlyForMissingKeys) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.registerDefaults({{"showWelcome", true}, {"pattern", "/$a/$b"}, {"level", 3}});
    defaults.registerDefaults({{"level", 4}});
    defaults.setObject("pattern", "/$t");
    EXPECT_EQ(defaults.stringForKey("pattern"), "/$t");
    EXPECT_EQ(defaults.integerForKey("level"), 4);
    defaults.removeObject("pattern");
    defaults.setBool("showWelcome", false);
    EXPECT_EQ(defaults.dictionaryRepresentation(),
              (Dictionary{{"showWelcome", false}, {"pattern", "/$a/$b"}, {"level", 4}}));

    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).dictionaryRepresentation(),
              (Dictionary{{"showWelcome", false}}));
}

TEST_F(UserDefaultsTest, TypedGettersOnOtherKinds) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.setObject("text", "YES");
    defaults.setObject("number", 2.9);
    defaults.setObject("negative", -0.5);
    EXPECT_FALSE(defaults.boolForKey("text"));
    EXPECT_EQ(defaults.integerForKey("text"), 0);
    EXPECT_EQ(defaults.arrayForKey("text"), std::nullopt);
    EXPECT_EQ(defaults.integerForKey("number"), 2);
    EXPECT_EQ(defaults.stringForKey("number"), std::nullopt);
    EXPECT_TRUE(defaults.boolForKey("negative"));
    EXPECT_FALSE(defaults.boolForKey("absent"));
}

TEST_F(UserDefaultsTest, SynchronizeWithoutChangesReloadsTheFile) {
    UserDefaults reader(kDomain, scratch.path());
    UserDefaults writer(kDomain, scratch.path());
    writer.setObject("from", "writer");
    ASSERT_TRUE(writer.synchronize());
    ASSERT_TRUE(reader.synchronize());
    EXPECT_EQ(reader.stringForKey("from"), "writer");

    // Pending changes are written, not thrown away by a reload.
    reader.setObject("own", 1);
    ASSERT_TRUE(reader.synchronize());
    ASSERT_TRUE(writer.synchronize());
    EXPECT_EQ(writer.integerForKey("own"), 1);

    writeText(filePath(), *plist::writeXml(Value::dict({{"xml", "yes"}})));
    ASSERT_TRUE(reader.synchronize());
    EXPECT_EQ(reader.dictionaryRepresentation(), (Dictionary{{"xml", "yes"}}));
}

TEST_F(UserDefaultsTest, CorruptFileIsKeptAsideNotOverwritten) {
    const std::string garbage = "bplist00 this is not a property list";
    writeText(filePath(), garbage);
    testing::internal::CaptureStderr();
    {
        UserDefaults defaults(kDomain, scratch.path());
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
        EXPECT_FALSE(std::filesystem::exists(filePath()));
        defaults.setInteger("fresh", 1);
    }
    EXPECT_EQ(contentsOf(filePath() + ".corrupt"), garbage);
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).integerForKey("fresh"), 1);

    // A second bad file does not replace the first one kept aside.
    writeText(filePath(), *plist::writeXml(Value::list({"not", "a", "dictionary"})));
    UserDefaults second(kDomain, scratch.path());
    EXPECT_TRUE(second.objectForKey("fresh").isNil());
    EXPECT_EQ(contentsOf(filePath() + ".corrupt"), garbage);
    EXPECT_NE(contentsOf(filePath() + ".corrupt.1").find("dictionary"), std::string::npos);

    // A file corrupted behind a running instance is replaced by the values in memory.
    second.setObject("kept", "value");
    ASSERT_TRUE(second.synchronize());
    writeText(filePath(), "<plist><dict><key>cut short");
    EXPECT_TRUE(second.synchronize());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(contentsOf(filePath() + ".corrupt.2"), "<plist><dict><key>cut short");
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).stringForKey("kept"), "value");
}

// Every descriptor the process may open is taken while it lives.
class DescriptorsExhausted {
public:
    DescriptorsExhausted() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit low = saved_;
        low.rlim_cur = 256;
        setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = dup(STDERR_FILENO)) >= 0;) taken_.push_back(fd);
    }
    ~DescriptorsExhausted() {
        for (int fd : taken_) close(fd);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_{};
    std::vector<int> taken_;
};

TEST_F(UserDefaultsTest, AFileThatCannotBeOpenedIsKeptAndMergedLater) {
    writeText(filePath(), *plist::writeXml(Value::dict({{"a", 1}, {"b", 2}})));
    const std::string before = contentsOf(filePath());
    testing::internal::CaptureStderr();
    std::optional<UserDefaults> defaults;
    {
        DescriptorsExhausted exhausted;
        defaults.emplace(kDomain, scratch.path());
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not be read"), std::string::npos);
    EXPECT_TRUE(defaults->dictionaryRepresentation().empty());
    EXPECT_EQ(contentsOf(filePath()), before);

    defaults->setInteger("c", 3);
    defaults->removeObject("b");
    std::string error;
    ASSERT_TRUE(defaults->synchronize(&error)) << error;
    EXPECT_EQ(defaults->dictionaryRepresentation(), (Dictionary{{"a", 1}, {"c", 3}}));
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).dictionaryRepresentation(),
              (Dictionary{{"a", 1}, {"c", 3}}));
    EXPECT_FALSE(std::filesystem::exists(filePath() + ".corrupt"));
}

TEST_F(UserDefaultsTest, AFileWithoutReadPermissionIsNeitherMovedNorOverwritten) {
    const std::string folder = scratch / "prefs";
    const std::string path = folder + "/" + kDomain + ".plist";
    std::filesystem::create_directory(folder);
    chmod(scratch.path().c_str(), 0711);
    writeText(path, *plist::writeXml(Value::dict({{"a", 1}})));
    for (const auto& owned : {folder, path}) foundationtest::giveToCheckingUser(owned);
    chmod(path.c_str(), 0);

    testing::internal::CaptureStderr();
    const bool behaved = foundationtest::withoutPrivileges([&] {
        UserDefaults defaults(kDomain, folder);
        defaults.setInteger("c", 3);
        const bool refusedWhileUnreadable = !defaults.synchronize();
        chmod(path.c_str(), 0600);
        return refusedWhileUnreadable && defaults.synchronize() && defaults.integerForKey("a") == 1;
    });
    testing::internal::GetCapturedStderr();
    chmod(path.c_str(), 0600);
    EXPECT_TRUE(behaved);
    EXPECT_EQ(UserDefaults(kDomain, folder).dictionaryRepresentation(),
              (Dictionary{{"a", 1}, {"c", 3}}));
    EXPECT_FALSE(std::filesystem::exists(path + ".corrupt"));
}

TEST_F(UserDefaultsTest, UnwritableFolderFailsAndKeepsTheChanges) {
    writeText(scratch / "blocker", "a file where the folder should be");
    UserDefaults defaults(kDomain, scratch / "blocker");
    defaults.setInteger("pending", 5);
    std::string error;
    EXPECT_FALSE(defaults.synchronize(&error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove(scratch / "blocker");
    ASSERT_TRUE(defaults.synchronize(&error)) << error;
    EXPECT_EQ(UserDefaults(kDomain, scratch / "blocker").integerForKey("pending"), 5);
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    UserDefaults defaults(kDomain, scratch.path());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 50; ++i) {
                defaults.setInteger(formatInteger(t) + "-" + formatInteger(i), i);
                if (i % 5 == 0) defaults.synchronize();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(defaults.synchronize());
    UserDefaults reread(kDomain, scratch.path());
    EXPECT_EQ(reread.dictionaryRepresentation().size(), 200u);
    EXPECT_EQ(reread.integerForKey("3-49"), 49);
}

TEST_F(UserDefaultsTest, DomainMustBeAFileName) {
    for (const char* domain : {"", ".", "..", "../escape", "a/b"}) {
        EXPECT_THROW(UserDefaults(domain, scratch.path()), std::invalid_argument) << domain;
    }
}
