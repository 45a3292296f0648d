#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Finds the application's crash reports and hang reports, optionally only those changed
// since a given moment, and returns their full paths. Class-level only; keeps no state.
class TCrashLogFinder {
public:
    using Clock = std::chrono::system_clock;

    // Where one place keeps its reports. An empty path is not looked at.
    struct ReportFolders {
        std::string crashFolder;
        // Looked at only when `crashFolder` does not exist (an older layout).
        std::string olderCrashFolder;
        std::string hangFolder;
    };

    // The system's crash folder (/var/crash) first, then the user's own:
    // <state folder>/Orvandel/DiagnosticReports (else .../CrashReporter) and
    // <state folder>/Orvandel/HangReporter/<application name>.
    static std::vector<ReportFolders> defaultReportFolders();
    // The user's own crash folder, where the application records its own reports.
    static std::string ownCrashFolder();

    // Per place in order: its crash reports, then its hang reports, each in walking order.
    // A crash report is a "*.crash" file whose path below the folder begins with the
    // application name and "_"; a hang report any "*.hang" file below the hang folder.
    static std::vector<std::string> crashLogsSince(std::optional<Clock::time_point> since);
    static std::vector<std::string> crashLogsSince(std::optional<Clock::time_point> since,
                                                   const std::vector<ReportFolders>& places);

    // The executable's name as the bundle gives it ("CFBundleExecutable"); the process's
    // name when there is no bundle.
    static std::string applicationName();
    // No file: false. No moment: true. Otherwise whether the file changed at or after it.
    static bool fileIsNewerThan(const std::string& path, std::optional<Clock::time_point> since);
};
