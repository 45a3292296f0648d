#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "content/SchemeTask.h"
#include "foundation/AtomicFile.h"
#include "pack/ResourcePackWriter.h"

namespace contenttest {

// A scheme task that records what the responders send and lets the test wait for it.
class RecordingTask : public content::SchemeTask {
public:
    explicit RecordingTask(std::string url, std::string method = "GET") {
        request_.url = *foundation::Url::parse(url);
        request_.httpMethod = std::move(method);
    }

    const content::URLRequest& request() const override { return request_; }
    content::URLRequest& mutableRequest() { return request_; }
    void didReceiveResponse(const content::HTTPURLResponse& response) override {
        std::lock_guard guard(lock_);
        response_ = std::make_unique<content::HTTPURLResponse>(response);
    }
    void didReceiveData(std::span<const std::uint8_t> data) override {
        std::lock_guard guard(lock_);
        body_.append(data.begin(), data.end());
    }
    void didFinish() override {
        std::lock_guard guard(lock_);
        ++finishes_;
        changed_.notify_all();
    }
    void didFailWithError(const foundation::Error&) override {
        std::lock_guard guard(lock_);
        ++failures_;
        changed_.notify_all();
    }

    // Waits (bounded, so a broken responder fails the test) for the finish or failure.
    bool waitForFinish() {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10),
                                 [&] { return finishes_ + failures_ > 0; });
    }

    int status() const { return response_ ? int(response_->statusCode()) : -1; }
    std::string header(const std::string& name) const {
        return response_ ? response_->allHeaderFields().get(name).value_or("") : "";
    }
    const std::string& body() const { return body_; }
    bool gotResponse() const { return response_ != nullptr; }
    int finishes() const { return finishes_; }
    int failures() const { return failures_; }

private:
    content::URLRequest request_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::unique_ptr<content::HTTPURLResponse> response_;
    std::string body_;
    int finishes_ = 0;
    int failures_ = 0;
};

// The build's own signing key, so that packs made here pass the program's check.
inline std::string packPrivateKey() {
    auto key = foundation::readFile(ORVANDEL_PACK_PRIVATE_KEY);
    if (!key) ADD_FAILURE() << "no pack key at " << ORVANDEL_PACK_PRIVATE_KEY;
    return key ? std::string(key->begin(), key->end()) : std::string();
}

inline packtool::PackFile file(std::string name, std::string contents) {
    return {std::move(name), foundation::Data(contents.begin(), contents.end())};
}

inline foundation::Data makePack(const std::vector<packtool::PackFile>& files) {
    return packtool::writeResourcePack(files, "pelmor", packPrivateKey());
}

// The sample web application most tests serve.
inline std::vector<packtool::PackFile> sampleSite() {
    return {file("index.html", "<h1>start</h1>"), file("css/site.css", "body{}"),
            file("data.unknownext", "raw"), file("js/app.js", "let a = 1;")};
}

}  // namespace contenttest
