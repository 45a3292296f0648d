#include "logging/TCrashLogFinder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "foundation/Bundle.h"
#include "foundation/Paths.h"
#include "logging/LogCall.h"

namespace fs = std::filesystem;

namespace {

bool isFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_directory(path, error);
}

// Every regular file below `folder` whose relative path passes `wanted`, in the order the
// file system lists them. Unreadable parts are skipped.
template <typename Wanted>
void walk(const std::string& folder, Wanted wanted, std::vector<std::string>& found) {
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                        error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        const fs::path relative = it->path().lexically_relative(folder);
        if (wanted(relative)) found.push_back(it->path().string());
    }
}

}  // namespace

std::string TCrashLogFinder::applicationName() {
    std::string name = foundation::Bundle::mainBundle()
                           .objectForInfoDictionaryKey("CFBundleExecutable")
                           .stringOr();
    // Without a bundle an empty name would claim every report and the whole hang folder.
    if (name.empty() && program_invocation_short_name) name = program_invocation_short_name;
    return name;
}

std::string TCrashLogFinder::ownCrashFolder() {
    return foundation::Paths::stateHome() + "/Orvandel/DiagnosticReports";
}

std::vector<TCrashLogFinder::ReportFolders> TCrashLogFinder::defaultReportFolders() {
    const std::string own = foundation::Paths::stateHome() + "/Orvandel";
    return {
        {"/var/crash", "", ""},
        {ownCrashFolder(), own + "/CrashReporter",
         own + "/HangReporter/" + applicationName()},
    };
}

std::vector<std::string> TCrashLogFinder::crashLogsSince(std::optional<Clock::time_point> since) {
    return crashLogsSince(since, defaultReportFolders());
}

std::vector<std::string> TCrashLogFinder::crashLogsSince(std::optional<Clock::time_point> since,
                                                         const std::vector<ReportFolders>& places) {
    const std::string prefix = applicationName() + "_";
    std::vector<std::string> result;
    for (const auto& place : places) {
        const std::string& crashFolder =
            isFolder(place.crashFolder) ? place.crashFolder : place.olderCrashFolder;
        std::vector<std::string> found;
        if (isFolder(crashFolder)) {
            walk(
                crashFolder,
                [&](const fs::path& relative) {
                    if (relative.extension() != ".crash") return false;
                    const std::string stem = fs::path(relative).replace_extension().string();
                    return stem.compare(0, prefix.size(), prefix) == 0;
                },
                found);
        }
        if (isFolder(place.hangFolder)) {
            walk(
                place.hangFolder,
                [](const fs::path& relative) { return relative.extension() == ".hang"; }, found);
        }
        for (auto& path : found) {
            if (fileIsNewerThan(path, since)) result.push_back(std::move(path));
        }
    }
    return result;
}

bool TCrashLogFinder::fileIsNewerThan(const std::string& path,
                                      std::optional<Clock::time_point> since) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            LogInfo("Error while fetching file attributes: {}", std::strerror(errno));
        }
        return false;
    }
    if (!since) return true;
    const auto modified = Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(status.st_mtim.tv_sec) +
        std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
    return *since <= modified;
}
