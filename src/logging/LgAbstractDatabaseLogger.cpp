#include "logging/LgAbstractDatabaseLogger.h"

#include <algorithm>
#include <chrono>

#include "foundation/SerialQueue.h"

namespace {

std::chrono::steady_clock::duration after(double seconds) {
    // Capped so that a huge setting cannot overflow the clock.
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(std::clamp(seconds, 0.0, 9223372036.0)));
}

}  // namespace

LgAbstractDatabaseLogger::LgAbstractDatabaseLogger(std::string loggerName)
    : LgAbstractLogger(std::move(loggerName)) {}

LgAbstractDatabaseLogger::~LgAbstractDatabaseLogger() = default;

std::weak_ptr<LgAbstractDatabaseLogger> LgAbstractDatabaseLogger::weakSelf() {
    return std::static_pointer_cast<LgAbstractDatabaseLogger>(shared_from_this());
}

void LgAbstractDatabaseLogger::logMessage(const LgLogMessage& message) {
    if (!db_log(message)) return;
    ++unsavedCount_;
    if (saveThreshold_ > 0 && unsavedCount_ >= saveThreshold_) {
        performSave();
    } else if (unsavedCount_ == 1) {
        armSaveTimer();
    }
}

void LgAbstractDatabaseLogger::flush() {
    runOnLoggerQueue([this] { performSave(); });
}

void LgAbstractDatabaseLogger::didAddLogger() {
    installed_ = true;
    if (unsavedCount_ > 0) armSaveTimer();
    updateDeleteTimer();
}

void LgAbstractDatabaseLogger::willRemoveLogger() {
    performSave();
    installed_ = false;
    saveTimer_.reset();
    deleteTimer_.reset();
}

void LgAbstractDatabaseLogger::performSave() {
    if (unsavedCount_ == 0) return;
    if (deleteOnEverySave_) {
        db_saveAndDelete();
    } else {
        db_save();
    }
    unsavedCount_ = 0;
    saveTimer_.reset();
}

void LgAbstractDatabaseLogger::performDelete() {
    if (maxAge_ > 0) db_delete();
}

void LgAbstractDatabaseLogger::armSaveTimer() {
    saveTimer_.reset();
    if (!installed_ || saveInterval_ <= 0) return;
    saveTimer_.emplace(*loggerQueue(), after(saveInterval_), [weak = weakSelf()] {
        if (auto self = weak.lock()) self->performSave();
    });
}

void LgAbstractDatabaseLogger::updateDeleteTimer() {
    deleteTimer_.reset();
    if (!installed_ || maxAge_ <= 0 || deleteInterval_ <= 0) return;
    deleteTimer_.emplace(*loggerQueue(), after(deleteInterval_), [weak = weakSelf()] {
        if (auto self = weak.lock()) {
            self->performDelete();
            self->updateDeleteTimer();  // every interval
        }
    });
}

void LgAbstractDatabaseLogger::savePendingLogEntries() {
    runOnLoggerQueue([this] { performSave(); });
}

void LgAbstractDatabaseLogger::deleteOldLogEntries() {
    runOnLoggerQueue([this] { performDelete(); });
}

std::uint64_t LgAbstractDatabaseLogger::saveThreshold() {
    std::uint64_t result = 0;
    runOnLoggerQueue([&] { result = saveThreshold_; });
    return result;
}

void LgAbstractDatabaseLogger::setSaveThreshold(std::uint64_t records) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), records] {
        saveThreshold_ = records;
        if (saveThreshold_ > 0 && unsavedCount_ >= saveThreshold_) performSave();
    });
}

double LgAbstractDatabaseLogger::saveInterval() {
    double result = 0;
    runOnLoggerQueue([&] { result = saveInterval_; });
    return result;
}

void LgAbstractDatabaseLogger::setSaveInterval(double seconds) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), seconds] {
        saveInterval_ = seconds;
        if (unsavedCount_ > 0) armSaveTimer();
    });
}

double LgAbstractDatabaseLogger::maxAge() {
    double result = 0;
    runOnLoggerQueue([&] { result = maxAge_; });
    return result;
}

void LgAbstractDatabaseLogger::setMaxAge(double seconds) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), seconds] {
        maxAge_ = seconds;
        updateDeleteTimer();
    });
}

double LgAbstractDatabaseLogger::deleteInterval() {
    double result = 0;
    runOnLoggerQueue([&] { result = deleteInterval_; });
    return result;
}

void LgAbstractDatabaseLogger::setDeleteInterval(double seconds) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), seconds] {
        deleteInterval_ = seconds;
        updateDeleteTimer();
    });
}

bool LgAbstractDatabaseLogger::deleteOnEverySave() {
    bool result = false;
    runOnLoggerQueue([&] { result = deleteOnEverySave_; });
    return result;
}

void LgAbstractDatabaseLogger::setDeleteOnEverySave(bool value) {
    runOnLoggerQueueLater([this, keep = shared_from_this(), value] { deleteOnEverySave_ = value; });
}
