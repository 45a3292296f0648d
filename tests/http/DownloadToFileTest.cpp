// Downloads into files: challenges on the way, destinations on other file systems, servers
// that ignore "Range", and the temporary files a request makes and deletes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "RequestRunning.h"
#include "http/NetDataCompressor.h"
#include "http/NetHTTPRequest.h"
#include "support/httpserver/TestHttpServer.h"

namespace fs = std::filesystem;
using foundation::Url;
using httptest::errorCode;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

const std::string Content = "0123456789A";

ScriptedAnswer raw(std::string bytes) {
    ScriptedAnswer answer;
    answer.raw = std::move(bytes);
    return answer;
}

// Content, or the rest of it from byte 5 when asked for.
ScriptedAnswer contentOrItsRest(const ReceivedRequest& r) {
    if (r.header("Range") == "bytes=5-")
        return raw(
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 5-10/11\r\n"
            "Content-Length: 6\r\n\r\n" +
            Content.substr(5));
    return ScriptedAnswer::ok(Content);
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder of the test's own under `parent`.
fs::path scratch(const fs::path& parent, const std::string& name) {
    auto folder = parent / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// The process's file-creation mask, as the kernel reports it.
mode_t umaskNow() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

}  // namespace

// The login page a server answers before the password is no part of the file: the partial
// file stays to be resumed, the earlier file at the destination stays, and once the
// password is given the download goes on where it was.
TEST(DownloadToFile, AChallengesBodyNeverReachesTheFile) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.header("Authorization") != "Basic dTpyaWdodA==")  // u:right
            return raw(
                "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"files\"\r\n"
                "Content-Length: 23\r\n\r\n<html>login page</html>");
        return contentOrItsRest(r);
    });
    const auto folder = scratch(fs::temp_directory_path(), "challenged-download");
    struct Case {
        const char* name;
        bool resume;
        std::string password;
        bool delivered;
    };
    const Case cases[] = {
        {"resumed with the right password", true, "right", true},
        {"resumed with a wrong password", true, "wrong", false},
        {"resumed without a password", true, "", false},
        {"whole, without a password", false, "", false},
        {"whole, with the right password", false, "right", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto destination = folder / "file.bin";
        const auto part = folder / "file.part";
        write(destination, "the earlier file");
        write(part, Content.substr(0, 5));
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/file.bin")));
        request->setDownloadDestinationPath(destination.string());
        request->setTemporaryFileDownloadPath(part.string());
        request->setAllowResumeForFileDownloads(c.resume);
        request->setUseSessionPersistence(false);
        if (!c.password.empty()) {
            request->setUsername("u");
            request->setPassword(c.password);
        }
        request->startSynchronous();
        if (c.delivered) {
            ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
            EXPECT_EQ(contents(destination), Content);
            EXPECT_EQ(server.requests().back().header("Range"),
                      c.resume ? std::optional<std::string>("bytes=5-") : std::nullopt);
            EXPECT_FALSE(fs::exists(part));
            continue;
        }
        EXPECT_EQ(errorCode(*request), NetAuthenticationErrorType);
        EXPECT_EQ(contents(destination), "the earlier file");
        if (c.resume) {
            EXPECT_EQ(contents(part), Content.substr(0, 5));
        }
    }
    fs::remove_all(folder);
}

// The temporary file fills in one file system and the destination lies in another (a
// tmpfs): the file is copied over, and it gets the mode of a new file, not the private one
// of the temporary.
TEST(DownloadToFile, DeliversAcrossFileSystemsWithTheModeOfANewFile) {
    TestHttpServer server([](const ReceivedRequest& r) { return contentOrItsRest(r); });
    const fs::path shm = "/dev/shm";
    struct stat onDisk {
    }, inMemory{};
    if (::stat(fs::temp_directory_path().c_str(), &onDisk) != 0 ||
        ::stat(shm.c_str(), &inMemory) != 0 || onDisk.st_dev == inMemory.st_dev) {
        GTEST_SKIP() << "needs " << shm << " on a file system other than "
                     << fs::temp_directory_path();
    }
    const auto disk = scratch(fs::temp_directory_path(), "download-disk");
    const auto memory = scratch(shm, "download-memory");
    const mode_t expectedMode = 0666 & ~umaskNow();
    struct Case {
        const char* name;
        fs::path temporary, destination;
        bool resume;
    };
    const Case cases[] = {
        {"from disk into memory", disk / "t.part", memory / "out.bin", false},
        {"from memory onto disk, resumed", memory / "t.part", disk / "out.bin", true},
        {"on one file system", disk / "t.part", disk / "same.bin", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(c.destination, "older contents, to be replaced");
        if (c.resume) write(c.temporary, Content.substr(0, 5));
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/file.bin")));
        request->setDownloadDestinationPath(c.destination.string());
        request->setTemporaryFileDownloadPath(c.temporary.string());
        request->setAllowResumeForFileDownloads(c.resume);
        request->startSynchronous();
        ASSERT_EQ(errorCode(*request), 0) << request->error()->message;
        EXPECT_EQ(contents(c.destination), Content);
        EXPECT_FALSE(fs::exists(c.temporary));
        struct stat delivered {};
        ASSERT_EQ(::stat(c.destination.c_str(), &delivered), 0);
        EXPECT_EQ(delivered.st_mode & 07777, expectedMode);
        // Nothing of the copy is left beside the destination.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry :
             fs::directory_iterator(c.destination.parent_path()))
            ++entries;
        EXPECT_EQ(entries, 1u);
        fs::remove(c.destination);
    }
    fs::remove_all(disk);
    fs::remove_all(memory);
}

// A compressed body inflated while it arrives is delivered inflated; neither temporary
// file stays.
TEST(DownloadToFile, ABodyInflatedWhileItArrivesLeavesNoTemporaryFile) {
    foundation::Error error;
    auto packed = NetDataCompressor::compressData(
        std::span(reinterpret_cast<const std::uint8_t*>(Content.data()), Content.size()), &error);
    ASSERT_TRUE(packed);
    const std::string gzip(packed->begin(), packed->end());
    TestHttpServer server([&](const ReceivedRequest&) {
        return raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                   std::to_string(gzip.size()) + "\r\n\r\n" + gzip);
    });
    const auto folder = scratch(fs::temp_directory_path(), "inflated-download");
    auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url("/packed")));
    request->setDownloadDestinationPath((folder / "out.txt").string());
    request->setTemporaryFileDownloadPath((folder / "raw.part").string());
    request->setTemporaryUncompressedDataDownloadPath((folder / "inflated.part").string());
    request->setShouldWaitToInflateCompressedResponses(false);
    request->startSynchronous();
    ASSERT_EQ(errorCode(*request), 0);
    EXPECT_EQ(contents(folder / "out.txt"), Content);
    EXPECT_FALSE(fs::exists(folder / "raw.part"));
    EXPECT_FALSE(fs::exists(folder / "inflated.part"));
    EXPECT_TRUE(request->temporaryFileDownloadPath().empty());
    EXPECT_TRUE(request->temporaryUncompressedDataDownloadPath().empty());
    fs::remove_all(folder);
}

namespace {

// What a progress delegate and the size block hear of a download.
struct DownloadTotals : NetProgressDelegate {
    std::int64_t size = 0, received = 0;
    double fraction = -1;
    void requestIncrementDownloadSizeBy(NetHTTPRequest&, std::int64_t n) override { size += n; }
    void requestDidReceiveBytes(NetHTTPRequest&, std::int64_t n) override { received += n; }
    void setDoubleValue(double value) override { fraction = value; }
};

}  // namespace

// Resuming from byte 5: a server that honours the range adds the rest to the 5 bytes there;
// one that ignores it sends the whole file, which is counted once, without the 5 bytes.
TEST(DownloadToFile, AServerThatIgnoresTheRangeCountsItsWholeBodyOnce) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.target == "/ignores") return ScriptedAnswer::ok(Content);
        return contentOrItsRest(r);
    });
    const auto folder = scratch(fs::temp_directory_path(), "resumed-totals");
    for (const char* path : {"/ignores", "/honours"}) {
        SCOPED_TRACE(path);
        write(folder / "out.part", Content.substr(0, 5));
        auto totals = std::make_shared<DownloadTotals>();
        std::int64_t blockSize = 0;
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url(path)));
        request->setDownloadDestinationPath((folder / "out.bin").string());
        request->setTemporaryFileDownloadPath((folder / "out.part").string());
        request->setAllowResumeForFileDownloads(true);
        request->setDownloadProgressDelegate(totals);
        request->setDownloadSizeIncrementedBlock([&](std::int64_t n) { blockSize += n; });
        // On the main thread, whose notices arrive as they are sent.
        request->startSynchronous();
        ASSERT_EQ(errorCode(*request), 0);
        EXPECT_EQ(server.requests().back().header("Range"), "bytes=5-");
        EXPECT_EQ(contents(folder / "out.bin"), Content);
        EXPECT_EQ(totals->size, 11);
        EXPECT_EQ(blockSize, 11);
        EXPECT_EQ(totals->received, 11);
        EXPECT_DOUBLE_EQ(totals->fraction, 1.0);
    }
    fs::remove_all(folder);
}

// Each of the four deletes its file and clears its path; a file that will not go (here a
// folder in its place) fails the request with code 8.
TEST(RequestFiles, ATemporaryFileThatWillNotGoFailsTheRequest) {
    const auto folder = scratch(fs::temp_directory_path(), "request-files");
    using Setter = void (NetHTTPRequest::*)(std::string);
    using Getter = const std::string& (NetHTTPRequest::*)() const;
    using Remover = bool (NetHTTPRequest::*)();
    struct Case {
        const char* name;
        Setter set;
        Getter get;
        Remover remove;
    };
    const Case cases[] = {
        {"download", &NetHTTPRequest::setTemporaryFileDownloadPath,
         &NetHTTPRequest::temporaryFileDownloadPath, &NetHTTPRequest::removeTemporaryDownloadFile},
        {"uncompressed download", &NetHTTPRequest::setTemporaryUncompressedDataDownloadPath,
         &NetHTTPRequest::temporaryUncompressedDataDownloadPath,
         &NetHTTPRequest::removeTemporaryUncompressedDownloadFile},
        {"upload", &NetHTTPRequest::setPostBodyFilePath, &NetHTTPRequest::postBodyFilePath,
         &NetHTTPRequest::removeTemporaryUploadFile},
        {"compressed upload", &NetHTTPRequest::setCompressedPostBodyFilePath,
         &NetHTTPRequest::compressedPostBodyFilePath,
         &NetHTTPRequest::removeTemporaryCompressedUploadFile},
    };
    const auto file = folder / "a file";
    const auto stuck = folder / "a folder";
    fs::create_directories(stuck / "inside");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(file, "x");
        auto request = NetHTTPRequest::requestWithURL(Url::parse("http://127.0.0.1:9/"));
        EXPECT_TRUE(((*request).*c.remove)());  // no path: nothing to do
        ((*request).*c.set)(file.string());
        EXPECT_TRUE(((*request).*c.remove)());
        EXPECT_FALSE(fs::exists(file));
        EXPECT_TRUE(((*request).*c.get)().empty());
        ((*request).*c.set)(file.string());
        EXPECT_TRUE(((*request).*c.remove)());  // already gone
        EXPECT_FALSE(request->error());

        ((*request).*c.set)(stuck.string());
        EXPECT_FALSE(((*request).*c.remove)());
        EXPECT_TRUE(((*request).*c.get)().empty());
        ASSERT_TRUE(request->error());
        EXPECT_EQ(request->error()->code, NetFileManagementError);
        EXPECT_EQ(request->error()->message,
                  "Failed to delete file at path '" + stuck.string() + "'");
        EXPECT_TRUE(request->complete());
    }

    // The body file the request made cannot be deleted once the answer is in.
    std::string bodyFile;
    TestHttpServer server([&](const ReceivedRequest&) {
        fs::remove(bodyFile);
        fs::create_directories(fs::path(bodyFile) / "inside");
        return ScriptedAnswer::ok("stored");
    });
    auto upload = NetHTTPRequest::requestWithURL(Url::parse(server.url("/upload")));
    upload->setShouldStreamPostDataFromDisk(true);
    upload->appendPostData(std::string_view("payload"));
    bodyFile = upload->postBodyFilePath();
    ASSERT_FALSE(bodyFile.empty());
    upload->startSynchronous();
    EXPECT_EQ(server.requests().back().body, "payload");
    ASSERT_TRUE(upload->error());
    EXPECT_EQ(upload->error()->code, NetFileManagementError);
    EXPECT_EQ(upload->error()->message, "Failed to delete file at path '" + bodyFile + "'");
    fs::remove_all(bodyFile);
    fs::remove_all(folder);
}

TEST(RequestFiles, MimeTypeForFileAtPathGoesByTheExtensionOfWhatExists) {
    const auto folder = scratch(fs::temp_directory_path(), "mime-types");
    for (const char* name : {"photo.png", "LOUD.PNG", "data.json", "archive.tar.gz", "plain"})
        write(folder / name, "x");
    fs::create_directories(folder / "folder.json");
    struct Case {
        std::string name;
        std::optional<std::string> type;
    };
    const Case cases[] = {
        {"photo.png", "image/png"},
        {"LOUD.PNG", "image/png"},
        {"data.json", "application/json"},
        {"archive.tar.gz", "application/gzip"},
        {"plain", "application/octet-stream"},
        {"folder.json", "application/json"},
        {"missing.png", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NetHTTPRequest::mimeTypeForFileAtPath((folder / c.name).string()), c.type);
    }
    fs::remove_all(folder);
}

// A finished download whose destination folder is missing keeps what a resumable download
// received, and the next attempt, answered 416 for the byte after the last, delivers it
// whole without fetching it again. A temporary file the request made for itself goes.
TEST(DownloadToFile, AResumableDownloadThatCannotBeMovedKeepsItsBytesForTheNextAttempt) {
    TestHttpServer server([](const ReceivedRequest& r) {
        if (r.header("Range") == "bytes=11-") {
            const char* total = r.target == "/longer" ? "20" : "11";
            return raw(
                std::string("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */") +
                total + "\r\nContent-Length: 9\r\n\r\nno range!");
        }
        return ScriptedAnswer::ok(Content);
    });
    const auto folder = scratch(fs::temp_directory_path(), "unmoved-download");
    const auto part = folder / "file.part";
    const auto missing = folder / "missing" / "file.bin";
    const auto destination = folder / "file.bin";
    auto download = [&](const std::string& path, const fs::path& to, bool resume,
                        const std::string& temporary) {
        auto request = NetHTTPRequest::requestWithURL(Url::parse(server.url(path)));
        request->setDownloadDestinationPath(to.string());
        request->setTemporaryFileDownloadPath(temporary);
        request->setAllowResumeForFileDownloads(resume);
        request->startSynchronous();
        return request;
    };

    auto first = download("/file", missing, true, part.string());
    ASSERT_EQ(errorCode(*first), NetFileManagementError);
    EXPECT_EQ(first->error()->message,
              "Failed to move file from '" + part.string() + "' to '" + missing.string() + "'");
    EXPECT_EQ(contents(part), Content);

    // The server's whole length is another: the file is no copy of this one, and stays.
    auto other = download("/longer", destination, true, part.string());
    EXPECT_EQ(errorCode(*other), NetConnectionFailureErrorType);
    EXPECT_EQ(contents(part), Content);
    EXPECT_FALSE(fs::exists(destination));

    auto second = download("/file", destination, true, part.string());
    ASSERT_EQ(errorCode(*second), 0) << second->error()->message;
    EXPECT_EQ(second->responseStatusCode(), 416);
    EXPECT_EQ(server.requests().back().header("Range"), "bytes=11-");
    EXPECT_EQ(contents(destination), Content);
    EXPECT_FALSE(fs::exists(part));

    // Without resuming the file is the request's own to remove.
    auto unresumed = download("/file", missing, false, part.string());
    EXPECT_EQ(errorCode(*unresumed), NetFileManagementError);
    EXPECT_FALSE(fs::exists(part));
    fs::remove_all(folder);
}
