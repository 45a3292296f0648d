#include "shell/windows/WebProcessReport.h"

#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "foundation/AtomicFile.h"
#include "logging/TCrashLogFinder.h"
#include "platform/webkit/SoftwarePainting.h"

namespace {

// The painting setting of the browser engine, when one is set.
std::string paintingSetting() {
    const char* value = std::getenv(webkit::SoftwarePainting::kVariable);
    return value ? fmt::format("{}={}", webkit::SoftwarePainting::kVariable, value) : "GPU (default)";
}

}  // namespace

std::string WebProcessReport::text() const {
    const auto now = std::chrono::system_clock::now();
    return fmt::format(
        "Process:    web content process of {}\n"
        "Date/Time:  {:%Y-%m-%d %H:%M:%S} +0000\n"
        "Event:      the web process {}\n"
        "Page:       {}\n"
        "WebKitGTK:  {}.{}.{}\n"
        "Painting:   {}\n",
        TCrashLogFinder::applicationName(), fmt::gmtime(std::chrono::system_clock::to_time_t(now)),
        reason, page.empty() ? "(none yet)" : page, webkit_get_major_version(),
        webkit_get_minor_version(), webkit_get_micro_version(), paintingSetting());
}

std::optional<std::string> WebProcessReport::writeInto(const std::string& folder,
                                                       std::string* error) const {
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        if (error) *error = made.message();
        return std::nullopt;
    }
    // Named as the finder knows the application's reports; ends in the same second get
    // names of their own.
    const auto now = std::chrono::system_clock::now();
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::string stem =
        fmt::format("{}/{}_{:%Y-%m-%d-%H%M%S}-{:03}_web-process", folder,
                    TCrashLogFinder::applicationName(),
                    fmt::gmtime(std::chrono::system_clock::to_time_t(now)), millis);
    std::string path = stem + ".crash";
    for (int n = 2; std::filesystem::exists(path, made); ++n) path = fmt::format("{} {}.crash", stem, n);
    const std::string contents = text();
    if (!foundation::writeFileAtomically(
            path, {reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()}, error)) {
        return std::nullopt;
    }
    return path;
}
