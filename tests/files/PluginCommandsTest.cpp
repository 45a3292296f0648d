#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "DeviceFolderFixture.h"
#include "data/db/SqlDatabase.h"
#include "foundation/PropertyList.h"

using foundation::Value;
namespace fs = std::filesystem;

namespace {

class PluginCommandsTest : public PluginTest {
protected:
    // A file that claims more bytes than one request may read, without taking the room.
    void putHugeFile(const std::string& name) {
        put(media(), name, "");
        ASSERT_EQ(::truncate((media() + "/" + name).c_str(), 300ll << 20), 0);
    }
};

TEST_F(PluginCommandsTest, ValuesAndPairing) {
    device->setDeviceValue("DeviceName", "", "Phone");
    device->setDeviceValue("Bytes", "", foundation::Data{1, 2});
    device->setDeviceValue("Mixed", "com.apple.disk_usage",
                           Value::dict({{"raw", foundation::Data{1}}, {"Total", std::int64_t{5}}}));
    const auto info = [&](const char* key, const char* domain = "") {
        return ask(Value::dict({{"cmd", "device-info"}, {"udid", device->uuid()}, {"key", key}, {"domain", domain}}));
    };
    EXPECT_EQ(info("DeviceName"), data("Phone"));
    EXPECT_EQ(info("Bytes"), no());
    EXPECT_EQ(info("Nothing"), no());
    EXPECT_EQ(info("Mixed", "com.apple.disk_usage"), data(Value::dict({{"Total", std::int64_t{5}}})));
    EXPECT_EQ(on("device-unpair", ""), ok());
    EXPECT_EQ(on("device-is-paired", ""), data(Value::dict({{"paired", false}})));
    EXPECT_EQ(on("device-pair", ""), ok());
    device->resetCallCounts();
    EXPECT_EQ(on("device-pair", ""), ok());
    EXPECT_EQ(device->callCount("pair"), 0);
}

TEST_F(PluginCommandsTest, FoldersAreMadeTestedRenamedAndDeleted) {
    put(media(), "file", "x");
    put(media(), "Tree/a/b.txt", "b");
    EXPECT_EQ(on("device-newfolder", "/New"), ok());
    EXPECT_TRUE(fs::is_directory(media() + "/New"));
    device->resetCallCounts();
    EXPECT_EQ(on("device-newfolder", "/New"), ok());
    EXPECT_EQ(device->callCount("createDirectory"), 0);
    EXPECT_EQ(on("device-newfolder", "/file"), no());

    EXPECT_EQ(on("device-exists", "/New"), data(Value::dict({{"isdir", true}})));
    EXPECT_EQ(on("device-exists", "/file"), data(Value::dict({{"isdir", false}})));
    EXPECT_EQ(on("device-exists", "/none"), no());

    EXPECT_EQ(on("device-rename", "/New"), error("missing new path"));
    EXPECT_EQ(on("device-rename", "/New", {{"to", "../../etc"}}), error("Invalid device path: ../../etc"));
    EXPECT_EQ(on("device-rename", "/New", {{"to", "Renamed"}}), ok());
    EXPECT_TRUE(fs::is_directory(media() + "/Renamed"));

    EXPECT_EQ(on("device-delete", "/Tree", {{"recursive", "1"}}), no());
    EXPECT_TRUE(fs::exists(media() + "/Tree/a/b.txt"));
    EXPECT_EQ(on("device-delete", "/Tree", {{"recursive", true}}), ok());
    EXPECT_FALSE(fs::exists(media() + "/Tree"));
    EXPECT_EQ(on("device-delete", "/file"), ok());
    EXPECT_EQ(on("device-delete", "/file"), no());

    // A folder in the application's container, whatever service was current before.
    device->changeService("com.apple.afc");
    EXPECT_EQ(on("device-newfolder", "/Documents/Inbox", {{"type", "app"}, {"appid", kAppId}}), ok());
    EXPECT_TRUE(fs::is_directory(container() + "/Documents/Inbox"));
    EXPECT_EQ(on("device-newfolder", "/Documents/X", {{"type", "app"}}), no());
}

TEST_F(PluginCommandsTest, ListingsGiveRecordsOfFoldersFirst) {
    put(media(), "Music/b.mp3", "12345");
    put(media(), "Music/Sub/c", "");
    put(media(), ".OrvandelDisk/Music/d.mp3", "1");
    struct stat info {};
    ASSERT_EQ(::lstat((media() + "/Music/b.mp3").c_str(), &info), 0);
    const Value song = Value::dict({{"name", "b.mp3"}, {"path", "/Music/b.mp3"}, {"size", std::uint64_t{5}},
                                    {"created", static_cast<double>(info.st_ctim.tv_sec)},
                                    {"modified", static_cast<double>(info.st_mtim.tv_sec)}, {"isdir", false},
                                    {"type", std::int64_t{3}}, {"id", "com.apple.afc"}, {"entry", ""}});
    const Value folder = on("device-ls", "/Music");
    EXPECT_EQ(folder["data"]["properties"][0]["name"], "Sub");
    EXPECT_EQ(folder["data"]["properties"][1], song);
    EXPECT_EQ(on("device-ls", "/Music/b.mp3")["data"]["properties"]["size"], std::uint64_t{5});

    const Value disk = on("device-ls", "/Music", {{"type", "disk"}})["data"]["properties"][0];
    EXPECT_EQ(disk["path"].stringOr() + disk["entry"].stringOr() + disk["id"].stringOr(),
              "/.OrvandelDisk/Music/d.mp3/.OrvandelDisk/");

    const Value noNode = on("device-ls", "/Music", {{"type", "app"}});
    EXPECT_EQ(noNode, data(Value::dict({{"isdir", false},
                                        {"properties", Value::dict({{"name", ""}, {"path", ""},
                                                                    {"size", std::uint64_t{0}},
                                                                    {"created", 0.0}, {"modified", 0.0},
                                                                    {"isdir", false}, {"type", std::int64_t{0}},
                                                                    {"id", ""}, {"entry", ""}})}})));
}

TEST_F(PluginCommandsTest, RefreshStartsTheServiceAfreshBeforeTheCommand) {
    put(media(), "Music/b.mp3", "12345");
    put(media(), "Music/Sub/c", "");
    // The calls from the service's reset on, as many as asked for.
    const auto fromTheReset = [&](std::size_t count) {
        const auto log = device->callLog();
        const auto reset = std::find(log.begin(), log.end(), "resetService");
        return std::vector<std::string>(reset, reset + std::min<std::ptrdiff_t>(log.end() - reset, count));
    };
    // The device's service is let go and the node's made current again before the listing
    // makes it current for its own work.
    for (const Value& flag : {Value(true), Value("1"), Value(1)}) {
        device->resetCallCounts();
        EXPECT_EQ(on("device-ls", "/Music", {{"refresh", flag}})["data"]["properties"].size(), 2u);
        EXPECT_EQ(fromTheReset(3), (std::vector<std::string>{"resetService", "changeServiceFileSharingEnabled",
                                                              "changeServiceFileSharingEnabled"}));
        EXPECT_EQ(device->callCount("resetService"), 1);
    }
    for (const Value& flag : {Value(false), Value("0"), Value()}) {
        device->resetCallCounts();
        EXPECT_EQ(on("device-ls", "/Music", {{"refresh", flag}})["data"]["properties"].size(), 2u);
        EXPECT_EQ(device->callCount("resetService"), 0);
    }
    // Without a node the device's service is still let go, and nothing makes one current.
    device->resetCallCounts();
    EXPECT_EQ(on("device-readfile", "/Music/b.mp3", {{"type", "app"}, {"refresh", true}, {"length", 5}}),
              error("Failed to read file: (/Music/b.mp3)"));
    EXPECT_EQ(device->callLog(), std::vector<std::string>{"resetService"});
    EXPECT_FALSE(device->itemExistsAtPath("/Music/b.mp3"));
    device->changeService("com.apple.afc");
    EXPECT_TRUE(device->itemExistsAtPath("/Music/b.mp3"));
}

TEST_F(PluginCommandsTest, ReadsTakeRangesCountFromTheEndAndStayWithinTheLimit) {
    put(media(), "ten.bin", "0123456789");
    putHugeFile("huge.bin");
    const auto read = [&](Value offset, Value length, const char* path = "/ten.bin") {
        return on("device-readfile", path, {{"offset", std::move(offset)}, {"length", std::move(length)}});
    };
    const auto bytes = [](const char* base64, std::uint64_t length) {
        return data(Value::dict({{"bytes", base64}, {"length", length}}));
    };
    struct Case {
        const char* name;
        Value answer;
        Value expected;
    };
    const Case cases[] = {
        {"range", read(2, 3), bytes("MjM0", 3)},
        {"numeric texts", read("2", "3"), bytes("MjM0", 3)},
        {"last three", read(-3, -1), bytes("Nzg5", 3)},
        {"offset before the start", read(-100, -1), bytes("MDEyMzQ1Njc4OQ==", 10)},
        {"past the end", read(20, 5), bytes("", 0)},
        {"past the end, to the end", read(20, -1), bytes("", 0)},
        {"no length", read(10, Value()), error("length must be specified.")},
        {"zero length", read(0, 0), error("length must be specified.")},
        {"length below -1", read(0, -2), error("length must be -1 (to the end) or more than 0.")},
        {"missing file", read(0, 4, "/none"), error("Failed to read file: (/none)")},
        {"too much at once", read(0, -1, "/huge.bin"), error("Reads are limited to 268435456 bytes at a time.")},
        {"limit exactly", read(0, std::int64_t{268435456}, "/ten.bin"), bytes("MDEyMzQ1Njc4OQ==", 10)},
        {"more than the limit of a small file", read(2, std::int64_t{268435457}, "/ten.bin"),
         bytes("MjM0NTY3ODk=", 8)},
        {"more than the limit of a large one", read(0, std::int64_t{268435457}, "/huge.bin"),
         error("Reads are limited to 268435456 bytes at a time.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.answer, c.expected);
    }
    EXPECT_EQ(on("device-readfile", "/ten.bin", {{"length", 1}, {"type", "app"}}),
              error("Failed to read file: (/ten.bin)"));
}

TEST_F(PluginCommandsTest, WritesAppendDecodedBytesSkippingForeignCharacters) {
    put(media(), "log.txt", "ab");
    EXPECT_EQ(on("device-writefile", "/log.txt", {{"bytes", "Y2Rl\nZmc=\r\n"}}), ok());
    EXPECT_EQ(read(media() + "/log.txt"), "abcdefg");
    EXPECT_EQ(on("device-writefile", "/log.txt", {{"bytes", ""}}), ok());
    EXPECT_EQ(read(media() + "/log.txt"), "abcdefg");
    EXPECT_EQ(on("device-writefile", "/log.txt", {{"bytes", "abc"}}), error("Invalid data to be written."));
    EXPECT_EQ(on("device-writefile", "/log.txt"), error("Invalid data to be written."));
    EXPECT_EQ(on("device-writefile", "/log.txt", {{"bytes", "eA=="}, {"type", "app"}}), no());
    EXPECT_EQ(read(media() + "/log.txt"), "abcdefg");
}

TEST_F(PluginCommandsTest, PropertyListsInEveryFormArriveCleaned) {
    const Value list = Value::dict({{"Name", "Ring"},
                                    {"On", true},
                                    {"Count", std::int64_t{3}},
                                    {"Raw", foundation::Data{1, 2, 3}},
                                    {"When", foundation::Date{1000.0}},
                                    {"Nested", Value::dict({{"Raw", foundation::Data{1}}})},
                                    {"List", Value::list({foundation::Data{1}, "kept"})}});
    const Value cleaned = Value::dict({{"Name", "Ring"}, {"On", true}, {"Count", std::int64_t{3}},
                                       {"When", 1000.0}, {"Nested", foundation::Dictionary{}},
                                       {"List", Value::list({"kept"})}});
    put(media(), "x.plist", *foundation::plist::writeXml(list));
    const auto binary = *foundation::plist::writeBinary(list);
    put(media(), "b.plist", std::string(binary.begin(), binary.end()));
    put(media(), "t.plist", "{ Name = Ring; Items = (a, b); }");
    put(media(), "bad.plist", "<?xml version=\"1.0\"?><plist><dict><key>a</key>");
    put(media(), "empty.plist", "");
    const auto topData = *foundation::plist::writeBinary(foundation::Data{1, 2});
    put(media(), "data.plist", std::string(topData.begin(), topData.end()));
    putHugeFile("huge.plist");

    EXPECT_EQ(on("device-read-plist", "/x.plist"), data(cleaned));
    EXPECT_EQ(on("device-read-plist", "/b.plist"), data(cleaned));
    EXPECT_EQ(on("device-read-plist", "/t.plist"),
              data(Value::dict({{"Name", "Ring"}, {"Items", Value::list({"a", "b"})}})));
    EXPECT_EQ(on("device-read-plist", "/data.plist"), data(Value::null()));
    const Value bad = on("device-read-plist", "/bad.plist");
    EXPECT_EQ(bad["result"], false);
    EXPECT_TRUE(bad["error"].stringOr().starts_with(
        "The data couldn't be read because it isn't in the correct format. ("));
    EXPECT_EQ(on("device-read-plist", "/empty.plist"), error("Failed to read data from device."));
    EXPECT_EQ(on("device-read-plist", "/none.plist"), error("Failed to read data from device."));
    EXPECT_EQ(on("device-read-plist", "/huge.plist"), error("Reads are limited to 268435456 bytes at a time."));
    // A device that says its file is small is not believed: the bytes are counted.
    device->failOperation("getSizeOfItemAtPath");
    EXPECT_EQ(on("device-read-plist", "/huge.plist"), error("Reads are limited to 268435456 bytes at a time."));
    EXPECT_EQ(on("device-read-sqlite", "/huge.plist"), error("Reads are limited to 268435456 bytes at a time."));
}

TEST_F(PluginCommandsTest, SqliteFilesAreBrowsedReadOnlyAndAlwaysClosed) {
    {
        const std::string path = media() + "/db.sqlite";
        auto db = SqlDatabase::databaseWithPath(path);
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements("CREATE TABLE t (a INTEGER, b TEXT); INSERT INTO t VALUES (1, 'x');"));
        db->close();
    }
    put(media(), "junk.sqlite", std::string(4096, 'j'));
    // A nil action is left out of the request.
    const auto sqlite = [&](Value action, std::initializer_list<std::pair<const std::string, Value>> more = {},
                            const char* path = "/db.sqlite") {
        Value request = Value::dict(more);
        if (!action.isNil()) request.set("action", action);
        request.set("cmd", "device-read-sqlite");
        request.set("udid", device->uuid());
        request.set("path", path);
        return ask(request);
    };
    // Warm SQLite's own caches before counting its memory.
    sqlite("tables");
    const auto before = sqlite3_memory_used();
    struct Case {
        const char* name;
        Value answer;
        Value expected;
    };
    const Case cases[] = {
        {"tables", sqlite("tables"), data(Value::dict({{"result", true}, {"tables", Value::list({"t"})}}))},
        {"reader's reason", sqlite("columns", {{"table", 4}}), error("no table specified")},
        {"unknown action", sqlite("drop"), error("Unknown sqlite action: drop")},
        {"no action", sqlite(Value()), error("Unknown sqlite action: (null)")},
        {"number as action", sqlite(7), error("Unknown sqlite action: 7")},
        {"SQL error", sqlite("query", {{"params", Value::dict({{"query", "SELECT nope FROM t"}})}}),
         error("no such column: nope")},
        {"no writing", sqlite("query", {{"params", Value::dict({{"query", "DELETE FROM t"}})}}),
         error("attempt to write a readonly database")},
        {"no attaching",
         sqlite("query", {{"params", Value::dict({{"query", "ATTACH DATABASE '/tmp/x.db' AS x"}})}}),
         error("too many attached databases - max 0")},
        {"not a database", sqlite("tables", {}, "/junk.sqlite"), error("file is not a database")},
        {"missing file", sqlite("tables", {}, "/none.sqlite"), error("Failed to read data from device.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.answer, c.expected);
        EXPECT_EQ(sqlite3_memory_used(), before);
    }
}

}  // namespace
