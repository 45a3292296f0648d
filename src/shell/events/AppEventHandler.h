#pragma once

#include <optional>
#include <string>
#include <vector>

#include "logging/TCrashLogFinder.h"
#include "shell/plugins/WVEventPlugin.h"

namespace foundation {
class UserDefaults;
}

// The "app" event: the bundle's information, whether the application is being debugged,
// and its own logs: the tail of the newest log file and the newest crash or hang report.
// Runs on the background pool.
class AppEventHandler : public WVEventHandler {
public:
    // Where the handler looks; tests point it at temporary folders.
    struct Environment {
        std::optional<std::string> bundlePath;       // the main bundle when absent
        std::string logsDirectory;                   // the log manager's default when empty
        std::optional<std::vector<TCrashLogFinder::ReportFolders>> reportFolders;
        foundation::UserDefaults* defaults = nullptr;  // the standard domain when null
    };
    static constexpr int kDefaultLogLines = 200;

    AppEventHandler() = default;
    explicit AppEventHandler(Environment environment) : env_(std::move(environment)) {}

    static WVEventPlugin::HandlerClass handlerClass();

    void handleRequestEventPluginCallback(const foundation::Value& request,
                                          const std::shared_ptr<WVEventPlugin>& eventPlugin,
                                          WVBridgeResponseCallback callback) override;

    // The last lines of the newest log file: `lines` pieces read backwards (at least one,
    // and none past the start of the file), joined with "\r\n"; "" when there is no
    // readable log file. Bytes that are not UTF-8 become U+FFFD.
    std::string applog(int lines) const;
    // The text of the newest crash or hang report since the last feedback submission; ""
    // when there is none or it cannot be read.
    std::string crashlog() const;

private:
    Environment env_;
};
