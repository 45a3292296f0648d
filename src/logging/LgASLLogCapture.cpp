#include "logging/LgASLLogCapture.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <fmt/format.h>

#include "foundation/ConsolePrint.h"
#include "logging/LgASLLogger.h"
#include "logging/LgLog.h"
#include "logging/LgOSLogger.h"
#include "logging/LogLevel.h"

#ifdef ORVANDEL_HAVE_SYSTEMD
#include <systemd/sd-journal.h>
#endif

namespace {

std::atomic<std::uint64_t> captureLevelValue{31};

// The one capture of the process.
struct Capture {
    std::mutex mutex;
    std::thread thread;
    int stopFd = -1;
};

Capture& capture() {
    static auto* const shared = new Capture();
    return *shared;
}

#ifdef ORVANDEL_HAVE_SYSTEMD

std::optional<std::string> field(sd_journal* journal, const char* name) {
    const void* data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(journal, name, &data, &length) < 0) return std::nullopt;
    std::string_view text(static_cast<const char*>(data), length);
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return std::string(text.substr(equals + 1));
}

void deliver(sd_journal* journal) {
    std::optional<LgLogMessage::Clock::time_point> when;
    std::uint64_t microseconds = 0;
    if (sd_journal_get_realtime_usec(journal, &microseconds) >= 0) {
        when = LgLogMessage::Clock::time_point(std::chrono::microseconds(microseconds));
    }
    auto record = LgASLLogCapture::recordForEntry(
        [journal](const char* name) { return field(journal, name); }, when);
    if (!record) return;
    const bool asynchronous = record->flag() != LgLogFlagError;
    LgLog::sharedInstance().log(asynchronous, std::move(*record));
}

void run(sd_journal* journal, int stopFd) {
    for (;;) {
        int next;
        while ((next = sd_journal_next(journal)) > 0) deliver(journal);
        pollfd fds[2] = {
            {sd_journal_get_fd(journal), static_cast<short>(sd_journal_get_events(journal)), 0},
            {stopFd, POLLIN, 0}};
        std::uint64_t timeout = 0;
        int wait = -1;
        if (sd_journal_get_timeout(journal, &timeout) > 0 && timeout != UINT64_MAX) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const std::uint64_t nowUs = std::uint64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
            wait = timeout > nowUs ? static_cast<int>((timeout - nowUs + 999) / 1000) : 0;
        }
        if (::poll(fds, 2, wait) < 0 && errno != EINTR) break;
        if (fds[1].revents != 0) break;
        sd_journal_process(journal);
    }
    sd_journal_close(journal);
}

#endif

}  // namespace

std::uint64_t LgASLLogCapture::flagForPriority(std::optional<int> priority) {
    if (!priority || *priority <= 2) return LgLogFlagError;
    switch (*priority) {
        case 3:
            return LgLogFlagWarning;
        case 4:
            return LgLogFlagInfo;
        case 5:
            return LgLogFlagDebug;
        default:
            return LgLogFlagVerbose;
    }
}

namespace {

// Whether the entry carries the mark `field` ("NAME=value") that one of our loggers sets.
bool carriesMark(const LgASLLogCapture::FieldReader& read, std::string_view mark) {
    const auto equals = mark.find('=');
    return read(std::string(mark.substr(0, equals)).c_str()) == mark.substr(equals + 1);
}

}  // namespace

std::optional<LgLogMessage> LgASLLogCapture::recordForEntry(
    const FieldReader& field, std::optional<LgLogMessage::Clock::time_point> when) {
    if (carriesMark(field, LgASLLogger::kSentByUsField) ||
        carriesMark(field, LgOSLogger::kSentByUsField)) {
        return std::nullopt;
    }
    std::optional<int> priority;
    if (const auto text = field("PRIORITY")) {
        try {
            priority = std::stoi(*text);
        } catch (const std::exception&) {
        }
    }
    if (priority && *priority > 7) return std::nullopt;
    const std::uint64_t flag = flagForPriority(priority);
    const std::uint64_t level = captureLevelValue.load();
    if ((level & flag) == 0) return std::nullopt;
    return LgLogMessage(field("MESSAGE").value_or(""), level, flag, 0, "LgASLLogCapture", "", 0,
                        {}, 0, when);
}

std::uint64_t LgASLLogCapture::captureLevel() {
    return captureLevelValue.load();
}

void LgASLLogCapture::setCaptureLevel(std::uint64_t level) {
    captureLevelValue.store(level);
}

bool LgASLLogCapture::start() {
    auto& shared = capture();
    std::lock_guard lock(shared.mutex);
    if (shared.thread.joinable()) return true;  // already running
#ifdef ORVANDEL_HAVE_SYSTEMD
    sd_journal* journal = nullptr;
    int result = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY);
    if (result >= 0) {
        result = sd_journal_add_match(journal, fmt::format("_PID={}", ::getpid()).c_str(), 0);
    }
    // Only what arrives from now on.
    if (result >= 0) result = sd_journal_seek_tail(journal);
    if (result >= 0) result = sd_journal_previous(journal);
    if (result < 0 || sd_journal_get_fd(journal) < 0) {
        foundation::printToConsole("LgASLLogCapture: cannot read the system journal: {}\n",
                   std::strerror(result < 0 ? -result : EBADF));
        if (journal) sd_journal_close(journal);
        return false;
    }
    shared.stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (shared.stopFd < 0) {
        sd_journal_close(journal);
        return false;
    }
    shared.thread = std::thread(run, journal, shared.stopFd);
    return true;
#else
    foundation::printToConsole("LgASLLogCapture: this build cannot read the system journal\n");
    return false;
#endif
}

void LgASLLogCapture::stop() {
    auto& shared = capture();
    std::lock_guard lock(shared.mutex);
    if (!shared.thread.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(shared.stopFd, &one, sizeof one);
    shared.thread.join();
    ::close(shared.stopFd);
    shared.stopFd = -1;
}
