#include "shell/events/SystemEventHandler.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "foundation/Bundle.h"
#include "foundation/PropertyList.h"
#include "foundation/Url.h"
#include "platform/gtk/Workspace.h"
#include "shell/plugins/PageValues.h"
#include "shell/plugins/WVPluginBase.h"

using foundation::Value;

namespace {

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

std::string trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The value of the first "key : value" line of a /proc table with that key.
std::optional<std::string> tableValue(const std::string& table, const std::string& key) {
    std::istringstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (trimmed(line.substr(0, colon)) == key) return trimmed(line.substr(colon + 1));
    }
    return std::nullopt;
}

std::string lowercaseScheme(const std::string& url) {
    const auto colon = url.find(':');
    if (colon == std::string::npos) return {};
    std::string scheme = url.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return scheme;
}

Value failure(const std::string& error) {
    return Value::dict({{"result", false}, {"error", error}});
}

}  // namespace

WVEventPlugin::HandlerClass SystemEventHandler::handlerClass() {
    return {"SystemEventHandler", [] { return std::make_shared<SystemEventHandler>(); }};
}

Value SystemEventHandler::osversion(const std::string& procRoot) {
    std::int64_t parts[3] = {0, 0, 0};
    if (auto release = readFile(procRoot + "/sys/kernel/osrelease")) {
        // "6.1.0-13-amd64": the leading numbers, as far as they go.
        const char* at = release->data();
        const char* end = at + release->size();
        for (auto& part : parts) {
            const auto [next, error] = std::from_chars(at, end, part);
            if (error != std::errc()) break;
            at = next;
            if (at == end || *at != '.') break;
            ++at;
        }
    }
    return Value::dict({{"major", parts[0]}, {"minor", parts[1]}, {"patch", parts[2]}});
}

std::string SystemEventHandler::sysID(const std::string& sysRoot) {
    return trimmed(readFile(sysRoot + "/class/dmi/id/product_serial").value_or(""));
}

std::string SystemEventHandler::sysCPU(const std::string& procRoot) {
    auto table = readFile(procRoot + "/cpuinfo");
    if (!table) return "";
    auto name = tableValue(*table, "model name");
    if (!name || name->empty()) return "Unknown";
    return *name;
}

std::uint64_t SystemEventHandler::sysMemCapacity(const std::string& procRoot) {
    auto table = readFile(procRoot + "/meminfo");
    if (!table) return 0;
    auto total = tableValue(*table, "MemTotal");  // "16303488 kB"
    if (!total) return 0;
    std::uint64_t kibibytes = 0;
    std::from_chars(total->data(), total->data() + total->size(), kibibytes);
    return kibibytes * 1024;
}

bool SystemEventHandler::urlMayBeOpened(const std::string& url) {
    const std::string scheme = lowercaseScheme(url);
    if (scheme == "http" || scheme == "https" || scheme == "mailto") return true;
    if (scheme != "file") return false;
    auto parsed = foundation::Url::parse(url);
    if (!parsed || (!parsed->host().empty() && parsed->host() != "localhost")) return false;
    const std::string path = foundation::Url::percentDecode(parsed->path());
    return !path.empty() && path.find('\0') == std::string::npos &&
           !gtk::Workspace::launchesProgram(path);
}

void SystemEventHandler::handleRequestEventPluginCallback(const Value& request,
                                                          const std::shared_ptr<WVEventPlugin>&,
                                                          WVBridgeResponseCallback callback) {
    auto reply = [&](const Value& answer) {
        if (callback) callback(answer);
    };
    const std::string cmd = request["cmd"].stringOr();
    const Value& data = request["data"];
    if (!data.isDictionary()) {
        reply(failure("no request data provided"));
        return;
    }
    if (cmd == "openurl") {
        const std::string url = data["url"].stringOr();
        if (url.empty()) {
            reply(failure("Invalid URL"));
            return;
        }
        if (!urlMayBeOpened(url)) {
            reply(failure("URL not allowed"));
            return;
        }
        const bool opened = env_.openURL ? env_.openURL(url) : gtk::Workspace::openURL(url);
        reply(Value::dict({{"result", opened}}));
    } else if (cmd == "icons-info") {
        std::string path = env_.iconsInfoPath;
        if (path.empty()) {
            path = foundation::Bundle::mainBundle().pathForResource("MobileDevices", "plist")
                       .value_or("");
        }
        const auto bytes = path.empty() ? std::nullopt : readFile(path);
        const auto list = bytes ? foundation::plist::read(*bytes) : std::nullopt;
        const Value& types = list ? (*list)["UTExportedTypeDeclarations"] : Value();
        if (!types.isArray()) {
            reply(Value::dict({{"result", false}}));
            return;
        }
        reply(Value::dict({{"result", true}, {"data", WVPluginBase::removeInvalidTypeOfObject(types)}}));
    } else if (cmd == "get-sysinfo") {
        reply(Value::dict({{"result", true},
                           {"data", Value::dict({{"osversion", osversion(env_.procRoot)},
                                                 {"serial", sysID(env_.sysRoot)},
                                                 {"cpu", sysCPU(env_.procRoot)},
                                                 {"ram", sysMemCapacity(env_.procRoot)}})}}));
    } else {
        reply(
            failure(fmt::format("Unhandled command: {}", PageValues::description(request["cmd"]))));
    }
}
