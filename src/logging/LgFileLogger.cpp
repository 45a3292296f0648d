#include "logging/LgFileLogger.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "foundation/ConsolePrint.h"
#include "foundation/OperationQueue.h"
#include "foundation/SerialQueue.h"
#include "logging/LgLog.h"
#include "logging/LgLogFileFormatterDefault.h"
#include "logging/LgLogFileManagerDefault.h"
#include "logging/LogLevel.h"

namespace {

// Gathered lines are written at the latest when this much waits.
constexpr std::size_t kWriteThreshold = 64 * 1024;
constexpr int kReportedExceptions = 10;
// The longest delay a timer is armed with.
constexpr double kLongestTimerDelay = 9223372036.0;

// Manager notices and completion blocks of loggers made without a completion queue.
void runInBackground(std::function<void()> job) {
    static auto* const pool = new foundation::OperationQueue("orvandel.logging.completion", 4);
    pool->addOperation(std::move(job));
}

void reportException(const char* what) {
    static std::atomic<int> reported{0};
    const int count = ++reported;
    if (count > kReportedExceptions) return;
    foundation::printToConsole("LgFileLogger.logMessage: {}\n", what);
    if (count == kReportedExceptions) {
        foundation::printToConsole("LgFileLogger.logMessage: Too many exceptions -- will not log any more of "
                   "them.\n");
    }
}

std::string lastError() {
    return std::strerror(errno);
}

}  // namespace

std::shared_ptr<LgFileLogger> LgFileLogger::create() {
    return create(std::make_shared<LgLogFileManagerDefault>());
}

std::shared_ptr<LgFileLogger> LgFileLogger::create(std::shared_ptr<LgLogFileManager> manager,
                                                   CompletionQueue completionQueue) {
    return std::make_shared<LgFileLogger>(std::move(manager), std::move(completionQueue));
}

LgFileLogger::LgFileLogger(std::shared_ptr<LgLogFileManager> manager,
                           CompletionQueue completionQueue)
    : LgAbstractLogger("orvandel.logging.fileLogger"),
      logFileManager_(std::move(manager)),
      completionQueue_(completionQueue ? std::move(completionQueue)
                                       : CompletionQueue(runInBackground)),
      rolledFiles_(runInBackground) {
    logFormatter_ = std::make_shared<LgLogFileFormatterDefault>();
}

LgFileLogger::~LgFileLogger() {
    // No job of ours runs now (each holds the logger while it runs): the file is finished
    // here, left unarchived so that the next start continues it.
    rollingTimer_.reset();
    writePending();  // also lines kept for a new file after the old one was removed
    closeCurrentFile(true, DiskSync::Now);
    rolledFiles_.wait();
    watcher_.reset();
}

std::shared_ptr<LgFileLogger> LgFileLogger::self() {
    return std::static_pointer_cast<LgFileLogger>(shared_from_this());
}

// Empty while the logger is being destroyed, where shared_from_this() would throw.
std::weak_ptr<LgFileLogger> LgFileLogger::weakSelf() {
    return std::static_pointer_cast<LgFileLogger>(weak_from_this().lock());
}

void LgFileLogger::logMessage(const LgLogMessage& message) {
    try {
        logMessageOnQueue(message);
    } catch (const std::exception& e) {
        reportException(e.what());
    } catch (...) {
        reportException("unknown exception");
    }
}

void LgFileLogger::logMessageOnQueue(const LgLogMessage& message) {
    if (logFormatter_ != checkedFormatter_) {
        checkedFormatter_ = logFormatter_;
        defaultFormatter_ = dynamic_cast<LgLogFileFormatterDefault*>(logFormatter_.get());
    }
    if (defaultFormatter_) {
        // The usual case, written straight into the gathered lines.
        if (message.message().empty()) return;
        if (fd_ < 0 && !openCurrentFile()) return;
        willLogMessage(*currentLogFileInfo_);
        defaultFormatter_->appendLine(message, pending_);
        if (pending_.back() != '\n' && automaticallyAppendNewlineForCustomFormatters_) {
            pending_ += '\n';
        }
        finishRecord(message);
        return;
    }

    std::optional<std::string> formatted;
    const std::string* text = &message.message();
    bool fromFormatter = false;
    if (logFormatter_) {
        formatted = logFormatter_->formatLogMessage(message);
        if (!formatted) return;
        fromFormatter = *formatted != message.message();
        text = &*formatted;
    }
    if (text->empty()) return;
    if (fd_ < 0 && !openCurrentFile()) return;  // the record is lost; the next one tries again

    willLogMessage(*currentLogFileInfo_);
    const bool addNewline =
        text->back() != '\n' && (!fromFormatter || automaticallyAppendNewlineForCustomFormatters_);
    pending_ += *text;
    if (addNewline) pending_ += '\n';
    finishRecord(message);
}

void LgFileLogger::finishRecord(const LgLogMessage& message) {
    // An error may be the last thing the process says: it goes out at once.
    append({}, (message.flag() & LgLogFlagError) != 0);
    if (currentLogFileInfo_) didLogMessage(*currentLogFileInfo_);
}

void LgFileLogger::didLogMessage(LgLogFileInfo&) {
    rollBySizeIfDue();
}

void LgFileLogger::append(std::string_view bytes, bool writeNow) {
    pending_ += bytes;
    if (writeNow || pending_.size() >= kWriteThreshold) {
        writePending();
        return;
    }
    // Records a hub hands over are written when it has caught up (didCatchUp).
    if (!drainQueued_ && !LgLog::isDeliveringRecords()) {
        drainQueued_ = true;
        queueDrain();
    }
}

void LgFileLogger::didCatchUp() {
    writePending();
}

// Records given to us other than by a hub: the gathered lines are written behind the work
// waiting on the logging queue, so that a burst costs one write rather than one per line.
void LgFileLogger::queueDrain(bool deferred) {
    LgLog::loggingQueue().async([weak = weakSelf(), deferred] {
        auto logger = weak.lock();
        if (!logger) return;
        // Once more behind those that came meanwhile; only once, as other loggers' drains
        // would otherwise keep deferring each other.
        if (!deferred && LgLog::loggingQueue().hasQueuedJobs()) {
            logger->queueDrain(true);
            return;
        }
        logger->loggerQueue()->sync([&] {
            logger->drainQueued_ = false;
            logger->writePending();
        });
    });
}

void LgFileLogger::writePending() {
    if (pending_.empty()) return;
    // A file removed from outside since the last write must not get these lines.
    if (fd_ >= 0) handleWatchEvents();
    if (fd_ < 0 && !openCurrentFile()) {
        pending_.clear();
        return;
    }
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            foundation::printToConsole("LgFileLogger: Failed to write data: {}\n",
                       n < 0 ? lastError() : "nothing written");
            cutBackToWholeLine(done);
            pending_.clear();
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    writtenEnd_ += done;
    pending_.clear();
}

// A write cut short (a full disk, a file-size limit) leaves part of a line at the end of
// the file, which the next line would be glued to: it goes, so that each line is whole or
// absent. The lines after it are lost.
void LgFileLogger::cutBackToWholeLine(std::size_t written) {
    const std::size_t lineEnd = std::string_view(pending_.data(), written).rfind('\n');
    const std::size_t whole = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        foundation::printToConsole("LgFileLogger: Failed to read file size: {}\n", lastError());
        writtenEnd_ += written;
        return;
    }
    // Appending puts our bytes at the end, whatever else wrote to the file before.
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t torn = written - whole;
    const std::uint64_t end = size >= torn ? size - torn : 0;
    if (torn > 0 && ::ftruncate(fd_, static_cast<off_t>(end)) != 0) {
        foundation::printToConsole("LgFileLogger: Failed to remove a partly written line: {}\n",
                   lastError());
        writtenEnd_ = size;
        return;
    }
    writtenEnd_ = end;
}

std::shared_ptr<LgLogFileInfo> LgFileLogger::findCurrentLogFileInfo() {
    if (currentLogFileInfo_) {
        if (!currentLogFileInfo_->isArchived()) return currentLogFileInfo_;
        // Archived by someone else: its lines so far stay there, the next go to a new file.
        closeCurrentFile(true, DiskSync::Kernel);
        currentLogFileInfo_.reset();
    } else {
        const auto sorted = logFileManager_->sortedLogFileInfos();
        if (!sorted.empty() && !sorted.front()->isArchived()) {
            auto& recent = *sorted.front();
            const bool mustArchive =
                shouldArchiveRecentLogFileInfo(recent) ||
                (maximumFileSize_ > 0 && recent.fileSize() >= maximumFileSize_) ||
                (rollingFrequency_ > 0 && recent.age() >= rollingFrequency_);
            if (!doNotReuseLogFiles_ && !mustArchive) {
                currentLogFileInfo_ = sorted.front();
                return currentLogFileInfo_;
            }
            archive(recent, false);
        }
    }
    foundation::Error error;
    const auto path = logFileManager_->createNewLogFileWithError(&error);
    if (!path) {
        foundation::printToConsole("LgFileLogger: Failed to create new log file: {}\n",
                   error.description());
        return nullptr;
    }
    currentLogFileInfo_ = LgLogFileInfo::logFileWithPath(*path);
    return currentLogFileInfo_;
}

bool LgFileLogger::openCurrentFile() {
    // A second try covers a file that vanished between being found and being opened.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const auto info = findCurrentLogFileInfo();
        if (!info) return false;
        fd_ = ::open(info->filePath().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd_ < 0) {
            foundation::printToConsole("LgFileLogger: Failed to open file: {}: {}\n", info->filePath(),
                       lastError());
            currentLogFileInfo_.reset();
            continue;
        }
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0)
            foundation::printToConsole("LgFileLogger: Failed to seek to end of file: {}\n", lastError());
        writtenEnd_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
        armAgeTimer(true);
        if (!watcher_) {
            watcher_ = std::make_unique<LgFileWatcher>(loggerQueue(), [weak = weakSelf()] {
                if (auto logger = weak.lock()) logger->handleWatchEvents();
            });
        }
        watch_ = watcher_->watch(info->filePath());
        return true;
    }
    return false;
}

bool LgFileLogger::handleWatchEvents() {
    if (!watcher_) return false;
    bool removed = false;
    for (const auto& event : watcher_->takeEvents()) {
        if (event.watch != watch_ || fd_ < 0) continue;
        if (event.mask & (IN_MOVE_SELF | IN_DELETE_SELF | IN_UNMOUNT)) removed = true;
        if (event.mask & IN_ATTRIB) {
            // Unlinking an open file shows as an attribute change: its last link is gone.
            struct stat status {};
            if (::fstat(fd_, &status) == 0 && status.st_nlink == 0) removed = true;
        }
    }
    // What is still gathered goes to the next file, where it can be read.
    if (removed) rollNow(true);
    return removed;
}

void LgFileLogger::closeCurrentFile(bool writePendingFirst, DiskSync sync) {
    if (fd_ < 0) return;
    if (writePendingFirst) writePending();
    if (sync == DiskSync::Background) {
        rolledFiles_.syncAndClose(fd_, syncFile_);
    } else {
        if (sync == DiskSync::Now && syncFile_(fd_) != 0) {
            foundation::printToConsole("LgFileLogger: Failed to synchronize file: {}\n", lastError());
        }
        if (::close(fd_) != 0)
            foundation::printToConsole("LgFileLogger: Failed to close file: {}\n", lastError());
    }
    fd_ = -1;
    if (watcher_) watcher_->unwatch(watch_);
    watch_ = -1;
}

void LgFileLogger::rollNow(bool keepPendingForNextFile, DiskSync sync) {
    if (fd_ < 0) return;
    // A rolled file is done with: it reaches the disk, then it is closed; it is archived at
    // once, so that the next record starts a new file.
    closeCurrentFile(!keepPendingForNextFile, sync);
    auto rolled = std::move(currentLogFileInfo_);
    currentLogFileInfo_.reset();
    if (rolled) archive(*rolled, true);
}

void LgFileLogger::archive(LgLogFileInfo& info, bool wasRolled) {
    info.setIsArchived(true);
    completionQueue_([manager = logFileManager_, path = info.filePath(), wasRolled] {
        manager->didArchiveLogFile(path, wasRolled);
    });
}

void LgFileLogger::rollBySizeIfDue() {
    if (fd_ >= 0 && maximumFileSize_ > 0 && writtenEnd_ + pending_.size() >= maximumFileSize_) {
        rollNow(false, DiskSync::Background);
    }
}

void LgFileLogger::rollByAgeOrArmTimer() {
    if (rollingFrequency_ > 0 && currentLogFileInfo_ &&
        currentLogFileInfo_->age() + 1.0 >= rollingFrequency_) {
        // A timer that has fired is spent: the next file arms a new one.
        rollingTimer_.reset();
        rollNow(false);
    } else {
        armAgeTimer(false);
    }
}

// A timer armed for an earlier moment may stay (keepEarlier): it finds the current file
// not yet due when it fires and arms itself anew then. A new file after a roll by size thus
// costs no re-arming, which would wake the queue's thread in the middle of the records.
void LgFileLogger::armAgeTimer(bool keepEarlier) {
    if (!currentLogFileInfo_ || rollingFrequency_ <= 0) {
        rollingTimer_.reset();
        return;
    }
    const auto now = LgLogFileInfo::Clock::now();
    const auto created = currentLogFileInfo_->creationDate().value_or(now);
    const double left = std::chrono::duration<double>(created - now).count() + rollingFrequency_;
    const auto delay = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::clamp(left, 0.0, kLongestTimerDelay)));
    const auto deadline = std::chrono::steady_clock::now() + delay;
    if (keepEarlier && rollingTimer_ && rollingTimerDeadline_ <= deadline) return;
    rollingTimer_.reset();
    rollingTimerDeadline_ = deadline;
    rollingTimer_.emplace(*loggerQueue(), delay, [weak = weakSelf()] {
        if (auto logger = weak.lock()) logger->rollByAgeOrArmTimer();
    });
}

void LgFileLogger::flush() {
    runOnLoggerQueue([this] {
        writePending();
        if (fd_ >= 0 && syncFile_(fd_) != 0) {
            foundation::printToConsole("LgFileLogger: Failed to synchronize file: {}\n", lastError());
        }
        rolledFiles_.wait();
    });
}

void LgFileLogger::flushBuffered() {
    runOnLoggerQueue([this] { writePending(); });
}

void LgFileLogger::willRemoveLogger() {
    rollNow(false);
}

std::shared_ptr<LgLogFileInfo> LgFileLogger::currentLogFileInfo() {
    std::shared_ptr<LgLogFileInfo> result;
    runOnLoggerQueue([&] { result = findCurrentLogFileInfo(); });
    return result;
}

void LgFileLogger::rollLogFileWithCompletionBlock(std::function<void()> completion) {
    runOnLoggerQueueLater([self = self(), completion = std::move(completion)]() mutable {
        self->rollNow(false);
        if (completion) self->completionQueue_(std::move(completion));
    });
}

void LgFileLogger::logData(std::span<const char> bytes) {
    runOnLoggerQueue([&] {
        if (bytes.empty() || (fd_ < 0 && !openCurrentFile())) return;
        append(std::string_view(bytes.data(), bytes.size()), true);
        if (currentLogFileInfo_) didLogMessage(*currentLogFileInfo_);
    });
}

std::uint64_t LgFileLogger::maximumFileSize() {
    std::uint64_t result = 0;
    runOnLoggerQueue([&] { result = maximumFileSize_; });
    return result;
}

void LgFileLogger::setMaximumFileSize(std::uint64_t bytes) {
    runOnLoggerQueueLater([self = self(), bytes] {
        self->maximumFileSize_ = bytes;
        self->rollBySizeIfDue();
    });
}

double LgFileLogger::rollingFrequency() {
    double result = 0;
    runOnLoggerQueue([&] { result = rollingFrequency_; });
    return result;
}

void LgFileLogger::setRollingFrequency(double seconds) {
    runOnLoggerQueueLater([self = self(), seconds] {
        self->rollingFrequency_ = seconds;
        self->rollByAgeOrArmTimer();
    });
}

bool LgFileLogger::doNotReuseLogFiles() {
    bool result = false;
    runOnLoggerQueue([&] { result = doNotReuseLogFiles_; });
    return result;
}

void LgFileLogger::setDoNotReuseLogFiles(bool value) {
    runOnLoggerQueueLater([self = self(), value] { self->doNotReuseLogFiles_ = value; });
}

bool LgFileLogger::automaticallyAppendNewlineForCustomFormatters() {
    bool result = false;
    runOnLoggerQueue([&] { result = automaticallyAppendNewlineForCustomFormatters_; });
    return result;
}

void LgFileLogger::setAutomaticallyAppendNewlineForCustomFormatters(bool value) {
    runOnLoggerQueueLater(
        [self = self(), value] { self->automaticallyAppendNewlineForCustomFormatters_ = value; });
}
