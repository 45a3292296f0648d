#include "media/MyAssetLoaderDelegate.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "content/MyURLProtocol.h"
#include "logging/LogCall.h"

namespace media {

namespace {

constexpr auto kLoadTimeLimit = std::chrono::minutes(2);

struct HTTPReaderRegistry {
    std::mutex mutex;
    MyAssetLoaderDelegate::HTTPReader reader;
};

HTTPReaderRegistry& httpReaders() {
    static HTTPReaderRegistry registry;
    return registry;
}

// Gathers one answer and lets the waiting caller go once it is complete.
class GatheringClient : public content::URLProtocolClient {
public:
    void didReceiveResponse(content::MyURLProtocol&, const content::HTTPURLResponse& response,
                            CacheStoragePolicy) override {
        std::lock_guard lock(mutex_);
        status_ = response.statusCode();
        const std::string length =
            response.allHeaderFields().get("Content-Length").value_or("");
        std::uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(length.data(), length.data() + length.size(), value);
        if (error == std::errc() && end == length.data() + length.size()) announced_ = value;
    }
    void didLoadData(content::MyURLProtocol&, std::span<const std::uint8_t> data) override {
        std::lock_guard lock(mutex_);
        if (tooLarge_ || data.size() > MyAssetLoaderDelegate::kMaxContentLength - bytes_->size()) {
            tooLarge_ = true;
            return;
        }
        bytes_->insert(bytes_->end(), data.begin(), data.end());
    }
    void didFinishLoading(content::MyURLProtocol&) override {
        std::lock_guard lock(mutex_);
        finished_ = true;
        done_.notify_all();
    }
    void didFailWithError(content::MyURLProtocol&, const foundation::Error&) override {
        std::lock_guard lock(mutex_);
        failed_ = true;
        finished_ = true;
        done_.notify_all();
    }

    // The content once the answer is complete with status 200, and as long as it said;
    // else nullptr: a part of a file is no audio source.
    std::shared_ptr<const std::vector<std::uint8_t>> wait() {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, kLoadTimeLimit, [this] { return finished_; })) return nullptr;
        if (status_ != 200 || tooLarge_ || failed_) return nullptr;
        if (announced_ && *announced_ != bytes_->size()) return nullptr;
        return bytes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool tooLarge_ = false;
    bool failed_ = false;
    std::optional<std::uint64_t> announced_;  // the head's "Content-Length"
    std::int64_t status_ = 0;
    std::shared_ptr<std::vector<std::uint8_t>> bytes_ =
        std::make_shared<std::vector<std::uint8_t>>();
};

}  // namespace

void MyAssetLoaderDelegate::setHTTPReader(HTTPReader reader) {
    std::lock_guard lock(httpReaders().mutex);
    httpReaders().reader = std::move(reader);
}

std::optional<std::shared_ptr<const std::vector<std::uint8_t>>>
MyAssetLoaderDelegate::contentsOfURL(const std::string& url, foundation::Error* error) {
    auto fail = [&](const std::string& reason = {}) {
        if (!reason.empty()) LogInfo("The URL \"{}\" could not be read: {}", url, reason);
        if (error) {
            *error = {"NSURLErrorDomain",
                      400,
                      "The URL \"" + url + "\" could not be read" +
                          (reason.empty() ? "." : ": " + reason + "."),
                      {}};
        }
        return std::nullopt;
    };
    std::optional<foundation::Url> parsed = foundation::Url::parse(url);
    if (!parsed) return fail();
    if (parsed->scheme() == "http" || parsed->scheme() == "https") {
        HTTPReader reader;
        {
            std::lock_guard lock(httpReaders().mutex);
            reader = httpReaders().reader;
        }
        if (!reader) return fail("no HTTP client is set up");
        std::string reason;
        auto bytes = reader(url, kMaxContentLength, &reason);
        if (!bytes) return fail(reason);
        if (bytes->size() > kMaxContentLength) return fail("the source is too large");
        return std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
    }
    content::URLRequest request;
    request.url = *parsed;
    if (!content::MyURLProtocol::canInitWithRequest(request)) return fail();

    auto client = std::make_shared<GatheringClient>();
    content::MyURLProtocol protocol(request, client);
    protocol.startLoading();
    auto bytes = client->wait();
    if (!bytes) {
        protocol.stopLoading();
        return fail();
    }
    return bytes;
}

}  // namespace media
