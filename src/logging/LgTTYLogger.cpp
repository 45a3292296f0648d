#include "logging/LgTTYLogger.h"

#include <sys/uio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>

#include <fmt/format.h>

#include "logging/LogLevel.h"

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool colorTerminal() {
    return environment("ConsoleColors") == "YES" ||
           lowercase(environment("TERM")).find("color") != std::string::npos;
}

}  // namespace

std::shared_ptr<LgTTYLogger> LgTTYLogger::sharedInstance() {
    // Kept for the life of the process: its queue must outlive every log call.
    static const auto* const shared =
        new std::shared_ptr<LgTTYLogger>(std::make_shared<LgTTYLogger>());
    return *shared;
}

LgTTYLogger::LgTTYLogger(int fd)
    : LgAbstractLogger("LgTTYLogger"),  // its class name: it gives no other
      fd_(fd),
      supportsColors_(colorTerminal()),
      use256Colors_(supportsColors_ && environment("TERM").find("256") != std::string::npos),
      applicationName_(program_invocation_short_name && *program_invocation_short_name
                           ? program_invocation_short_name
                           : "<UnnamedApp>"),
      processId_(fmt::format("{}", static_cast<int>(::getpid()))) {}

std::string LgTTYLogger::defaultLine(const LgLogMessage& message) const {
    using namespace std::chrono;
    const auto since = message.timestamp().time_since_epoch();
    const std::time_t seconds = duration_cast<std::chrono::seconds>(since).count();
    const auto millis = duration_cast<milliseconds>(since).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}:{:03} {}[{}:{}] {}",
                       local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, millis, applicationName_, processId_,
                       message.threadID().substr(0, 8), message.message());
}

const LgTTYLoggerColorProfile* LgTTYLogger::profileFor(const LgLogMessage& message) const {
    if (const auto* tag = std::any_cast<std::string>(&message.tag())) {
        for (const auto& rule : rules_) {
            if (rule.tag == *tag) return &rule.profile;
        }
    }
    for (const auto& rule : rules_) {
        if (!rule.tag && (rule.profile.mask() & message.flag()) &&
            rule.profile.context() == message.context()) {
            return &rule.profile;
        }
    }
    return nullptr;
}

void LgTTYLogger::logMessage(const LgLogMessage& message) {
    std::string line;
    if (logFormatter_) {
        auto formatted = logFormatter_->formatLogMessage(message);
        if (!formatted) return;
        line = std::move(*formatted);
    } else {
        line = defaultLine(message);
    }
    if (line.empty()) return;
    if (line.back() != '\n') line += '\n';

    const LgTTYLoggerColorProfile* profile = colorsEnabled_ ? profileFor(message) : nullptr;
    std::string before, after;
    if (profile) {
        before = profile->foregroundCode() + profile->backgroundCode();
        after = profile->resetCode();
        // The colour ends before the line feed, so that it does not run into the next line.
        line.pop_back();
        after += '\n';
    }
    iovec parts[3] = {
        {before.data(), before.size()}, {line.data(), line.size()}, {after.data(), after.size()}};
    ssize_t written;
    do {
        written = ::writev(fd_, parts, 3);
    } while (written < 0 && errno == EINTR);
}

bool LgTTYLogger::colorsEnabled() {
    bool result = false;
    runOnLoggerQueue([&] { result = colorsEnabled_; });
    return result;
}

void LgTTYLogger::setColorsEnabled(bool enabled) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), enabled] {
        colorsEnabled_ = enabled;
        if (enabled && rules_.empty()) {
            rules_.push_back(
                {std::nullopt, LgTTYLoggerColorProfile(Rgb{214, 57, 30}, std::nullopt,
                                                       LgLogFlagError, 0, use256Colors_)});
            rules_.push_back(
                {std::nullopt, LgTTYLoggerColorProfile(Rgb{204, 121, 32}, std::nullopt,
                                                       LgLogFlagWarning, 0, use256Colors_)});
        }
    });
}

void LgTTYLogger::setForegroundColor(std::optional<Rgb> foreground, std::optional<Rgb> background,
                                     std::uint64_t mask, std::int64_t context) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), foreground, background, mask, context] {
        LgTTYLoggerColorProfile profile(foreground, background, mask, context, use256Colors_);
        for (auto& rule : rules_) {
            if (!rule.tag && rule.profile.mask() == mask && rule.profile.context() == context) {
                rule.profile = profile;
                return;
            }
        }
        rules_.push_back({std::nullopt, profile});
    });
}

void LgTTYLogger::setForegroundColorForTag(std::optional<Rgb> foreground,
                                           std::optional<Rgb> background, std::string tag) {
    runOnLoggerQueueLater(
        [this, keep = shared_from_this(), foreground, background, tag = std::move(tag)] {
            LgTTYLoggerColorProfile profile(foreground, background, 0, 0, use256Colors_);
            for (auto& rule : rules_) {
                if (rule.tag == tag) {
                    rule.profile = profile;
                    return;
                }
            }
            rules_.push_back({tag, profile});
        });
}

void LgTTYLogger::clearColorsForFlag(std::uint64_t mask, std::int64_t context) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), mask, context] {
        std::erase_if(rules_, [&](const Rule& rule) {
            return !rule.tag && rule.profile.mask() == mask && rule.profile.context() == context;
        });
    });
}

void LgTTYLogger::clearColorsForTag(const std::string& tag) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), tag] {
        std::erase_if(rules_, [&](const Rule& rule) { return rule.tag == tag; });
    });
}

void LgTTYLogger::clearAllColors() {
    runOnLoggerQueueLater([this, keep = shared_from_this()] { rules_.clear(); });
}
