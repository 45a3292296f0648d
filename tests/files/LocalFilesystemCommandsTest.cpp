#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files/WVLocalFilesystemPlugin.h"
#include "foundation/Base64.h"
#include "foundation/ScopedEnvironment.h"
#include "foundation/ScratchFolder.h"
#include "foundation/Unprivileged.h"
#include "support/ValuePrinter.h"

using foundation::Value;
namespace fs = std::filesystem;

namespace {

// Serves one request as the background job does; the answer, given exactly once.
Value ask(const Value& request) {
    Value answer;
    int answers = 0;
    WVLocalFilesystemPlugin::process(request,
                                     [&](const Value& reply) { answer = reply, ++answers; });
    EXPECT_EQ(answers, 1);
    return answer;
}

// The same, subject to file permissions (as "nobody" when the tests run as root).
bool answersWithoutPrivileges(const Value& request, const Value& expected) {
    return foundationtest::withoutPrivileges([&] {
        Value answer;
        WVLocalFilesystemPlugin::process(request, [&](const Value& reply) { answer = reply; });
        return answer == expected;
    });
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::string base64(const std::string& text) {
    return foundation::base64::encode(
        {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}
const Value kTrue = Value::dict({{"result", true}});
const Value kFalse = Value::dict({{"result", false}});

struct Case {
    Value request;
    Value answer;
};

class LocalFilesystemCommands : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"report.txt", "report (1).txt", "archive.tar.gz", "README", ".hidden"})
            writeText(at(name), "0123456789abcdefghij");
        fs::create_directories(at("Photos/inner"));
        writeText(at("Photos/inner/keep.jpg"), "pixels");
        fs::create_symlink(at("Photos"), at("link-to-photos"));
    }
    std::string at(const std::string& name) const { return dir / name; }

    void check(const std::vector<Case>& cases) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.request));
            EXPECT_EQ(ask(c.request), c.answer);
        }
    }

    foundationtest::ScratchFolder dir;
};

}  // namespace

TEST_F(LocalFilesystemCommands, PathExistsEnsureFilepathRemoveAndUnknownCommands) {
    auto cmd = [&](const char* name, const std::string& path) {
        return Value::dict({{"cmd", name}, {"path", path}});
    };
    auto freePath = [&](const std::string& name, Value dirFlag = false) {
        Value request = cmd("ensure-filepath", at(name));
        if (dirFlag != Value(false)) request.set("dir", dirFlag);
        return request;
    };
    auto found = [](const std::string& path) {
        return Value::dict({{"result", true}, {"data", Value::dict({{"path", path}})}});
    };
    check({
        {cmd("path-exists", at("report.txt")), Value::dict({{"result", true}, {"isdir", false}})},
        {cmd("path-exists", at("link-to-photos")),
         Value::dict({{"result", true}, {"isdir", true}})},
        {cmd("path-exists", at("none")), Value::dict({{"result", false}, {"isdir", false}})},
        {cmd("path-exists", ""), kFalse},
        {freePath("free.txt"), found(at("free.txt"))},
        {freePath("report.txt"), found(at("report (2).txt"))},
        {freePath("archive.tar.gz"), found(at("archive.tar (1).gz"))},
        {freePath("README"), found(at("README (1)"))},
        {freePath(".hidden"), found(at(".hidden (1)"))},
        {freePath("Photos", true), found(at("Photos (1)"))},
        {freePath("report.txt", true), found(at("report.txt (1)"))},
        {freePath("Photos", "1"), found(at("Photos (1)"))},
        {freePath("Photos", "true"), found(at("Photos (1)"))},
        {freePath("report.txt", "0"), found(at("report (2).txt"))},
        {cmd("rm", at("Photos")), kFalse},
        {cmd("rm", at("none")), kFalse},
        {cmd("rm", ""), kFalse},
        {cmd("rm", at("README")), kTrue},
        // A link to a folder goes itself; what it points to stays.
        {cmd("rm", at("link-to-photos")), kTrue},
        {cmd("RM", at("report.txt")), failure("unhandled command: RM")},
        {cmd("Path-Exists", at("report.txt")), failure("unhandled command: Path-Exists")},
        {Value::dict({{"path", at("report.txt")}}), failure("unhandled command: (null)")},
    });
    EXPECT_FALSE(fs::exists(at("free.txt")));
    EXPECT_FALSE(fs::exists(at("README")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("link-to-photos"))));
    EXPECT_EQ(readText(at("Photos/inner/keep.jpg")), "pixels");

    fs::create_directories(at("locked"));
    writeText(at("locked/file"), "");
    for (const char* owned : {"", "locked"}) foundationtest::giveToCheckingUser(at(owned));
    chmod(at("locked").c_str(), 0555);
    EXPECT_TRUE(answersWithoutPrivileges(
        cmd("rm", at("locked/file")),
        failure("\"" + at("locked/file") + "\" could not be removed: Permission denied")));
    EXPECT_TRUE(fs::exists(at("locked/file")));
}

TEST_F(LocalFilesystemCommands, MakeAndListFolders) {
    auto mkdir = [&](const char* name, const std::string& path, Value intermediate = Value()) {
        Value request = Value::dict({{"cmd", name}, {"path", path}});
        if (!intermediate.isNil()) request.set("intermediate", intermediate);
        return request;
    };
    auto notMade = [&](const std::string& name, const std::string& reason) {
        return failure("The folder \"" + at(name) + "\" could not be made: " + reason);
    };
    const Value made = Value::dict({{"result", true}, {"error", Value::null()}});
    check({
        {mkdir("newfolder", at("one")), made},
        {mkdir("mkdir", at("two/three"), true), made},
        {mkdir("mkdir", at("two/four/five"), "1"), made},
        {mkdir("mkdir", at("six/seven"), "0"), notMade("six/seven", "No such file or directory")},
        {mkdir("mkdir", at("Photos"), true), made},
        {mkdir("mkdir", at("x/y")), notMade("x/y", "No such file or directory")},
        {mkdir("newfolder", at("Photos")), notMade("Photos", "File exists")},
        {mkdir("mkdir", at("report.txt"), 1), notMade("report.txt", "Not a directory")},
        {mkdir("mkdir", ""), kFalse},
        {Value::dict({{"cmd", "ls"}, {"path", ""}}), kFalse},
        {Value::dict({{"cmd", "ls"}, {"path", at("none")}}),
         failure("The folder \"" + at("none") +
                 "\" could not be listed: No such file or directory")},
        {Value::dict({{"cmd", "ls"}, {"path", at("report.txt")}}),
         failure("The folder \"" + at("report.txt") + "\" could not be listed: Not a directory")},
    });
    EXPECT_TRUE(fs::is_directory(at("two/three")));
    EXPECT_TRUE(fs::is_directory(at("two/four/five")));
    EXPECT_FALSE(fs::exists(at("x")));

    auto entry = [&](const std::string& name, bool symlink, bool isdir) {
        return Value::dict({{"name", name},
                            {"fullpath", at(name)},
                            {"readable", true},
                            {"writable", true},
                            {"symlink", symlink},
                            {"isdir", isdir}});
    };
    for (const char* cmd : {"ls", "LS", "Ls"}) {
        Value answer = ask(Value::dict({{"cmd", cmd}, {"path", dir.path() + "/"}}));
        ASSERT_EQ(answer["result"], Value(true));
        std::map<std::string, Value> byName;
        for (const Value& item : *answer["data"].array()) byName[*item["name"].string()] = item;
        EXPECT_EQ(byName.size(), 9u) << cmd;
        EXPECT_EQ(byName[".hidden"], entry(".hidden", false, false));
        EXPECT_EQ(byName["Photos"], entry("Photos", false, true));
        EXPECT_EQ(byName["link-to-photos"], entry("link-to-photos", true, false));
    }
}

TEST_F(LocalFilesystemCommands, ReadsPiecesWithinBounds) {
    const std::string big = at("big");  // sparse, larger than one read may be
    writeText(big, "");
    fs::resize_file(big, (std::uintmax_t(256) << 20) + 1);
    auto read = [&](Value offset, Value length, const std::string& path = "") {
        Value request =
            Value::dict({{"cmd", "readfile"}, {"path", path.empty() ? at("report.txt") : path}});
        if (!offset.isNil()) request.set("offset", offset);
        if (!length.isNil()) request.set("length", length);
        return request;
    };
    auto bytes = [](const std::string& text) {
        return Value::dict(
            {{"result", true},
             {"data", Value::dict({{"bytes", base64(text)},
                                   {"length", static_cast<std::int64_t>(text.size())}})}});
    };
    check({
        {read(2, 3), bytes("234")},
        {read(Value(), 4), bytes("0123")},
        {read(-10, -1), bytes("abcdefghij")},
        {read(-3, 2), bytes("hi")},
        {read(-1000, 3), bytes("012")},
        {read(18, 10), bytes("ij")},
        {read(20, 5), bytes("")},
        {read(1000, -1), bytes("")},
        {read(10, Value()), failure("length must be specified.")},
        {read(Value(), 0), failure("length must be specified.")},
        {read(Value(), -2), failure("length must be -1 (to the end) or more.")},
        {read(Value(), 1, at("none")), failure("Could not open file \"" + at("none") + "\"")},
        {read(Value(), 1, at("Photos")), failure("Could not open file \"" + at("Photos") + "\"")},
        {read(Value(), -1, big),
         failure("A read is limited to 268435456 bytes; ask for the file in pieces.")},
        {read(-4, 1 << 30, big), bytes(std::string(4, '\0'))},
        // Numbers sent as text count as those numbers.
        {read(Value(), "4"), bytes("0123")},
        {read("2", "3"), bytes("234")},
        {read(" -10", "-1"), bytes("abcdefghij")},
        {read("+18", 10), bytes("ij")},
        {read(10, "0"), failure("length must be specified.")},
        {read(10, "none"), failure("length must be specified.")},
        {read("-99999999999999999999", "99999999999999999999"), bytes("0123456789abcdefghij")},
    });
}

TEST_F(LocalFilesystemCommands, WritesByAppendingOnly) {
    const std::string fresh = at("fresh.bin");
    auto write = [&](Value bytes, const std::string& path = "") {
        Value request = Value::dict({{"cmd", "writefile"}, {"path", path.empty() ? fresh : path}});
        if (!bytes.isNil()) request.set("bytes", bytes);
        return request;
    };
    check({
        {write(base64("Hello")), kTrue},
        {write(base64(", world")), kTrue},
        {write("IS\r\nE*="), kTrue},  // characters outside the alphabet are skipped
        {write(""), kTrue},
        {write("abc"), failure("Invalid data to be written.")},
        {write(12), failure("Invalid data to be written.")},
        {write(Value()), failure("Invalid data to be written.")},
        {write(base64("x"), at("none/x")),
         failure("Could not open file \"" + at("none/x") + "\" for writing.")},
        {write(base64("x"), at("Photos")),
         failure("Could not open file \"" + at("Photos") + "\" for writing.")},
        {write(base64("x"), "/dev/full"),
         failure("CRITICAL Exception: Cannot write to \"/dev/full\": No space left on device")},
    });
    EXPECT_EQ(readText(fresh), "Hello, world!!");

    const std::string readOnly = at("report.txt");
    for (const char* owned : {"", "report.txt"}) foundationtest::giveToCheckingUser(at(owned));
    chmod(readOnly.c_str(), 0444);
    EXPECT_TRUE(
        answersWithoutPrivileges(write(base64("new"), readOnly),
                                 failure("Could not open file \"" + readOnly + "\" for writing.")));
    EXPECT_EQ(readText(readOnly), "0123456789abcdefghij");
}

TEST(LocalFilesystemCommonPaths, FollowTheUsersFoldersAndMakeThoseMissing) {
    foundationtest::ScratchFolder home;
    foundationtest::ScopedEnvironment environment;
    environment.set("HOME", home.path());
    environment.set("XDG_CONFIG_HOME", home / "config");
    environment.set("XDG_DATA_HOME", home / "data");
    environment.set("XDG_CACHE_HOME", home / "cache");
    environment.set("TMPDIR", home / "tmp");
    environment.set("XDG_PICTURES_DIR", home / "env-pictures");
    for (const char* name : {"XDG_MUSIC_DIR", "XDG_DOWNLOAD_DIR", "XDG_DOCUMENTS_DIR",
                             "XDG_DESKTOP_DIR", "XDG_PUBLICSHARE_DIR"})
        environment.unset(name);
    fs::create_directories(home / "config");
    writeText(home / "config/user-dirs.dirs",
              "# written by the user's desktop\n"
              "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n"
              "XDG_DOWNLOAD_DIR=\"" +
                  home / "dl" +
                  "\"\n"
                  "XDG_DESKTOP_DIR=\"$HOME/\"\n"
                  "XDG_PICTURES_DIR=\"$HOME/file-pictures\"\n"
                  "XDG_PUBLICSHARE_DIR=\"relative/ignored\"\n");
    // The person's folders are given as looked up, and those missing are made when asked for.
    for (const char* present : {"Tunes", "dl", "env-pictures"}) fs::create_directories(home / present);
    const Value expected = Value::dict({
        {"appSupportPath", home / "data"},
        {"temporaryPath", home / "tmp"},
        {"musicPath", home / "Tunes"},
        {"downloadPath", home / "dl"},
        {"documentsPath", home / "Documents"},
        {"picturesPath", home / "env-pictures"},
        {"cachePath", home / "cache"},
        {"desktopPath", home.path()},
        {"publicPath", home / "Public"},
        {"homePath", home.path()},
    });
    for (const char* cmd : {"common-paths", "COMMON-PATHS"})
        EXPECT_EQ(ask(Value::dict({{"cmd", cmd}})),
                  Value::dict({{"result", true}, {"data", expected}}));
    for (const char* made : {"data", "cache", "Documents", "Public", "Tunes", "dl"})
        EXPECT_TRUE(fs::is_directory(home / made)) << made;

    // A path where something other than a folder stands is given as "".
    writeText(home / "Documents-file", "");
    environment.set("XDG_DOCUMENTS_DIR", home / "Documents-file");
    EXPECT_EQ(ask(Value::dict({{"cmd", "common-paths"}}))["data"]["documentsPath"], Value(""));
}
