// Large bodies from "/fetch" reach the running application's page as they are read: a
// 1 GiB file streams through to the end, a fetch the page aborts stops the responder's
// reading, and a body that breaks off midway is an error in the page, not a short body.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "SimulatedPhoneApp.h"
#include "WebWindowFixture.h"
#include "content/CustomSchemeHandler.h"
#include "foundation/Json.h"
#include "foundation/ScratchFolder.h"

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;

// A field of /proc/self/io ("rchar:"): the bytes the process has read.
std::uint64_t bytesReadByProcess() {
    std::ifstream in("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (in >> key) {
        if (key == "rchar:" && in >> value) return value;
        in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

class FetchStreamPageTest : public apptest::WebWindowTest {
protected:
    void SetUp() override {
        WebWindowTest::SetUp();
        app = std::make_unique<apptest::SimulatedPhoneApp>(scratch.path());
        ASSERT_TRUE(app->start());
        view = &app->view();
    }
    void TearDown() override { app.reset(); }

    // A sparse file: no disk, nothing in the page cache to read back.
    std::string sparseFile(std::uint64_t size) {
        const std::string path = scratch / "big.bin";
        std::ofstream{path};
        std::filesystem::resize_file(path, size);
        return path;
    }

    // Reads the file in the page with a stream reader; the outcome lands in window.streamed:
    // the status and the bytes read, or the error's text. With `abortAt` the fetch is aborted
    // once that many bytes have arrived.
    void startReading(const std::string& path, std::uint64_t abortAt) {
        eval(*view,
             "window.streamed = null; (async () => {"
             "  const control = new AbortController();"
             "  const r = await fetch('/fetch?action=localfile&path=' + encodeURIComponent(" +
                 foundation::json::write(foundation::Value(path)) +
                 "), {signal: control.signal});"
                 "  const reader = r.body.getReader(); let n = 0;"
                 "  for (;;) {"
                 "    const {done, value} = await reader.read();"
                 "    if (done) break;"
                 "    n += value.byteLength;"
                 "    if (" + std::to_string(abortAt) + " && n >= " + std::to_string(abortAt) +
                 ") { control.abort(); window.streamed = ['aborted', n]; return; }"
                 "  }"
                 "  window.streamed = [r.status, n];"
                 "})().catch(e => window.streamed = String(e)); true");
    }
    std::string streamed() {
        // A page busy with a gibibyte on a loaded machine may take long to answer at all.
        const std::string script = "JSON.stringify(window.streamed)";
        const auto wait = std::chrono::seconds(100);
        testsupport::runMainLoopUntil([&] { return eval(*view, script, wait) != "\"null\""; },
                                      wait);
        return foundation::json::read(eval(*view, script, wait))
            .value_or(foundation::Value())
            .stringOr();
    }

    foundationtest::ScratchFolder scratch;
    std::unique_ptr<apptest::SimulatedPhoneApp> app;
    webkit::WebView* view = nullptr;
};

TEST_F(FetchStreamPageTest, AGibibyteFileStreamsToThePageToTheLastByte) {
#if defined(__SANITIZE_THREAD__)
    // Every byte the view copies is checked there: a smaller file streams the same way.
    const std::uint64_t size = 64 * MiB;
#else
    const std::uint64_t size = 1024 * MiB;
#endif
    startReading(sparseFile(size), 0);
    EXPECT_EQ(streamed(), "[200," + std::to_string(size) + "]");
}

TEST_F(FetchStreamPageTest, AnAbortedFetchStopsTheRespondersReading) {
    // Large (and sparse) enough that a loaded machine's read-ahead stays far from its end.
    const std::string path = sparseFile(16384 * MiB);
    const std::uint64_t readBefore = bytesReadByProcess();
    startReading(path, 10 * MiB);
    const std::string outcome = streamed();
    EXPECT_EQ(outcome.rfind("[\"aborted\",", 0), 0u) << outcome;
    // The responder was stopped and has finished, far from the end of the file. The view
    // reads ahead of the page by as much as it is let, so the distance is not exact.
    EXPECT_TRUE(testsupport::runMainLoopUntil(
        [] { return content::CustomSchemeHandler::inFlightCount() == 0; }));
    const std::uint64_t read = bytesReadByProcess() - readBefore;
    EXPECT_LT(read, 8192 * MiB) << "the process read " << read << " bytes";
}

// Announces 100 bytes and sends 40 before its reading fails.
class BrokenBodyResponder : public content::RequestResponseHandler {
protected:
    bool implements(Operation op) const override { return op == Operation::Get; }
    std::shared_ptr<content::HTTPURLResponse> getResponse(const content::URLRequest& request,
                                                          content::SchemeTask&) override {
        auto response = std::make_shared<content::MyHttpURLResponse>(
            request.url, 200, content::HttpHeaderFields{{"Content-Length", "100"}});
        response->setBodyPieces([sent = false]() mutable -> std::optional<foundation::Data> {
            if (sent) return std::nullopt;
            sent = true;
            return foundation::Data(40, 'x');
        });
        return response;
    }
};

TEST_F(FetchStreamPageTest, ABodyThatBreaksOffMidwayFailsInThePage) {
    static std::once_flag once;
    std::call_once(once, [] {
        content::CustomSchemeHandler::addResponseHandlerClass(
            {"BrokenBodyResponder", "/broken-body", nullptr,
             [] { return std::make_shared<BrokenBodyResponder>(); }});
    });
    eval(*view,
         "window.streamed = null; fetch('/broken-body').then(async r => {"
         "  const reader = r.body.getReader(); let n = 0;"
         "  for (;;) { const {done, value} = await reader.read(); if (done) break;"
         "             n += value.byteLength; }"
         "  window.streamed = [r.status, n];"
         "}).catch(e => window.streamed = 'failed: ' + e); true");
    const std::string outcome = streamed();
    EXPECT_EQ(outcome.rfind("\"failed: ", 0), 0u) << "the page took a short body as whole: "
                                                << outcome;
}

}  // namespace
