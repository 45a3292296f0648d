#include "content/AppFetchHandler.h"

#include <map>
#include <mutex>

namespace content {

namespace {

struct MediaLoaderRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<FetchMediaLoader>, std::less<>> loaders;
};

MediaLoaderRegistry& registry() {
    static MediaLoaderRegistry shared;
    return shared;
}

}  // namespace

ResponderClass AppFetchHandler::responderClass() {
    return {"AppFetchHandler", "/fetch", nullptr,
            [] { return std::make_shared<AppFetchHandler>(); }};
}

void AppFetchHandler::setMediaLoaderOf(std::shared_ptr<FetchMediaLoader> loader,
                                       const std::string& deviceId) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    if (loader) {
        shared.loaders[deviceId] = std::move(loader);
    } else {
        shared.loaders.erase(deviceId);
    }
}

std::shared_ptr<FetchMediaLoader> AppFetchHandler::mediaLoaderOf(const std::string& deviceId) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    const auto found = shared.loaders.find(deviceId);
    return found == shared.loaders.end() ? nullptr : found->second;
}

void AppFetchHandler::removeMediaLoaderOf(const std::string& deviceId) {
    auto& shared = registry();
    std::lock_guard lock(shared.mutex);
    shared.loaders.erase(deviceId);
}

}  // namespace content
