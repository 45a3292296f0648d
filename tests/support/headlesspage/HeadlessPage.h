#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

typedef struct _JSCContext JSCContext;

namespace testsupport {

// A page in JavaScriptCore with just enough of a browser for the bridge's page script:
// `window`, `document.createElement`/`documentElement.appendChild`, frames whose `src`
// navigates, `setTimeout` (run later on the main loop) and `console.log` (kept).
// Main thread only.
class HeadlessPage : public std::enable_shared_from_this<HeadlessPage> {
public:
    static std::shared_ptr<HeadlessPage> create();
    ~HeadlessPage();
    HeadlessPage(const HeadlessPage&) = delete;
    HeadlessPage& operator=(const HeadlessPage&) = delete;

    // The script's completion value as text (nullopt for undefined or on an exception,
    // which is kept in errors()).
    std::optional<std::string> evaluate(const std::string& script);

    // Called, later on the main loop, for every navigation a frame starts.
    void setNavigationHandler(std::function<void(const std::string& url)> handler);

    std::vector<std::string> consoleLines() const;
    std::vector<std::string> errors() const;

private:
    HeadlessPage();
    void install();
    void keepException();
    static void consoleLog(const char* line, void* self);
    static void setTimeoutNative(void* function, void* self);
    static void navigateNative(const char* url, void* self);

    JSCContext* context_ = nullptr;
    std::function<void(const std::string&)> navigationHandler_;
    std::vector<std::string> console_;
    std::vector<std::string> errors_;
};

}  // namespace testsupport
