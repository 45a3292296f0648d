// What the phone makes of the records its services answer with.
#include <gtest/gtest.h>

#include "device/AFCFileInfo.h"
#include "device/AMApplication.h"
#include "device/iPhoneDevice.h"
#include "foundation/PropertyList.h"

namespace {

using foundation::Value;

TEST(AFCFileInfo, ConvertsDigitsDatesAndAddsPath) {
    const Value info = AFCFileInfo::fileInfoFromPairs(
        {{"st_size", "000123"},
         {"st_blocks", "12a"},
         {"st_nlink", ""},
         {"st_ino", "99999999999999999999"},
         {"st_mtime", "1500000000999999999"},
         {"st_birthtime", "1400000000000000000"},
         {"st_ctime", "1300000000500000000"},
         {"st_ifmt", "S_IFREG"}},
        "/Media/a.mp3");
    EXPECT_EQ(info["st_size"], Value(std::int64_t{123}));
    EXPECT_EQ(info["st_blocks"], Value("12a"));
    EXPECT_EQ(info["st_nlink"], Value(std::int64_t{0}));
    EXPECT_EQ(info["st_ino"], Value("99999999999999999999"));
    EXPECT_EQ(info["st_mtime"], Value(foundation::Date{1500000000}));
    EXPECT_EQ(info["st_birthtime"], Value(foundation::Date{1400000000}));
    EXPECT_EQ(info["st_ctime"], Value(std::int64_t{1300000000500000000}));
    EXPECT_EQ(info["path"], Value("/Media/a.mp3"));
    EXPECT_TRUE(NSDictionary::isRegularFile(info));
    EXPECT_EQ(NSDictionary::fileSize(info), Value(std::int64_t{123}));
    EXPECT_TRUE(NSDictionary::symLinkTarget(info).isNil());
}

TEST(AFCFileInfo, KindReadings) {
    const Value folder = AFCFileInfo::fileInfoFromPairs({{"st_ifmt", "S_IFDIR"}, {"st_size", "68"}}, "/d");
    const Value link = AFCFileInfo::fileInfoFromPairs(
        {{"st_ifmt", "S_IFLNK"}, {"LinkTarget", "/var/x"}}, "/l");
    EXPECT_TRUE(NSDictionary::isDirectory(folder));
    EXPECT_TRUE(NSDictionary::fileSize(folder).isNil());
    EXPECT_TRUE(NSDictionary::isSymLink(link));
    EXPECT_EQ(NSDictionary::symLinkTarget(link), Value("/var/x"));
}

TEST(AMApplication, NamesComparisonAndFlags) {
    struct Case {
        Value record;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {Value::dict({{"CFBundleDisplayName", "Shown"}, {"CFBundleName", "Bundle"}}), "Shown"},
        {Value::dict({{"CFBundleDisplayName", ""}, {"CFBundleName", "Bundle"}}), "Bundle"},
        {Value::dict({{"CFBundleExecutable", "exe"}}), "exe"},
        {Value::dict({{"CFBundleIdentifier", "a.b"}}), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(AMApplication(c.record).appname(), c.name);

    const AMApplication lower(Value::dict({{"CFBundleName", "notes"}, {"CFBundleIdentifier", "x.one"},
                                           {"UIFileSharingEnabled", true}, {"Container", "/var/C/ABC"}}));
    const AMApplication upper(Value::dict({{"CFBundleName", "NOTES"}, {"CFBundleIdentifier", "x.two"},
                                           {"SignerIdentity", "Apple"}}));
    EXPECT_TRUE(lower.isEqual(upper));
    EXPECT_LT(AMApplication(Value::dict({{"CFBundleName", "Alpha"}})).compare(lower), 0);
    EXPECT_TRUE(lower.fileSharingEnabled());
    EXPECT_FALSE(upper.fileSharingEnabled());
    EXPECT_TRUE(upper.isFromAppStore());
    EXPECT_EQ(lower.appdir(), "/var/C/ABC");
    EXPECT_EQ(lower.valueForKey("bundleid"), Value("x.one"));
    EXPECT_EQ(lower.description(), "<AMApplication name=notes id=x.one>");
}

TEST(iPhoneDevice, IconDataFromSpringboardReplies) {
    const foundation::Data png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 1, 2};
    const auto wrapped = foundation::plist::writeBinary(Value::dict({{"pngData", png}}));
    ASSERT_TRUE(wrapped);
    const auto unwrappable = foundation::plist::writeBinary(Value::list({Value(png)}));
    struct Case {
        Value reply;
        std::optional<foundation::Data> icon;
    };
    const Case cases[] = {
        {Value::dict({{"pngData", png}}), png},
        {Value::dict({{"pngData", *wrapped}}), png},
        {Value::dict({{"pngData", *unwrappable}}), std::nullopt},
        {Value::dict({{"pngData", foundation::Data{'b', 'p', 'l', 'i', 's', 't'}}}),
         foundation::Data{'b', 'p', 'l', 'i', 's', 't'}},  // too short to be a list
        {Value::dict({}), std::nullopt},
        {Value::list({}), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(iPhoneDevice::iconDataFromReply(c.reply), c.icon);
}

}  // namespace
