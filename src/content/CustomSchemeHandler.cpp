#include "content/CustomSchemeHandler.h"

#include <algorithm>
#include <mutex>

#include <fmt/format.h>

#include "content/ThreadPool.h"
#include "foundation/ConsolePrint.h"

namespace content {
namespace {

using InFlightEntry = CustomSchemeHandler::InFlightEntry;

struct Registries {
    std::mutex classesLock;
    std::vector<ResponderClass> classes;
    std::mutex inFlightLock;
    std::vector<InFlightEntry> inFlight;
};

Registries& registries() {
    static auto* const shared = new Registries;
    return *shared;
}

void reportRouting(const foundation::Url& url) {
    // One write for both lines: standard error is unbuffered.
    foundation::printToConsole("{}\nscheme: {}, path: {}, port:{}, query: {}\n", url.toString(),
               url.scheme(), url.path(), url.port() ? std::to_string(*url.port()) : "(null)",
               url.query().value_or("(null)"));
}

void answerNotFound(SchemeTask& task) {
    task.didReceiveResponse(HTTPURLResponse(task.request().url, 404));
    task.didFinish();
}

}  // namespace

void CustomSchemeHandler::addResponseHandlerClass(ResponderClass responderClass) {
    auto& r = registries();
    std::lock_guard guard(r.classesLock);
    r.classes.push_back(std::move(responderClass));
}

std::vector<ResponderClass> CustomSchemeHandler::allResponseClasses() {
    auto& r = registries();
    std::lock_guard guard(r.classesLock);
    return r.classes;
}

std::vector<CustomSchemeHandler::InFlightEntry> CustomSchemeHandler::allHandlers() {
    auto& r = registries();
    std::lock_guard guard(r.inFlightLock);
    return r.inFlight;
}

std::size_t CustomSchemeHandler::inFlightCount() {
    auto& r = registries();
    std::lock_guard guard(r.inFlightLock);
    return r.inFlight.size();
}

void CustomSchemeHandler::startURLSchemeTask(const std::shared_ptr<SchemeTask>& task) {
    const foundation::Url& url = task->request().url;
    // An empty path ("myapp://x") is the same page as "/".
    const std::string path = url.path();

    std::shared_ptr<RequestResponseHandler> handler;
    for (const auto& candidate : allResponseClasses()) {
        bool claims = false;
        if (candidate.uri) {
            reportRouting(url);
            claims = *candidate.uri == path;
        } else if (candidate.test) {
            claims = candidate.test(path);
        }
        if (!claims || !candidate.make) continue;
        handler = candidate.make();
        if (handler) break;
    }
    if (!handler) {
        answerNotFound(*task);
        return;
    }

    auto& r = registries();
    {
        std::lock_guard guard(r.inFlightLock);
        r.inFlight.push_back({task, handler});
    }
    ThreadPool::addAsyncJobWithBlock([task, handler] {
        handler->handle(task->request(), task, [task] {
            auto& r = registries();
            std::lock_guard guard(r.inFlightLock);
            auto it = std::find_if(r.inFlight.begin(), r.inFlight.end(),
                                   [&](const InFlightEntry& e) { return e.task == task; });
            if (it != r.inFlight.end()) r.inFlight.erase(it);
        });
    });
}

void CustomSchemeHandler::stopURLSchemeTask(const std::shared_ptr<SchemeTask>& task) {
    std::shared_ptr<RequestResponseHandler> handler;
    {
        auto& r = registries();
        std::lock_guard guard(r.inFlightLock);
        auto it = std::find_if(r.inFlight.begin(), r.inFlight.end(),
                               [&](const InFlightEntry& e) { return e.task == task; });
        if (it != r.inFlight.end()) handler = it->handler;
    }
    if (handler) handler->stop();
}

}  // namespace content
