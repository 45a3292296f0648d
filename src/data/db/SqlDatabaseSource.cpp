#include "data/db/SqlDatabaseSource.h"

#include <fmt/format.h>

#include <atomic>

#include "data/db/SqlDatabase.h"

SqlDatabaseSource::SqlDatabaseSource(std::optional<std::string> path, int flags,
                                     std::optional<std::string> vfsName)
    : openFlags_(flags), path_(std::move(path)), vfsName_(std::move(vfsName)) {}

SqlDatabaseSource::Connection (*SqlDatabaseSource::databaseClass())(std::optional<std::string>) {
    return &SqlDatabase::databaseWithPath;
}

SqlDatabaseSource::Connection SqlDatabaseSource::newDatabase() const {
    return databaseClass()(path());
}

bool SqlDatabaseSource::openDatabase(SqlDatabase& db) const {
    return db.openWithFlags(openFlags_, vfsName());
}

void SqlDatabaseSource::runTransaction(const Connection& db, bool deferred,
                                       const TransactionBlock& block) {
    bool shouldRollback = false;
    if (deferred) {
        db->beginDeferredTransaction();
    } else {
        db->beginTransaction();
    }
    block(db, shouldRollback);
    if (shouldRollback) {
        db->rollback();
    } else {
        db->commit();
    }
}

std::string SqlDatabaseSource::nextSavePointName(std::atomic<long>& counter) {
    return fmt::format("savePoint{}", counter.fetch_add(1));
}

std::optional<std::string> SqlDatabaseSource::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

void SqlDatabaseSource::setPath(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
}

std::optional<std::string> SqlDatabaseSource::vfsName() const {
    std::lock_guard lock(mutex_);
    return vfsName_;
}

void SqlDatabaseSource::setVfsName(std::optional<std::string> name) {
    std::lock_guard lock(mutex_);
    vfsName_ = std::move(name);
}
