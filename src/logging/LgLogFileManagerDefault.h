#pragma once

#include <mutex>

#include "logging/LgDateFormatter.h"
#include "logging/LgLogFileManager.h"

namespace foundation {
class OperationQueue;
}

// Log files in <state folder>/Orvandel/Logs/<process name>, named
// "<application name> yyyy-MM-dd--HH-mm-ss-SSS.log" after their UTC creation time (" 2",
// " 3", ... before ".log" on a clash). After each new file, in the background, files beyond
// the newest `maximumNumberOfLogFiles`, or from the first at which the running total newest
// first exceeds `logFilesDiskQuota`, are deleted; never the file being written.
class LgLogFileManagerDefault : public LgLogFileManager {
public:
    static constexpr std::uint64_t kDefaultMaximumNumberOfLogFiles = 5;
    static constexpr std::uint64_t kDefaultLogFilesDiskQuota = 20 * 1024 * 1024;

    // An empty folder means defaultLogsDirectory().
    explicit LgLogFileManagerDefault(std::string logsDirectory = {});

    // The bundle identifier, else the process's name: what log file names begin with.
    // Computed once.
    static const std::string& applicationName();
    // Returns once the pruning started so far in the background has run.
    static void waitForPruning();
    static std::string defaultLogsDirectory();

    std::optional<std::string> createNewLogFileWithError(foundation::Error* error) override;

    std::uint64_t maximumNumberOfLogFiles() const override;
    void setMaximumNumberOfLogFiles(std::uint64_t count) override;
    std::uint64_t logFilesDiskQuota() const override;
    void setLogFilesDiskQuota(std::uint64_t bytes) override;

    // Creates the folder (and its parents) when missing. Throws foundation::NamedException
    // when the manager has no folder.
    std::string logsDirectory() override;

    bool isLogFile(const std::string& fileName) const;
    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<std::shared_ptr<LgLogFileInfo>> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<std::shared_ptr<LgLogFileInfo>> sortedLogFileInfos() override;

    virtual std::string newLogFileName() const;
    // Written at the top of every new file; none by default.
    virtual std::string logFileHeader() const { return {}; }
    // The header with a line feed added when missing; empty for no header.
    std::string logFileHeaderData() const;

    // Prunes now, on the caller's thread; new files and changed limits prune in the
    // background.
    void deleteOldLogFiles();

    const LgDateFormatter& logFileDateFormatter() const { return logFileDateFormatter_; }

private:
    static foundation::OperationQueue& pruningQueue();
    void deleteOldLogFilesInBackground();
    bool createFile(const std::string& path, const std::string& header, int* error) const;

    const LgDateFormatter logFileDateFormatter_;
    const std::string logsDirectory_;

    mutable std::mutex mutex_;  // the settings and the last file made
    std::uint64_t maximumNumberOfLogFiles_ = kDefaultMaximumNumberOfLogFiles;
    std::uint64_t logFilesDiskQuota_ = kDefaultLogFilesDiskQuota;
    // The newest file this manager made: the logger is writing it, so pruning leaves it
    // alone until it is archived, even when a clock set back makes it sort as older.
    std::string lastCreatedPath_;
};
