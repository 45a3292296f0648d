#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/NetHTTPRequest.h"
#include "http/NetRequestDefaults.h"
#include "support/httpserver/LocalNginx.h"

using foundation::Url;
using testsupport::LocalNginx;

namespace {

constexpr const char* ServerBlock = R"(
    location = /headers {
        return 200 "ua=$http_user_agent|ae=$http_accept_encoding|cookie=$http_cookie|cl=$http_content_length";
    }
    location = /conn { return 200 "$connection"; }
    location = /close { keepalive_timeout 0; return 200 "$connection"; }
    location /gz/ { gzip on; gzip_types *; gzip_min_length 0; }
    location = /to-file { return 302 /file.txt; }
)";
// Echoes a request's method and body; nginx-light ships it as a module.
constexpr const char* EchoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";
constexpr const char* EchoBlock = R"(
    location = /echo { echo_read_request_body; echo -n "$request_method $request_body"; }
    location = /echo307 { return 307 /echo; }
)";

bool haveEcho() {
    return ::access(EchoModule, R_OK) == 0;
}

std::string body(const NetHTTPRequest& request) {
    auto data = request.responseData();
    return data ? std::string(data->begin(), data->end()) : "<none>";
}

std::shared_ptr<NetHTTPRequest> run(const std::string& url,
                                    const std::function<void(NetHTTPRequest&)>& setup = {}) {
    auto request = NetHTTPRequest::requestWithURL(Url::parse(url));
    if (setup) setup(*request);
    request->startSynchronous();
    return request;
}

class NginxTest : public testing::Test {
protected:
    void SetUp() override {
        if (LocalNginx::binary().empty()) GTEST_SKIP() << "no nginx binary";
        nginx = LocalNginx::start(std::string(ServerBlock) + (haveEcho() ? EchoBlock : ""));
        ASSERT_TRUE(nginx) << "nginx did not start";
        NetRequestDefaults::shared().setDefaultUserAgentString("OrvandelTest 1.0");
    }
    std::unique_ptr<LocalNginx> nginx;
};

}  // namespace

TEST_F(NginxTest, SendsTheDefaultHeadersAndReusesItsConnection) {
    auto headers = run(nginx->url("/headers"));
    EXPECT_FALSE(headers->error());
    EXPECT_EQ(body(*headers), "ua=OrvandelTest 1.0|ae=gzip|cookie=|cl=");

    struct Case {
        const char* path;
        bool sameConnection;
    };
    for (const Case& c : {Case{"/conn", true}, Case{"/close", false}}) {
        SCOPED_TRACE(c.path);
        auto first = run(nginx->url(c.path));
        auto second = run(nginx->url(c.path));
        ASSERT_FALSE(second->error());
        EXPECT_EQ(body(*first) == body(*second), c.sameConnection);
    }
}

TEST_F(NginxTest, KeepsGzipRawAndInflatesOnReading) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of the text\n";
    nginx->writeFile("gz/big.txt", text);
    auto request = run(nginx->url("/gz/big.txt"));
    ASSERT_FALSE(request->error());
    EXPECT_EQ(request->responseHeader("content-encoding"), "gzip");
    EXPECT_LT(request->rawResponseData().size(), text.size() / 4);
    EXPECT_EQ(body(*request), text);
    EXPECT_EQ(request->responseString(), text);
}

TEST_F(NginxTest, RedirectsTurnPostIntoGetOrKeepTheBodyFromDisk) {
    nginx->writeFile("file.txt", "the file");
    auto moved = run(nginx->url("/to-file"),
                     [](NetHTTPRequest& r) { r.appendPostData(std::string_view("form=1")); });
    ASSERT_FALSE(moved->error());
    EXPECT_EQ(moved->requestMethod(), "GET");
    EXPECT_EQ(body(*moved), "the file");

    if (haveEcho()) {
        auto kept = run(nginx->url("/echo307"), [](NetHTTPRequest& r) {
            r.setShouldStreamPostDataFromDisk(true);
            r.appendPostData(std::string_view("payload from disk"));
        });
        ASSERT_FALSE(kept->error());
        EXPECT_EQ(body(*kept), "POST payload from disk");
        EXPECT_EQ(kept->redirectCount(), 1);
    }
}

TEST_F(NginxTest, SixteenThreadsAtOnce) {
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&] {
            std::string firstConnection;
            for (int i = 0; i < 20; ++i) {
                auto request = run(nginx->url("/conn"));
                if (request->error()) continue;
                if (i == 0) firstConnection = body(*request);
                // Each thread keeps using its own connection.
                if (body(*request) == firstConnection) ++good;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(good, 16 * 20);
}

TEST_F(NginxTest, ResumesAPartialDownloadWithRangeAndContentRange) {
    std::string content;
    for (int i = 0; i < 5000; ++i) content += std::to_string(i) + ",";
    nginx->writeFile("resume.txt", content);
    auto folder =
        std::filesystem::temp_directory_path() / ("nginx-resume-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto destination = folder / "out.txt";
    const auto part = folder / "out.part";
    std::ofstream(part) << content.substr(0, 1234);
    auto request = run(nginx->url("/resume.txt"), [&](NetHTTPRequest& r) {
        r.setDownloadDestinationPath(destination.string());
        r.setTemporaryFileDownloadPath(part.string());
        r.setAllowResumeForFileDownloads(true);
        r.setAllowCompressedResponse(false);
    });
    ASSERT_FALSE(request->error());
    EXPECT_EQ(request->responseStatusCode(), 206);
    EXPECT_EQ(request->requestHeader("Range"), "bytes=1234-");
    EXPECT_EQ(
        request->responseHeader("Content-Range"),
        "bytes 1234-" + std::to_string(content.size() - 1) + "/" + std::to_string(content.size()));
    std::ifstream in(destination);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    std::filesystem::remove_all(folder);
}
