#include "files/WVLocalFilesystemPlugin.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include "content/ThreadPool.h"
#include "files/FreePath.h"
#include "files/LocalFileContents.h"
#include "files/RequestArguments.h"
#include "foundation/Error.h"
#include "foundation/Paths.h"
#include "logging/LogCall.h"
#include "shell/plugins/PageValues.h"

using foundation::Value;

namespace {

Value reply(bool result) {
    return Value::dict({{"result", result}});
}

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

std::string textOf(const Value& value) {
    const std::string* text = value.string();
    return text ? *text : std::string();
}

bool flagOf(const Value& value) { return RequestArguments::flag(value).value_or(false); }

std::string errnoText(int code) {
    return std::error_code(code, std::system_category()).message();
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

Value pathExists(const Value& request) {
    const std::string path = textOf(request["path"]);
    if (path.empty()) return reply(false);
    struct stat info {};
    const bool exists = stat(path.c_str(), &info) == 0;
    return Value::dict({{"result", exists}, {"isdir", exists && S_ISDIR(info.st_mode)}});
}

Value ensureFilepath(const Value& request) {
    const std::string path = firstFreePath(textOf(request["path"]), flagOf(request["dir"]));
    return Value::dict({{"result", true}, {"data", Value::dict({{"path", path}})}});
}

// Files only. A symbolic link is removed itself, whatever it points to, so a link into
// another tree never costs that tree anything.
Value removeFile(const Value& request) {
    const std::string path = textOf(request["path"]);
    struct stat info {};
    if (path.empty() || lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        return reply(false);
    if (unlink(path.c_str()) != 0)
        return failure(fmt::format("\"{}\" could not be removed: {}", path, errnoText(errno)));
    return reply(true);
}

Value makeFolder(const Value& request) {
    const std::string path = textOf(request["path"]);
    if (path.empty()) return reply(false);
    if (flagOf(request["intermediate"])) {
        std::error_code error;
        std::filesystem::create_directories(path, error);
        struct stat info {};
        if (error || stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            const std::string reason = error ? error.message() : errnoText(EEXIST);
            return failure(fmt::format("The folder \"{}\" could not be made: {}", path, reason));
        }
    } else if (mkdir(path.c_str(), 0777) != 0) {
        return failure(
            fmt::format("The folder \"{}\" could not be made: {}", path, errnoText(errno)));
    }
    return Value::dict({{"result", true}, {"error", Value::null()}});
}

Value listFolder(const Value& request) {
    const std::string path = textOf(request["path"]);
    if (path.empty()) return reply(false);
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(path.c_str()), closedir);
    if (!folder)
        return failure(
            fmt::format("The folder \"{}\" could not be listed: {}", path, errnoText(errno)));
    Value entries = foundation::Array{};
    errno = 0;
    while (const dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string full = joined(path, name);
        struct stat info {};
        const bool known = lstat(full.c_str(), &info) == 0;
        auto property = [&](bool value) { return known ? Value(value) : Value::null(); };
        entries.append(Value::dict({
            {"name", name},
            {"fullpath", full},
            {"readable", property(access(full.c_str(), R_OK) == 0)},
            {"writable", property(access(full.c_str(), W_OK) == 0)},
            {"symlink", property(S_ISLNK(info.st_mode))},
            {"isdir", property(S_ISDIR(info.st_mode))},
        }));
    }
    if (errno != 0)
        return failure(
            fmt::format("The folder \"{}\" could not be listed: {}", path, errnoText(errno)));
    return Value::dict({{"result", true}, {"data", entries}});
}

// A folder the page asks for is made when missing (with its parents), as a fresh home may
// not have them yet; "" when something other than a folder stands there or it cannot be made.
std::string madeFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? path : std::string();
}

Value commonPaths() {
    using foundation::Paths;
    return Value::dict({
        {"appSupportPath", madeFolder(Paths::dataHome())},
        {"temporaryPath", Paths::tempDir()},
        {"musicPath", madeFolder(Paths::musicDir())},
        {"downloadPath", madeFolder(Paths::userDir("DOWNLOAD", "Downloads"))},
        {"documentsPath", madeFolder(Paths::userDir("DOCUMENTS", "Documents"))},
        {"picturesPath", madeFolder(Paths::userDir("PICTURES", "Pictures"))},
        {"cachePath", madeFolder(Paths::cacheHome())},
        {"desktopPath", madeFolder(Paths::userDir("DESKTOP", "Desktop"))},
        {"publicPath", madeFolder(Paths::userDir("PUBLICSHARE", "Public"))},
        {"homePath", Paths::homeDir()},
    });
}

Value dispatch(const Value& request) {
    const std::string cmd = textOf(request["cmd"]);
    if (cmd == "path-exists") return pathExists(request);
    if (cmd == "ensure-filepath") return ensureFilepath(request);
    if (cmd == "rm") return removeFile(request);
    if (cmd == "newfolder" || cmd == "mkdir") return makeFolder(request);
    if (strcasecmp(cmd.c_str(), "ls") == 0) return listFolder(request);
    if (strcasecmp(cmd.c_str(), "common-paths") == 0)
        return Value::dict({{"result", true}, {"data", commonPaths()}});
    if (cmd == "readfile") return LocalFileContents::readFile(request);
    if (cmd == "writefile") return LocalFileContents::writeFile(request);
    return failure(fmt::format("unhandled command: {}", PageValues::description(request["cmd"])));
}

std::string describe(const std::exception& e) {
    if (const auto* named = dynamic_cast<const foundation::NamedException*>(&e))
        return named->reason();
    return e.what();
}

}  // namespace

std::shared_ptr<WVLocalFilesystemPlugin> WVLocalFilesystemPlugin::create(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window) {
    auto plugin =
        std::make_shared<WVLocalFilesystemPlugin>(bridge, std::move(webview), std::move(window));
    plugin->listen("fs", kJSLocalFilesystemNotification);
    return plugin;
}

WVPluginBase::PluginClass WVLocalFilesystemPlugin::pluginClass() {
    return {"WVLocalFilesystemPlugin",
            [](const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
               std::weak_ptr<void> window) {
                return std::shared_ptr<WVPluginBase>(
                    create(bridge, std::move(webview), std::move(window)));
            },
            setupWithBridgeWebviewInWindow};
}

void WVLocalFilesystemPlugin::setupWithBridgeWebviewInWindow(
    const std::shared_ptr<ScriptBridge>& bridge, std::weak_ptr<void> webview,
    std::weak_ptr<void> window) {
    setupShared<WVLocalFilesystemPlugin>(bridge, std::move(webview), std::move(window));
}

void WVLocalFilesystemPlugin::OnJSNotification(const foundation::Notification& notification) {
    ThreadPool::addAsyncJobWithBlock(
        [request = messageData(notification), reply = replyBlock(notification)] {
            process(request, reply);
        });
}

void WVLocalFilesystemPlugin::process(const Value& request, const WVBridgeResponseCallback& reply) {
    Value answer;
    try {
        answer = dispatch(request);
    } catch (const std::exception& e) {
        LogError("{}", describe(e));
        answer = failure(fmt::format("CRITICAL Exception: {}", describe(e)));
    }
    if (reply) reply(answer);
}
