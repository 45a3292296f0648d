#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "SchemeFixtures.h"
#include "content/AppFetchHandler.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"
#include "support/Latch.h"

using content::AppFetchHandler;
using contenttest::RecordingTask;
using foundation::Value;

namespace {

// A device of files in memory; one folder "/" holding them.
class MemoryDevice : public content::FetchDevice {
public:
    struct Node : content::FetchNode {
        Node(MemoryDevice& device, std::string path, bool folder)
            : device(device), path(std::move(path)), folder(folder) {}
        std::vector<std::shared_ptr<content::FetchNode>> children() override {
            std::vector<std::shared_ptr<content::FetchNode>> list;
            if (!folder) return list;
            for (const auto& [name, bytes] : device.files)
                list.push_back(std::make_shared<Node>(device, "/" + name, false));
            return list;
        }
        void refreshChildren() override { device.calls.push_back("refreshChildren " + path); }
        std::string displayName() override { return path.substr(path.rfind('/') + 1); }
        std::string fullPath() override { return path; }
        bool isDirectory() override { return folder; }
        std::uint64_t fileSize() override {
            auto found = device.files.find(path.substr(1));
            return found == device.files.end() ? 0 : found->second.size();
        }
        foundation::Date createdDate() override { return {100}; }
        foundation::Date modifiedDate() override { return {200}; }
        std::int32_t fsType() override { return 3; }
        std::optional<std::string> rootPath() override { return "com.apple.afc"; }
        std::optional<std::string> entryPath() override { return std::nullopt; }
        std::int32_t lastErrorCode() override { return 0; }
        std::string iconName() override { return folder ? "folder" : "text-x-generic"; }
        // Pictures hold 100 by 60 pixels.
        NSImage::Image realImage() override {
            if (!path.ends_with(".jpg")) return nullptr;
            return NSImage::Image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 100, 60), g_object_unref);
        }
        MemoryDevice& device;
        std::string path;
        bool folder;
    };

    std::recursive_mutex& objectLock() override { return lock; }
    std::shared_ptr<content::FetchNode> fileNode(const std::string& path) override {
        return std::make_shared<Node>(*this, path, path == "/");
    }
    std::shared_ptr<content::FetchNode> diskNode(const std::string&) override { return nullptr; }
    std::shared_ptr<content::FetchNode> appNode(const std::string&, const std::string& path,
                                                bool isDirectory) override {
        return std::make_shared<Node>(*this, path, isDirectory);
    }
    std::shared_ptr<content::FetchNode> appsRoot(bool refresh) override {
        calls.push_back(refresh ? "appsRoot anew" : "appsRoot");
        return std::make_shared<Node>(*this, "/", true);
    }
    void resetService() override { calls.push_back("resetService"); }
    std::optional<foundation::Data> readFile(const std::string& path, std::uint64_t offset,
                                             std::uint64_t length) override {
        auto found = files.find(path.substr(1));
        if (found == files.end() || offset >= readableUpTo) return std::nullopt;
        const auto& bytes = found->second;
        if (offset >= bytes.size()) return foundation::Data{};
        const auto end = std::min<std::uint64_t>(bytes.size(), offset + length);
        return foundation::Data(bytes.begin() + offset, bytes.begin() + end);
    }
    bool isPhone() override { return true; }
    std::optional<foundation::Data> iconDataForApp(const std::string&) override {
        ++iconAsks;
        return icon;
    }

    std::recursive_mutex lock;
    std::map<std::string, std::string> files;
    std::optional<foundation::Data> icon;
    std::atomic<int> iconAsks = 0;
    std::vector<std::string> calls;  // node and service calls, in order
    // Reads from here on fail, as when the device goes midway.
    std::uint64_t readableUpTo = UINT64_MAX;
};

class StaticLoader : public content::FetchMediaLoader {
public:
    Value playlistsAnswer() const override {
        return playlists;
    }
    Value tracksAnswer() const override {
        ++answers;
        return tracks;
    }
    // Records whether the device was held while the track was looked up.
    std::shared_ptr<const Value> trackWithPid(std::int64_t pid) const override {
        if (deviceLock) {
            std::thread([this] {
                if (!deviceLock->try_lock()) return;
                deviceLock->unlock();
                ++lookupsWithDeviceFree;
            }).join();
        }
        for (const Value& track : *tracks["records"].array())
            if (track["pid"].stringOr() == std::to_string(pid)) return std::make_shared<Value>(track);
        return nullptr;
    }
    void cancelMatching() override {}
    Value playlists, tracks;
    std::recursive_mutex* deviceLock = nullptr;
    mutable std::atomic<int> answers = 0;
    mutable std::atomic<int> lookupsWithDeviceFree = 0;
};

class AppFetchHandlerTest : public testing::Test {
protected:
    void SetUp() override {
        device->files["song.mp3"] = std::string(1000, 'x');
        for (int i = 0; i < 1000; ++i) device->files["song.mp3"][i] = char('a' + i % 26);
        local = folder.path() + "/local.txt";
        std::ofstream(local) << device->files["song.mp3"];
        content::FetchServices services;
        services.findDevice = [this](const std::string& udid) -> std::shared_ptr<content::FetchDevice> {
            return udid == "dev-1" ? device : nullptr;
        };
        services.iconsCachePath = [this] { return folder.path(); };
        AppFetchHandler::setServices(services);
    }
    void TearDown() override { AppFetchHandler::setServices({}); }

    std::shared_ptr<RecordingTask> serve(const std::string& query, const std::string& range = "",
                                         const std::string& method = "GET") {
        auto task = std::make_shared<RecordingTask>("myapp://x/fetch?" + query, method);
        if (!range.empty()) task->mutableRequest().allHTTPHeaderFields.set("Range", range);
        AppFetchHandler().handle(task->request(), task, nullptr);
        EXPECT_EQ(task->finishes(), 1);
        return task;
    }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<MemoryDevice> device = std::make_shared<MemoryDevice>();
    std::string local;
};

TEST_F(AppFetchHandlerTest, RangesOfLocalAndDeviceFiles) {
    struct Case {
        const char* range;
        int status;
        const char* contentRange;
        std::size_t first, length;
    };
    const Case cases[] = {
        {"bytes=0-0", 206, "bytes 0-0/1000", 0, 1},
        {"bytes=10-19", 206, "bytes 10-19/1000", 10, 10},
        {"bytes=990-5000", 206, "bytes 990-999/1000", 990, 10},
        {"bytes=500-", 200, "", 0, 1000},
        {"bytes=-500", 200, "", 0, 1000},
        {"bytes=abc-def", 200, "", 0, 1000},
        {"", 200, "", 0, 1000},
        {"bytes=20-10", 416, "", 0, 0},
        {"bytes=1000-1005", 416, "bytes */1000", 0, 0},
    };
    const std::string whole = device->files["song.mp3"];
    for (const std::string& query : {"action=localfile&path=" + local,
                                     std::string("action=file&udid=dev-1&path=/song.mp3")}) {
        for (const auto& c : cases) {
            const auto task = serve(query, c.range);
            const std::string label = query + " " + c.range;
            EXPECT_EQ(task->status(), c.status) << label;
            EXPECT_EQ(task->header("Content-Range"), c.contentRange) << label;
            EXPECT_EQ(task->body(), whole.substr(c.first, c.length)) << label;
            EXPECT_EQ(task->header("Content-Length"), std::to_string(c.length)) << label;
        }
    }
    // HEAD reads nothing and states the size.
    const auto head = serve("action=file&udid=dev-1&path=/song.mp3", "", "HEAD");
    EXPECT_EQ(head->header("Content-Length"), "1000");
    EXPECT_EQ(head->body(), "");
    EXPECT_EQ(serve("action=file&udid=dev-1&path=/song.mp3")->header("Content-Type"), "audio/mpeg");
    EXPECT_EQ(serve("action=localfile&path=/no/such/file")->status(), 404);
}

TEST_F(AppFetchHandlerTest, HeadOfALocalFileRangeStatesTheRangesLength) {
    for (const char* method : {"HEAD", "head"}) {
        const auto ranged = serve("action=localfile&path=" + local, "bytes=10-19", method);
        EXPECT_EQ(ranged->status(), 206) << method;
        EXPECT_EQ(ranged->header("Content-Range"), "bytes 10-19/1000") << method;
        EXPECT_EQ(ranged->header("Content-Length"), "10") << method;
        EXPECT_EQ(ranged->body(), "") << method;
    }
    const auto lowered = serve("action=localfile&path=" + local, "bytes=990-5000", "HEAD");
    EXPECT_EQ(lowered->header("Content-Length"), "10");
    const auto whole = serve("action=localfile&path=" + local, "", "HEAD");
    EXPECT_EQ(whole->status(), 200);
    EXPECT_EQ(whole->header("Content-Length"), "1000");
}

TEST_F(AppFetchHandlerTest, ADevicePathAndTypeAreDecodedOnceAndALocalPathTwice) {
    device->files["a%41.txt"] = "percent";
    device->files["aA.txt"] = "letter";
    const auto percent = serve("action=file&udid=dev-1&path=%2Fa%2541.txt");
    EXPECT_EQ(percent->status(), 200);
    EXPECT_EQ(percent->body(), "percent");
    EXPECT_EQ(serve("action=file&udid=dev-1&path=%2FaA.txt")->body(), "letter");
    // A type encoded twice is no type the responder knows: an empty listing.
    const auto listing =
        foundation::json::read(serve("action=file-list&udid=dev-1&path=%2F&type=%2566ile")->body());
    EXPECT_EQ((*listing)["total"].toInt64(), 0);
    EXPECT_EQ(foundation::json::read(serve("action=file-list&udid=dev-1&path=%2F&type=file")->body())
                  .value_or(Value())["total"]
                  .toInt64(),
              3);
    // The computer's files are named by a path encoded twice.
    std::string encoded;
    for (char c : local) encoded += c == '/' ? std::string("%252F") : std::string(1, c);
    EXPECT_EQ(serve("action=localfile&path=" + encoded)->body(), device->files["song.mp3"]);
}

TEST_F(AppFetchHandlerTest, TheLoaderRegistryAnswersByTheIdentifierAsGiven) {
    auto loader = std::make_shared<StaticLoader>();
    AppFetchHandler::setMediaLoaderOf(loader, "Dev-1");
    EXPECT_EQ(AppFetchHandler::mediaLoaderFor("Dev-1"), loader);
    EXPECT_EQ(AppFetchHandler::mediaLoaderFor("dev-1"), nullptr);
    const auto all = AppFetchHandler::mediaLoaders();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all.at("Dev-1"), loader);
    AppFetchHandler::removeMediaLoaderOf("Dev-1");
    EXPECT_TRUE(AppFetchHandler::mediaLoaders().empty());
    EXPECT_EQ(AppFetchHandler::mediaLoaderFor("Dev-1"), nullptr);
}

TEST_F(AppFetchHandlerTest, QueryParsing) {
    using content::fetchQueryParameters;
    const auto p = fetchQueryParameters("a=1&b=x=y&a=2&c&d=%41%2520&bad=%zz&e=");
    EXPECT_EQ(p.at("a"), "2");
    EXPECT_EQ(p.at("b"), "y");  // the last of its parts
    EXPECT_FALSE(p.contains("c"));
    EXPECT_EQ(p.at("d"), "A%20");
    EXPECT_FALSE(p.contains("bad"));
    EXPECT_EQ(p.at("e"), "");
    EXPECT_EQ(content::decodedAgain("A%20"), "A ");
    EXPECT_EQ(content::decodedAgain("100%"), "100%");
    EXPECT_EQ(content::decodedAgain("50%zz"), "50%zz");
}

TEST_F(AppFetchHandlerTest, DevicesListingsAndLoaders) {
    EXPECT_EQ(serve("action=file-list&udid=other")->status(), 404);
    const auto listing = foundation::json::read(serve("action=file-list&udid=dev-1&path=/")->body());
    ASSERT_TRUE(listing);
    EXPECT_EQ((*listing)["total"].toInt64(), 1);
    const Value& record = (*listing)["records"][0];
    EXPECT_EQ(record["name"].stringOr(), "song.mp3");
    EXPECT_EQ(record["path"].stringOr(), "/song.mp3");
    EXPECT_EQ(record["size"].toInt64(), 1000);
    EXPECT_EQ(record["modified"].toDouble(), 200.0);
    EXPECT_EQ(record["id"].stringOr(), "com.apple.afc");
    EXPECT_EQ((*listing)["entry"].stringOr("none"), "");
    const auto other = foundation::json::read(serve("action=file-list&udid=dev-1&type=odd")->body());
    EXPECT_EQ((*other)["total"].toInt64(), 0);
    EXPECT_EQ((*other)["error"].toInt64(), 0);

    EXPECT_EQ(serve("action=tracks&udid=dev-1")->status(), 404);
    auto loader = std::make_shared<StaticLoader>();
    loader->tracks = Value(foundation::Dictionary{
        {"total", Value(std::int64_t(1))},
        {"records", Value(foundation::Array{Value(foundation::Dictionary{
                        {"pid", Value("-5")}, {"added", Value(foundation::Date{3})}})})}});
    loader->playlists = Value(foundation::Dictionary{{"public", Value(foundation::Array{})}});
    AppFetchHandler::setMediaLoaderOf(loader, "dev-1");
    const auto tracks = serve("action=tracks&udid=dev-1");
    EXPECT_EQ(tracks->header("Content-Type"), "application/json");
    EXPECT_EQ(tracks->body(), R"({"records":[{"added":3.0,"pid":"-5"}],"total":1})");
    EXPECT_EQ(serve("action=playlists&udid=dev-1")->body(), R"({"public":[]})");
    // No artwork reader: not found.
    EXPECT_EQ(serve("action=artwork&udid=dev-1&pid=-5")->status(), 404);
    AppFetchHandler::removeMediaLoaderOf("dev-1");
    EXPECT_EQ(serve("action=nothing")->status(), 200);
}

// A file whose reading breaks off midway is a failed request, never a whole answer of the
// part that came; a file read whole still finishes.
TEST_F(AppFetchHandlerTest, ABodyThatBreaksOffFailsTheRequest) {
    const std::uint64_t piece = AppFetchHandler::kPieceSize;
    device->files["big.mp3"] = std::string(3 * piece, 'b');
    for (std::uint64_t readable : {piece, 2 * piece, 3 * piece}) {
        device->readableUpTo = readable;
        auto task = std::make_shared<RecordingTask>("myapp://x/fetch?action=file&udid=dev-1&path=/big.mp3");
        AppFetchHandler().handle(task->request(), task, nullptr);
        const bool whole = readable == 3 * piece;
        EXPECT_EQ(task->status(), 200);
        EXPECT_EQ(task->header("Content-Length"), std::to_string(3 * piece));
        EXPECT_EQ(task->finishes(), whole ? 1 : 0) << readable;
        EXPECT_EQ(task->failures(), whole ? 0 : 1) << readable;
        EXPECT_EQ(task->body().size(), readable);
    }

}

// Each track of a page asks for its artwork: the track is found by its pid, never by copying
// the whole list, and not under the device's lock.
TEST_F(AppFetchHandlerTest, ArtworkFindsItsTrackByPidWithTheDeviceFree) {
    auto loader = std::make_shared<StaticLoader>();
    loader->deviceLock = &device->lock;
    foundation::Array records;
    for (int pid = 1; pid <= 3; ++pid)
        records.push_back(Value::dict({{"pid", std::to_string(pid)}, {"title", "t" + std::to_string(pid)}}));
    loader->tracks = Value::dict({{"records", std::move(records)}, {"total", 3}});
    AppFetchHandler::setMediaLoaderOf(loader, "dev-1");
    content::FetchServices services;
    services.findDevice = [this](const std::string&) -> std::shared_ptr<content::FetchDevice> {
        return device;
    };
    std::vector<std::string> drawn;
    services.artworkFor = [&](content::FetchMediaLoader&, const Value& track) {
        drawn.push_back(track["title"].stringOr());
        return NSImage::Image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 2, 2), g_object_unref);
    };
    AppFetchHandler::setServices(services);

    for (const char* pid : {"2", "3", "9", "x"}) {
        const auto task = serve(std::string("action=artwork&udid=dev-1&pid=") + pid);
        EXPECT_EQ(task->status(), std::isdigit(*pid) && *pid != '9' ? 200 : 404) << pid;
    }
    EXPECT_EQ(drawn, (std::vector<std::string>{"t2", "t3"}));
    EXPECT_EQ(loader->answers, 0);
    EXPECT_EQ(loader->lookupsWithDeviceFree, 3);
    AppFetchHandler::removeMediaLoaderOf("dev-1");
}

TEST_F(AppFetchHandlerTest, ApplicationIconsComeOnceFromTheDeviceThenFromTheCache) {
    device->icon = foundation::Data{0x89, 'P', 'N', 'G', 1, 2, 3};
    const std::string query = "action=icon&udid=dev-1&type=app&appid=com.x.app&path=/&fullsize=true";
    for (int i = 0; i < 2; ++i) {
        const auto task = serve(query);
        EXPECT_EQ(task->status(), 200);
        EXPECT_EQ(task->header("Content-Type"), "image/png");
        EXPECT_EQ(task->body(), std::string("\x89PNG\x01\x02\x03"));
    }
    EXPECT_EQ(device->iconAsks.load(), 1);
    // Identifiers that would leave the cache folder are refused.
    for (const char* id : {"../x", ".hidden", "a/b", ""}) {
        EXPECT_FALSE(AppFetchHandler::isSafeAppId(id)) << id;
    }
    EXPECT_FALSE(AppFetchHandler::findIconDataOfAppOnDevice("../evil", *device));
}

// Nothing "/fetch" answers may be cached: found or not, ranged, refused or failed.
TEST_F(AppFetchHandlerTest, EveryAnswerForbidsCaching) {
    EXPECT_EQ(AppFetchHandler::corsHeaders(),
              (content::HttpHeaderFields{{"Cache-Control", "no-store"}, {"Expires", "-1"}}));
    struct Case {
        std::string query, range, method;
        int status;
    };
    const Case cases[] = {
        {"action=localfile&path=" + local, "", "GET", 200},
        {"action=localfile&path=" + local, "bytes=1-2", "GET", 206},
        {"action=localfile&path=" + local, "bytes=2-1", "GET", 416},
        {"action=localfile&path=/no/such/file", "", "GET", 404},
        {"action=file&udid=dev-1&path=/song.mp3", "", "HEAD", 200},
        {"action=file-list&udid=dev-1&path=/", "", "GET", 200},
        {"action=tracks&udid=dev-1", "", "GET", 404},
        {"action=file-list&udid=other", "", "GET", 404},
        {"action=other", "", "GET", 200},
        {"", "", "POST", 200},
        {"action=other", "", "PUT", 405},
        {"action=file-list&udid=throws", "", "GET", 500},
    };
    content::FetchServices services;
    services.findDevice = [this](const std::string& udid) -> std::shared_ptr<content::FetchDevice> {
        if (udid == "throws") throw std::runtime_error("device gone");
        return udid == "dev-1" ? device : nullptr;
    };
    AppFetchHandler::setServices(services);
    for (const auto& c : cases) {
        const auto task = serve(c.query, c.range, c.method);
        const std::string label = c.method + " " + c.query + " " + c.range;
        EXPECT_EQ(task->status(), c.status) << label;
        EXPECT_EQ(task->header("Cache-Control"), "no-store") << label;
        EXPECT_EQ(task->header("Expires"), "-1") << label;
    }
}

// A "/fetch" job that is still running when the process exits (the pool's jobs are not
// waited for) reads the registry of media loaders after every static destructor has run.
struct JobAtExit {
    std::shared_ptr<MemoryDevice> device = std::make_shared<MemoryDevice>();
    std::atomic<bool> loaderGone = false;
    std::shared_ptr<RecordingTask> task =
        std::make_shared<RecordingTask>("myapp://x/fetch?action=tracks&udid=dev-1");
    testsupport::Latch entered{1}, released{1};
    std::thread job;
};

JobAtExit* jobAtExit = nullptr;

// Held by the registry alone.
struct RegisteredLoader : StaticLoader {
    ~RegisteredLoader() override { jobAtExit->loaderGone = true; }
};

[[noreturn]] void runAFetchJobThroughExit() {
    jobAtExit = new JobAtExit;
    // Registered before the registry is made, so it runs after the registry's destructor
    // would: the job goes on then, as it may at any exit.
    std::atexit([] {
        if (jobAtExit->loaderGone) std::_Exit(2);
        jobAtExit->released.count_down();
        jobAtExit->job.join();
        const bool whole = jobAtExit->task->status() == 200 &&
                           jobAtExit->task->body() == R"({"records":[],"total":0})";
        std::_Exit(whole ? 0 : 3);
    });
    auto loader = std::make_shared<RegisteredLoader>();
    loader->tracks = Value::dict({{"records", foundation::Array{}}, {"total", 0}});
    AppFetchHandler::setMediaLoaderOf(std::move(loader), "dev-1");
    content::FetchServices services;
    services.findDevice = [](const std::string&) -> std::shared_ptr<content::FetchDevice> {
        jobAtExit->entered.count_down();
        jobAtExit->released.wait();
        return jobAtExit->device;
    };
    AppFetchHandler::setServices(services);
    jobAtExit->job = std::thread([] {
        AppFetchHandler().handle(jobAtExit->task->request(), jobAtExit->task, nullptr);
    });
    jobAtExit->entered.wait();
    std::exit(0);
}

TEST(AppFetchHandlerAtExit, AJobRunningThroughExitFindsTheRegistryWhole) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(runAFetchJobThroughExit(), testing::ExitedWithCode(0), "");
}

// The list of applications is the device's kept node, made anew on "refresh" and never
// refreshed as a folder; its records carry no size and no dates. Any other node is
// refreshed, and then the device's file service is started afresh.
TEST_F(AppFetchHandlerTest, TheApplicationListAndRefreshes) {
    const auto list = [&](const std::string& query) {
        return foundation::json::read(serve("action=file-list&udid=dev-1&" + query)->body()).value_or(Value());
    };
    const Value apps = list("type=app");
    ASSERT_EQ(apps["total"].toInt64(), 1);
    const Value& record = apps["records"][0];
    EXPECT_EQ(record["name"].stringOr(), "song.mp3");
    EXPECT_FALSE(record["isdir"].toBool().value_or(true));
    for (const char* key : {"size", "created", "modified"}) EXPECT_TRUE(record[key].isNil()) << key;
    EXPECT_EQ(device->calls, std::vector<std::string>{"appsRoot"});

    device->calls.clear();
    list("type=app&refresh=true");
    EXPECT_EQ(device->calls, std::vector<std::string>{"appsRoot anew"});
    device->calls.clear();
    list("type=app&appid=com.x.app&path=/Documents&refresh=1");
    EXPECT_EQ(device->calls, (std::vector<std::string>{"refreshChildren /Documents", "resetService"}));
    device->calls.clear();
    const Value files = list("type=file&path=/&refresh=true");
    EXPECT_EQ(device->calls, (std::vector<std::string>{"refreshChildren /", "resetService"}));
    EXPECT_EQ(files["records"][0]["size"].toInt64(), 1000);
}

// The icon of a node that is no application: its picture with "fullsize", fitted into 48
// pixels unless a size is asked.
TEST_F(AppFetchHandlerTest, IconOfANodeThatIsNoApplication) {
    device->files["photo.jpg"] = "jpeg";
    const auto sideOf = [&](const std::string& query) {
        const auto task = serve("action=icon&udid=dev-1&path=/photo.jpg&" + query);
        EXPECT_EQ(task->status(), 200) << query;
        EXPECT_EQ(task->header("Content-Type"), "image/png") << query;
        const std::string& png = task->body();
        const auto image = NSImage::safeImageWithDataIsPNG(foundation::Data(png.begin(), png.end()), true);
        return image ? std::pair(gdk_pixbuf_get_width(image.get()), gdk_pixbuf_get_height(image.get()))
                     : std::pair(0, 0);
    };
    EXPECT_EQ(sideOf("fullsize=true"), std::pair(48, 28));
    EXPECT_EQ(sideOf("fullsize=true&size=20"), std::pair(20, 12));
    EXPECT_EQ(device->iconAsks.load(), 0);
}

}  // namespace
