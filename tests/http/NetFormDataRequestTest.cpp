#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "http/NetFormDataRequest.h"
#include "support/httpserver/TestHttpServer.h"

using foundation::Url;
using foundation::Value;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

struct Sent {
    ReceivedRequest request;
    std::string boundary;  // of a multipart body
    std::shared_ptr<NetFormDataRequest> form;
};

Sent send(TestHttpServer& server, const std::function<void(NetFormDataRequest&)>& setup) {
    auto form = NetFormDataRequest::requestWithURL(Url::parse(server.url("/form")));
    setup(*form);
    const auto before = server.requests().size();
    form->startSynchronous();
    Sent sent;
    sent.form = form;
    if (server.requests().size() == before) return sent;
    sent.request = server.requests().back();
    auto type = sent.request.header("Content-Type").value_or("");
    auto at = type.find("boundary=");
    if (at != std::string::npos) sent.boundary = type.substr(at + 9);
    return sent;
}

}  // namespace

TEST(NetFormDataRequest, WritesURLEncodedBodies) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("ok"); });
    struct Case {
        const char* name;
        std::function<void(NetFormDataRequest&)> setup;
        std::string body;
        std::optional<std::string> contentType;
    };
    const std::string utf8Form = "application/x-www-form-urlencoded; charset=utf-8";
    const Case cases[] = {
        {"two fields",
         [](NetFormDataRequest& f) {
             f.addPostValue(1, std::string("a"));
             f.addPostValue("x y&z", std::string("b"));
         },
         "a=1&b=x%20y%26z", utf8Form},
        {"one field", [](NetFormDataRequest& f) { f.addPostValue("value", std::string("key")); },
         "key=value", utf8Form},
        {"marks and letters beyond ASCII",
         [](NetFormDataRequest& f) {
             f.addPostValue("~'*!-._ \xC3\xA9", std::string("k"));
             f.addPostValue(Value(), std::nullopt);  // ignored
         },
         "k=%7E%27%2A%21-._%20%C3%A9", utf8Form},
        {"another encoding",
         [](NetFormDataRequest& f) {
             f.setStringEncoding("ISO-8859-1");
             f.addPostValue("caf\xC3\xA9", std::string("drink"));
         },
         "drink=caf%E9", "application/x-www-form-urlencoded; charset=iso-8859-1"},
        {"setting replaces every earlier value and goes last",
         [](NetFormDataRequest& f) {
             for (const char* v : {"1", "2", "3"}) f.addPostValue(v, std::string("k"));
             f.addPostValue("x", std::string("other"));
             f.setPostValue("new", "k");
         },
         "other=x&k=new", utf8Form},
        {"neither fields nor body", [](NetFormDataRequest&) {}, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sent = send(server, c.setup);
        EXPECT_FALSE(sent.form->error());
        EXPECT_EQ(sent.request.method, "POST");
        EXPECT_EQ(sent.request.body, c.body);
        EXPECT_EQ(sent.request.header("Content-Type"), c.contentType);
        EXPECT_EQ(sent.request.header("Content-Length").has_value(), !c.body.empty());
    }
}

TEST(NetFormDataRequest, WritesMultipartBodiesAndStreamsFilesFromDisk) {
    TestHttpServer server([](const ReceivedRequest&) { return ScriptedAnswer::ok("ok"); });
    auto folder = std::filesystem::temp_directory_path() / ("form-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "notes.txt").string();
    std::ofstream(path) << "file contents\n";

    struct Case {
        const char* name;
        std::function<void(NetFormDataRequest&)> setup;
        std::string body;  // "<B>" stands for the boundary
        bool fromDisk;
    };
    const Case cases[] = {
        {"two fields",
         [](NetFormDataRequest& f) {
             f.setPostFormat(NetFormDataRequest::MultipartFormDataPostFormat);
             f.addPostValue("1", std::string("a"));
             f.addPostValue("two", std::string("b"));
         },
         "--<B>\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1"
         "\r\n--<B>\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\ntwo"
         "\r\n--<B>--\r\n",
         false},
        {"a field and a file turn a URL-encoded form multipart",
         [&](NetFormDataRequest& f) {
             f.addPostValue("v", std::string("a"));
             f.addFile(path, "upload");
         },
         "--<B>\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nv"
         "\r\n--<B>\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"notes.txt\"\r\n"
         "Content-Type: text/plain\r\n\r\nfile contents\n"
         "\r\n--<B>--\r\n",
         true},
        {"names that would break the framing",
         [](NetFormDataRequest& f) {
             f.addData({'x'}, "a\"b\r\nc", std::string("q\".bin"), std::nullopt);
         },
         "--<B>\r\nContent-Disposition: form-data; name=\"a%22b%0D%0Ac\"; filename=\"q%22.bin\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\nx"
         "\r\n--<B>--\r\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sent = send(server, c.setup);
        ASSERT_FALSE(sent.form->error());
        ASSERT_TRUE(sent.boundary.starts_with("0xOrVaNdElBoUnDaRy-"));
        EXPECT_EQ(sent.boundary.size(), 19u + 36u);
        EXPECT_EQ(sent.request.header("Content-Type"),
                  "multipart/form-data; charset=utf-8; boundary=" + sent.boundary);
        std::string expected = c.body;
        for (auto at = expected.find("<B>"); at != std::string::npos; at = expected.find("<B>"))
            expected.replace(at, 3, sent.boundary);
        EXPECT_EQ(sent.request.body, expected);
        EXPECT_EQ(sent.form->shouldStreamPostDataFromDisk(), c.fromDisk);
        // The body file the request made is gone once it is over.
        EXPECT_TRUE(sent.form->postBodyFilePath().empty());
    }

    // A missing file fails the request before anything is sent.
    auto missing = send(
        server, [&](NetFormDataRequest& f) { f.addFile((folder / "absent").string(), "upload"); });
    ASSERT_TRUE(missing.form->error());
    EXPECT_EQ(missing.form->error()->code, NetInternalErrorWhileBuildingRequestType);
    EXPECT_EQ(missing.form->error()->message, "No file exists at " + (folder / "absent").string());
    EXPECT_TRUE(missing.request.method.empty());
    std::filesystem::remove_all(folder);
}
