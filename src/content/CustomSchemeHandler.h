#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/RequestResponseHandler.h"
#include "content/SchemeTask.h"

namespace content {

// A responder class as the registry keeps it: the path it serves (matched exactly), or a
// test on the path for a class without one, and how to make an instance.
struct ResponderClass {
    std::string name;
    std::optional<std::string> uri;
    std::function<bool(std::string_view path)> test;
    std::function<std::shared_ptr<RequestResponseHandler>()> make;
};

// Answers every request under the "myapp" scheme: routes it to the first responder class
// that claims its path and lets a fresh instance serve it on the background pool.
class CustomSchemeHandler {
public:
    // Both are called by the browser view on the main thread (by MyURLProtocol elsewhere).
    void startURLSchemeTask(const std::shared_ptr<SchemeTask>& task);
    void stopURLSchemeTask(const std::shared_ptr<SchemeTask>& task);

    // The process-wide class list, in match order; filled once at start-up.
    static void addResponseHandlerClass(ResponderClass responderClass);
    static std::vector<ResponderClass> allResponseClasses();
    // A request being served: its task and the responder serving it.
    struct InFlightEntry {
        std::shared_ptr<SchemeTask> task;
        std::shared_ptr<RequestResponseHandler> handler;
    };
    // The requests being served now, oldest first.
    static std::vector<InFlightEntry> allHandlers();
    // How many requests are being served now.
    static std::size_t inFlightCount();
};

}  // namespace content
