#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "logging/LgLogFileInfo.h"

// Where log files live, how new ones are made, which files of the folder are log files,
// and which old ones go. The rolling file logger works through this interface.
class LgLogFileManager {
public:
    virtual ~LgLogFileManager() = default;

    // The full path of a new, empty log file; nullopt (and the reason in `error`) when no
    // file could be made.
    virtual std::optional<std::string> createNewLogFileWithError(foundation::Error* error) = 0;

    // 0 means no limit.
    virtual std::uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t count) = 0;
    virtual std::uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(std::uint64_t bytes) = 0;

    virtual std::string logsDirectory() = 0;

    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<std::shared_ptr<LgLogFileInfo>> unsortedLogFileInfos() = 0;
    // Newest first.
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<std::shared_ptr<LgLogFileInfo>> sortedLogFileInfos() = 0;

    // Told (on the logger's completion queue) when the logger has marked a file archived,
    // after a roll or when it found a full or old file at start-up.
    virtual void didArchiveLogFile(const std::string& /*path*/, bool /*wasRolled*/) {}
};
