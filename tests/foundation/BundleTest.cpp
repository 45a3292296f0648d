#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "foundation/Bundle.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"

using foundation::Bundle;
using foundation::Value;
using foundationtest::writeText;

namespace {

class BundleTest : public testing::Test {
protected:
    void SetUp() override {
        writeText(folder / "Info.plist",
                  R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CFBundleName</key><string>Orvandel</string>
<key>CFBundleVersion</key><string>12</string>
</dict></plist>)");
        writeText(folder / "resource.dat", "pack");
        environment.set("ORVANDEL_BUNDLE_DIR", folder.path());
    }

    foundationtest::ScratchFolder folder;
    foundationtest::ScopedEnvironment environment;
};

}  // namespace

TEST_F(BundleTest, MainBundleReadsTheConfiguredFolder) {
    Bundle bundle = Bundle::mainBundle();
    EXPECT_EQ(bundle.bundlePath(), folder.path());
    EXPECT_EQ(bundle.objectForInfoDictionaryKey("CFBundleName"), Value("Orvandel"));
    EXPECT_EQ(bundle.infoDictionary().size(), 2u);
    EXPECT_TRUE(bundle.objectForInfoDictionaryKey("SUFeedURL").isNil());

    struct Case {
        const char* name;
        const char* type;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {"resource", "dat", folder / "resource.dat"},
        {"Info", "plist", folder / "Info.plist"},
        {"resource", "pack", std::nullopt},
        {"../resource", "dat", std::nullopt},
        {"", "dat", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "." + c.type);
        EXPECT_EQ(bundle.pathForResource(c.name, c.type), c.path);
    }
}

TEST_F(BundleTest, MissingOrBrokenInformationGivesAnEmptyDictionary) {
    EXPECT_TRUE(Bundle(folder / "absent").infoDictionary().empty());
    writeText(folder / "Info.plist", "<plist><dict><key>x</key>");
    EXPECT_TRUE(Bundle(folder.path()).infoDictionary().empty());
}

TEST_F(BundleTest, WithoutTheVariableTheBuildTreeBundleIsUsed) {
    environment.unset("ORVANDEL_BUNDLE_DIR");
    EXPECT_TRUE(Bundle::mainBundlePath().ends_with("/bundle")) << Bundle::mainBundlePath();
}
