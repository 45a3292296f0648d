#pragma once

#include <unistd.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "foundation/OneShotTimer.h"
#include "logging/LgAbstractLogger.h"
#include "logging/LgBackgroundFileSync.h"
#include "logging/LgFileWatcher.h"
#include "logging/LgLogFileFormatterDefault.h"
#include "logging/LgLogFileInfo.h"
#include "logging/LgLogFileManager.h"

// Writes each record as one UTF-8 line to the current log file, and starts a new file
// when the current one reaches `maximumFileSize`, is `rollingFrequency` old, or is
// deleted, renamed or revoked from outside. A line is never split: the one that crosses
// the size limit stays whole in the old file.
//
// Lines are gathered in memory while more records wait on the logging queue and written
// together once that queue has caught up (at the latest every 64 KiB); errors, flush and
// rolling write at once. Make loggers with create(): they must be owned by a shared_ptr.
class LgFileLogger : public LgAbstractLogger {
public:
    // Where manager notices and roll-completion blocks run.
    using CompletionQueue = std::function<void(std::function<void()>)>;

    static constexpr std::uint64_t kDefaultMaximumFileSize = 1024 * 1024;
    static constexpr double kDefaultRollingFrequency = 60 * 60 * 24;

    // A default manager; completion jobs on a shared background pool.
    static std::shared_ptr<LgFileLogger> create();
    static std::shared_ptr<LgFileLogger> create(std::shared_ptr<LgLogFileManager> manager,
                                                CompletionQueue completionQueue = {});

    LgFileLogger(std::shared_ptr<LgLogFileManager> manager, CompletionQueue completionQueue);
    ~LgFileLogger() override;

    const std::shared_ptr<LgLogFileManager>& logFileManager() const { return logFileManager_; }

    // The hub calls these on the logger's queue.
    void logMessage(const LgLogMessage& message) override;
    // Writes what is gathered and synchronises the file to disk, and waits for files rolled
    // before to be on disk too. From any thread.
    void flush() override;
    // The hub's everyday flush: writes what is gathered and leaves the disk to the
    // kernel. Durability is asked for through flush() (LgLog::flushLogToDisk at the end).
    void flushBuffered() override;
    void didCatchUp() override;
    void willRemoveLogger() override;

    // Hooks for subclasses, on the logger's queue.
    virtual void willLogMessage(LgLogFileInfo& /*current*/) {}
    virtual void didLogMessage(LgLogFileInfo& current);
    virtual bool shouldArchiveRecentLogFileInfo(LgLogFileInfo& /*recent*/) { return false; }

    // The file being written, found or made now; nullptr when none can be made.
    std::shared_ptr<LgLogFileInfo> currentLogFileInfo();
    void rollLogFile() { rollLogFileWithCompletionBlock({}); }
    void rollLogFileWithCompletionBlock(std::function<void()> completion);
    // Raw bytes, written at once.
    void logData(std::span<const char> bytes);

    // Reading waits for the logger's queue; setting returns at once and takes effect after
    // every record queued before.
    std::uint64_t maximumFileSize();  // 0: no rolling by size
    void setMaximumFileSize(std::uint64_t bytes);
    double rollingFrequency();  // seconds; 0 or less: no rolling by age
    void setRollingFrequency(double seconds);
    bool doNotReuseLogFiles();
    void setDoNotReuseLogFiles(bool value);
    bool automaticallyAppendNewlineForCustomFormatters();
    void setAutomaticallyAppendNewlineForCustomFormatters(bool value);

    // How a file reaches the disk (fsync unless replaced); set before the first record.
    using FileSync = std::function<int(int fd)>;
    void setFileSync(FileSync sync) { syncFile_ = std::move(sync); }

private:
    std::shared_ptr<LgFileLogger> self();
    std::weak_ptr<LgFileLogger> weakSelf();

    // Everything below runs on the logger's queue.
    void logMessageOnQueue(const LgLogMessage& message);
    void queueDrain(bool deferred = false);
    void finishRecord(const LgLogMessage& message);
    std::shared_ptr<LgLogFileInfo> findCurrentLogFileInfo();
    bool openCurrentFile();
    void append(std::string_view bytes, bool writeNow);
    void writePending();
    void cutBackToWholeLine(std::size_t written);
    bool handleWatchEvents();
    // How a closed file reaches the disk: left to the kernel, waited for here, or waited for
    // in the background (for rolls that come in the middle of a burst of records).
    enum class DiskSync { Kernel, Now, Background };
    void rollNow(bool keepPendingForNextFile, DiskSync sync = DiskSync::Now);
    void closeCurrentFile(bool writePendingFirst, DiskSync sync);
    void rollByAgeOrArmTimer();
    void armAgeTimer(bool keepEarlier);
    void rollBySizeIfDue();
    void archive(LgLogFileInfo& info, bool wasRolled);

    const std::shared_ptr<LgLogFileManager> logFileManager_;
    const CompletionQueue completionQueue_;

    // The formatter last looked at, and the same when it is the default one.
    std::shared_ptr<LgLogFormatter> checkedFormatter_;
    LgLogFileFormatterDefault* defaultFormatter_ = nullptr;

    std::shared_ptr<LgLogFileInfo> currentLogFileInfo_;
    int fd_ = -1;
    std::uint64_t writtenEnd_ = 0;  // file size after our last write
    std::string pending_;           // gathered lines not yet written
    bool drainQueued_ = false;
    std::unique_ptr<LgFileWatcher> watcher_;
    int watch_ = -1;
    std::optional<foundation::OneShotTimer> rollingTimer_;
    std::chrono::steady_clock::time_point rollingTimerDeadline_;

    double rollingFrequency_ = kDefaultRollingFrequency;
    std::uint64_t maximumFileSize_ = kDefaultMaximumFileSize;
    bool doNotReuseLogFiles_ = false;
    bool automaticallyAppendNewlineForCustomFormatters_ = true;
    FileSync syncFile_ = [](int fd) { return ::fsync(fd); };
    LgBackgroundFileSync rolledFiles_;  // files rolled by size, on their way to the disk
};
