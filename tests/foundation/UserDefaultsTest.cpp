#include "foundation/UserDefaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ScratchFolder.h"
#include "foundation/NumberFormat.h"
#include "foundation/PropertyList.h"

using namespace foundation;
using foundationtest::ScratchFolder;

namespace {

const std::string kDomain = "com.orvandel.Test";

std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class UserDefaultsTest : public testing::Test {
protected:
    std::string filePath() const { return scratch / (kDomain + ".plist"); }
    ScratchFolder scratch;
};

}  // namespace

TEST_F(UserDefaultsTest, SynchronizedValuesReachAFreshInstance) {
    const Value nested = Value::dict({{"list", Value::list({1, "two", 3.5})}, {"on", true}});
    {
        UserDefaults defaults(kDomain, scratch / "Prefs");
        defaults.setBool("flag", true);
        defaults.setInteger("count", -42);
        defaults.setDouble("ratio", 0.25);
        EXPECT_TRUE(defaults.setObject("name", "Zoë"));
        EXPECT_TRUE(defaults.setObject("blob", Data{0, 1, 255}));
        EXPECT_TRUE(defaults.setObject("when", Date{1700000000.5}));
        EXPECT_TRUE(defaults.setObject("nested", nested));
        EXPECT_TRUE(defaults.setObject("huge", std::uint64_t{1} << 63));
        // Nothing reaches the disk before synchronize.
        EXPECT_FALSE(std::filesystem::exists(scratch / "Prefs"));
        std::string error;
        ASSERT_TRUE(defaults.synchronize(&error)) << error;
    }
    EXPECT_TRUE(contentsOf(scratch / ("Prefs/" + kDomain + ".plist")).starts_with("bplist00"));

    UserDefaults again(kDomain, scratch / "Prefs");
    EXPECT_TRUE(again.boolForKey("flag"));
    EXPECT_EQ(again.integerForKey("count"), -42);
    EXPECT_EQ(again.doubleForKey("ratio"), 0.25);
    EXPECT_EQ(again.stringForKey("name"), "Zoë");
    EXPECT_EQ(again.dataForKey("blob"), (Data{0, 1, 255}));
    EXPECT_EQ(again.objectForKey("when"), Value(Date{1700000000.5}));
    EXPECT_EQ(again.objectForKey("nested"), nested);
    EXPECT_EQ(again.objectForKey("huge").toUInt64(), std::uint64_t{1} << 63);
    EXPECT_EQ(again.dictionaryRepresentation().size(), 8u);
}

TEST_F(UserDefaultsTest, DestructorWritesPendingChanges) {
    { UserDefaults(kDomain, scratch.path()).setInteger("kept", 7); }
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).integerForKey("kept"), 7);
}

TEST_F(UserDefaultsTest, RemovingAndNilValues) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.setInteger("a", 1);
    defaults.setInteger("b", 2);
    EXPECT_TRUE(defaults.setObject("a", Value()));
    defaults.removeObject("b");
    defaults.removeObject("never-set");
    EXPECT_TRUE(defaults.objectForKey("a").isNil());
    EXPECT_TRUE(defaults.objectForKey("b").isNil());
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_TRUE(UserDefaults(kDomain, scratch.path()).dictionaryRepresentation().empty());
}

TEST_F(UserDefaultsTest, RefusesValuesAPropertyListCannotHold) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.setObject("good", "kept");
    std::string error;
    EXPECT_FALSE(defaults.setObject("good", Value::null(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(
        defaults.setObject("inner", Value::dict({{"x", Value::list({1, Value::null()})}})));
    EXPECT_EQ(defaults.stringForKey("good"), "kept");
    EXPECT_TRUE(defaults.objectForKey("inner").isNil());
    // The refused values must not block writing the good ones.
    ASSERT_TRUE(defaults.synchronize(&error)) << error;
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).stringForKey("good"), "kept");
}

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerOnlyForMissingKeys) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.registerDefaults({{"showWelcome", true}, {"pattern", "/$a/$b"}, {"level", 3}});
    defaults.registerDefaults({{"level", 4}});
    defaults.setObject("pattern", "/$t");
    EXPECT_TRUE(defaults.boolForKey("showWelcome"));
    EXPECT_EQ(defaults.stringForKey("pattern"), "/$t");
    EXPECT_EQ(defaults.integerForKey("level"), 4);
    defaults.removeObject("pattern");
    EXPECT_EQ(defaults.stringForKey("pattern"), "/$a/$b");

    defaults.setBool("showWelcome", false);
    Dictionary all = defaults.dictionaryRepresentation();
    EXPECT_EQ(all.size(), 3u);
    EXPECT_EQ(all["showWelcome"], Value(false));
    EXPECT_EQ(all["pattern"], Value("/$a/$b"));

    ASSERT_TRUE(defaults.synchronize());
    UserDefaults fresh(kDomain, scratch.path());
    EXPECT_EQ(fresh.dictionaryRepresentation(), (Dictionary{{"showWelcome", false}}));
}

TEST_F(UserDefaultsTest, TypedGettersOnOtherKinds) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.setObject("text", "YES");
    defaults.setObject("number", 2.9);
    defaults.setObject("negative", -0.5);
    defaults.setObject("list", Value::list({1}));
    defaults.setObject("map", Value::dict({{"k", 1}}));
    defaults.setObject("flag", true);

    EXPECT_FALSE(defaults.boolForKey("text"));
    EXPECT_EQ(defaults.integerForKey("text"), 0);
    EXPECT_EQ(defaults.doubleForKey("text"), 0.0);
    EXPECT_EQ(defaults.dataForKey("text"), std::nullopt);
    EXPECT_EQ(defaults.dictionaryForKey("text"), std::nullopt);

    EXPECT_TRUE(defaults.boolForKey("number"));
    EXPECT_EQ(defaults.integerForKey("number"), 2);
    EXPECT_EQ(defaults.stringForKey("number"), std::nullopt);
    EXPECT_TRUE(defaults.boolForKey("negative"));
    EXPECT_EQ(defaults.integerForKey("negative"), 0);

    EXPECT_EQ(defaults.integerForKey("flag"), 1);
    EXPECT_EQ(defaults.doubleForKey("flag"), 1.0);
    EXPECT_EQ(defaults.stringForKey("flag"), std::nullopt);

    EXPECT_EQ(defaults.arrayForKey("map"), std::nullopt);
    EXPECT_EQ(defaults.dictionaryForKey("list"), std::nullopt);
    EXPECT_EQ(defaults.arrayForKey("list"), (Array{1}));
    EXPECT_EQ(defaults.dictionaryForKey("map"), (Dictionary{{"k", 1}}));
    EXPECT_FALSE(defaults.boolForKey("list"));
    EXPECT_EQ(defaults.integerForKey("map"), 0);

    EXPECT_FALSE(defaults.boolForKey("absent"));
    EXPECT_EQ(defaults.integerForKey("absent"), 0);
    EXPECT_EQ(defaults.stringForKey("absent"), std::nullopt);
    EXPECT_EQ(defaults.dataForKey("absent"), std::nullopt);
}

TEST_F(UserDefaultsTest, SynchronizeWithoutChangesReloadsTheFile) {
    UserDefaults reader(kDomain, scratch.path());
    UserDefaults writer(kDomain, scratch.path());
    writer.setObject("from", "writer");
    ASSERT_TRUE(writer.synchronize());
    EXPECT_TRUE(reader.objectForKey("from").isNil());
    ASSERT_TRUE(reader.synchronize());
    EXPECT_EQ(reader.stringForKey("from"), "writer");

    // Pending changes are written, not thrown away by a reload.
    reader.setObject("own", 1);
    ASSERT_TRUE(reader.synchronize());
    ASSERT_TRUE(writer.synchronize());
    EXPECT_EQ(writer.integerForKey("own"), 1);

    // Any property-list form is read.
    writeText(filePath(), *plist::writeXml(Value::dict({{"xml", "yes"}})));
    ASSERT_TRUE(reader.synchronize());
    EXPECT_EQ(reader.dictionaryRepresentation(), (Dictionary{{"xml", "yes"}}));

    std::filesystem::remove(filePath());
    ASSERT_TRUE(reader.synchronize());
    EXPECT_TRUE(reader.dictionaryRepresentation().empty());
}

TEST_F(UserDefaultsTest, CorruptFileIsKeptAsideNotOverwritten) {
    const std::string garbage = "bplist00 this is not a property list";
    writeText(filePath(), garbage);
    {
        testing::internal::CaptureStderr();
        UserDefaults defaults(kDomain, scratch.path());
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find(".corrupt"), std::string::npos) << log;
        EXPECT_TRUE(defaults.dictionaryRepresentation().empty());
        EXPECT_EQ(contentsOf(filePath() + ".corrupt"), garbage);
        EXPECT_FALSE(std::filesystem::exists(filePath()));
        defaults.setInteger("fresh", 1);
        ASSERT_TRUE(defaults.synchronize());
    }
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).integerForKey("fresh"), 1);

    // A second bad file does not replace the first one kept aside.
    writeText(filePath(), *plist::writeXml(Value::list({"not", "a", "dictionary"})));
    testing::internal::CaptureStderr();
    UserDefaults second(kDomain, scratch.path());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(second.objectForKey("fresh").isNil());
    EXPECT_EQ(contentsOf(filePath() + ".corrupt"), garbage);
    EXPECT_TRUE(contentsOf(filePath() + ".corrupt.1").find("dictionary") != std::string::npos);
}

TEST_F(UserDefaultsTest, FileCorruptedLaterIsReplacedByTheValuesInMemory) {
    UserDefaults defaults(kDomain, scratch.path());
    defaults.setObject("kept", "value");
    ASSERT_TRUE(defaults.synchronize());
    writeText(filePath(), "<plist><dict><key>cut short");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(defaults.synchronize());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(contentsOf(filePath() + ".corrupt"), "<plist><dict><key>cut short");
    EXPECT_EQ(UserDefaults(kDomain, scratch.path()).stringForKey("kept"), "value");
}

TEST_F(UserDefaultsTest, UnwritableFolderFailsAndKeepsTheChanges) {
    writeText(scratch / "blocker", "a file where the folder should be");
    UserDefaults defaults(kDomain, scratch / "blocker");
    defaults.setInteger("pending", 5);
    std::string error;
    EXPECT_FALSE(defaults.synchronize(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(defaults.integerForKey("pending"), 5);
    std::filesystem::remove(scratch / "blocker");
    ASSERT_TRUE(defaults.synchronize(&error)) << error;
    EXPECT_EQ(UserDefaults(kDomain, scratch / "blocker").integerForKey("pending"), 5);
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    UserDefaults defaults(kDomain, scratch.path());
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < kKeysEach; ++i) {
                std::string key = formatInteger(t) + "-" + formatInteger(i);
                defaults.setInteger(key, i);
                if (i % 5 == 0) defaults.synchronize();
                defaults.objectForKey(key);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(defaults.synchronize());
    UserDefaults reread(kDomain, scratch.path());
    EXPECT_EQ(reread.dictionaryRepresentation().size(),
              static_cast<std::size_t>(kThreads * kKeysEach));
    EXPECT_EQ(reread.integerForKey("3-49"), 49);
}

TEST_F(UserDefaultsTest, DomainMustBeAFileName) {
    for (const char* domain : {"", ".", "..", "../escape", "a/b"}) {
        EXPECT_THROW(UserDefaults(domain, scratch.path()), std::invalid_argument) << domain;
    }
    EXPECT_EQ(UserDefaults(kDomain, scratch.path() + "/").filePath(), filePath());
}
