#include "shell/events/AppEventHandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <sstream>

#include "data/helpers/NSFileHandleReadLine.h"
#include "foundation/Bundle.h"
#include "foundation/UserDefaults.h"
#include "foundation/Utf8.h"
#include "logging/LgLogFileManagerDefault.h"
#include "logging/LogCall.h"
#include "shell/plugins/PageValues.h"
#include "shell/plugins/WVPluginBase.h"

using foundation::Value;

namespace {

// A date as the log shows dates: "2023-11-14 22:14:10 +0000", in UTC. A stored value far
// outside any calendar shows as its number of seconds.
std::string dateDescription(double secondsSince1970) {
    constexpr double kCalendarSeconds = 1e15;
    if (std::isfinite(secondsSince1970) && std::fabs(secondsSince1970) < kCalendarSeconds) {
        try {
            const auto seconds = static_cast<std::time_t>(std::floor(secondsSince1970));
            return fmt::format("{:%Y-%m-%d %H:%M:%S} +0000", fmt::gmtime(seconds));
        } catch (const fmt::format_error&) {
        }
    }
    return fmt::format("{}", secondsSince1970);
}

constexpr const char* kLastSubmissionKey = "Feedback.lastSubmissionDate";

// The bytes between two offsets, decoded with replacement characters.
std::string bytesBetween(int fd, off_t from, off_t to) {
    std::string bytes(std::size_t(to - from), '\0');
    const ssize_t got = pread(fd, bytes.data(), bytes.size(), from);
    bytes.resize(got > 0 ? std::size_t(got) : 0);
    return foundation::utf8::sanitize(bytes);
}

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return foundation::utf8::sanitize(text.str());
}

std::optional<std::chrono::system_clock::time_point> modificationDate(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        LogInfo("Error while fetching file attributes: {}", std::strerror(errno));
        return std::nullopt;
    }
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) +
            std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

}  // namespace

WVEventPlugin::HandlerClass AppEventHandler::handlerClass() {
    return {"AppEventHandler", [] { return std::make_shared<AppEventHandler>(); }};
}

std::string AppEventHandler::applog(int lines) const {
    try {
        LgLogFileManagerDefault manager(env_.logsDirectory);
        const auto paths = manager.sortedLogFilePaths();
        if (paths.empty()) return "";
        const int fd = ::open(paths.front().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return "";
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        if (lseek(fd, 0, SEEK_END) < 0) return "";

        std::deque<std::string> pieces;
        do {
            const off_t before = lseek(fd, 0, SEEK_CUR);
            auto piece = NSFileHandle::readLineBackwards(fd);
            const off_t after = lseek(fd, 0, SEEK_CUR);
            pieces.push_front(piece ? std::move(*piece) : bytesBetween(fd, after, before));
            // Past the start of the file every piece would be empty.
            if (after <= 0) break;
        } while (int(pieces.size()) < lines);

        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i) joined += "\r\n";
            joined += pieces[i];
        }
        return joined;
    } catch (const std::exception&) {
        return "";
    }
}

std::string AppEventHandler::crashlog() const {
    auto& defaults = env_.defaults ? *env_.defaults : foundation::UserDefaults::standard();
    const Value submitted = defaults.objectForKey(kLastSubmissionKey);
    std::optional<TCrashLogFinder::Clock::time_point> since;
    std::string sinceText;
    if (const auto* date = submitted.date()) {
        // A stored date beyond the clock's range stands for its end.
        using Since = TCrashLogFinder::Clock::time_point;
        const double limit =
            std::chrono::duration<double>(Since::duration::max()).count() * 0.999;
        const double seconds =
            std::isnan(date->secondsSince1970) ? 0 : std::clamp(date->secondsSince1970, -limit, limit);
        since = Since(std::chrono::duration_cast<Since::duration>(std::chrono::duration<double>(seconds)));
        sinceText = dateDescription(date->secondsSince1970);
    }
    const auto reports = env_.reportFolders
                             ? TCrashLogFinder::crashLogsSince(since, *env_.reportFolders)
                             : TCrashLogFinder::crashLogsSince(since);
    std::string picked;
    if (reports.size() == 1) {
        if (since)
            LogInfo("Found a crash file earlier than latest submission on {}", sinceText);
        else
            LogInfo("Found a crash file");
        picked = reports.front();
    } else {
        if (since)
            LogInfo("Found {} crash files earlier than latest submission on {}", reports.size(),
                    sinceText);
        else
            LogInfo("Found {} crash files", reports.size());
        if (reports.empty()) return "";
        std::optional<std::chrono::system_clock::time_point> newest;
        for (auto it = reports.rbegin(); it != reports.rend(); ++it) {
            auto date = modificationDate(*it);
            LogInfo("CrashLog: {}", *it);
            if (date && (!newest || *date > *newest)) {
                newest = date;
                picked = *it;
            }
        }
        if (picked.empty()) return "";
        LogInfo("Picking CrashLog: {}", picked);
    }
    auto text = readText(picked);
    if (!text) {
        LogInfo("Failed to read crash file: {}", std::strerror(errno));
        return "";
    }
    return *text;
}

void AppEventHandler::handleRequestEventPluginCallback(const Value& request,
                                                       const std::shared_ptr<WVEventPlugin>&,
                                                       WVBridgeResponseCallback callback) {
    if (!callback) return;
    const std::string cmd = request["cmd"].stringOr();
    const Value& data = request["data"];
    if (cmd == "info") {
        const auto bundle = env_.bundlePath ? foundation::Bundle(*env_.bundlePath)
                                            : foundation::Bundle::mainBundle();
        Value info = WVPluginBase::removeInvalidTypeOfObject(Value(bundle.infoDictionary()));
        callback(Value::dict(
            {{"result", true},
             {"data", Value::dict({{"id", bundle.objectForInfoDictionaryKey("CFBundleIdentifier")
                                              .stringOr()},
                                   {"info", info}})}}));
    } else if (cmd == "debugging") {
        callback(Value::dict({{"result", false}}));
    } else if (cmd == "get-log") {
        const Value& count = data["lines"];
        int lines = kDefaultLogLines;
        if (!count.isNil()) {
            const auto asked = PageValues::integerValue(count).value_or(0);
            lines = int(std::clamp<std::int64_t>(asked, INT32_MIN, INT32_MAX));
        }
        const Value& type = data["type"];
        Value payload = foundation::Dictionary{};
        if (type.isNil()) {
            payload.set("app", applog(lines));
            payload.set("crash", crashlog());
        } else if (type.stringOr() == "app") {
            payload.set("app", applog(lines));
        } else if (type.stringOr() == "crash") {
            payload.set("crash", crashlog());
        }
        callback(Value::dict({{"result", true}, {"data", payload}}));
    } else {
        callback(Value::dict({{"result", false},
                              {"error", fmt::format("unhandled command: {}",
                                                    PageValues::description(request["cmd"]))}}));
    }
}
