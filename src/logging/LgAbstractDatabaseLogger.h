#pragma once

#include <cstdint>
#include <optional>

#include "foundation/OneShotTimer.h"
#include "logging/LgAbstractLogger.h"

// The base of loggers that keep records in a database and save them in batches:
// subclasses store one record in db_log and write the batch in db_save. A batch is saved
// when it reaches `saveThreshold` records, `saveInterval` seconds after its first record,
// on flush and on removal; records older than `maxAge` are deleted every `deleteInterval`.
// Make these with std::make_shared: the timers hold the logger weakly.
class LgAbstractDatabaseLogger : public LgAbstractLogger {
public:
    explicit LgAbstractDatabaseLogger(std::string loggerName);
    ~LgAbstractDatabaseLogger() override;

    void logMessage(const LgLogMessage& message) override;
    void flush() override;
    void didAddLogger() override;
    void willRemoveLogger() override;

    // Reading waits for the logger's queue; changes take effect after earlier records.
    std::uint64_t saveThreshold();
    void setSaveThreshold(std::uint64_t records);  // 0: no saving by count
    double saveInterval();
    void setSaveInterval(double seconds);  // 0 or less: no saving by time
    double maxAge();
    void setMaxAge(double seconds);  // 0 or less: nothing is deleted
    double deleteInterval();
    void setDeleteInterval(double seconds);  // 0 or less: no deleting by time
    bool deleteOnEverySave();
    void setDeleteOnEverySave(bool value);

    // The same work as the timers', now.
    void savePendingLogEntries();
    void deleteOldLogEntries();

protected:
    // Stores one record; true when it was stored (and so waits to be saved).
    virtual bool db_log(const LgLogMessage& /*message*/) { return false; }
    virtual void db_save() {}
    virtual void db_delete() {}
    virtual void db_saveAndDelete() {}

private:
    std::weak_ptr<LgAbstractDatabaseLogger> weakSelf();
    void performSave();
    void performDelete();
    void armSaveTimer();
    void updateDeleteTimer();

    // Only on the logger's queue.
    std::uint64_t saveThreshold_ = 500;
    double saveInterval_ = 60.0;
    double maxAge_ = 604800.0;
    double deleteInterval_ = 300.0;
    bool deleteOnEverySave_ = false;
    std::uint64_t unsavedCount_ = 0;
    bool installed_ = false;
    std::optional<foundation::OneShotTimer> saveTimer_;
    std::optional<foundation::OneShotTimer> deleteTimer_;
};
