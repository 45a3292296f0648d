#include "data/db/SqlDatabaseQueue.h"

#include "data/db/SqlConsole.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlSavePoint.h"
#include "foundation/SerialQueue.h"

namespace {

constexpr const char* kQueueLabelPrefix = "orvandel.db.";

}  // namespace

std::shared_ptr<SqlDatabaseQueue> SqlDatabaseQueue::create(std::optional<std::string> path,
                                                           int flags,
                                                           std::optional<std::string> vfsName) {
    std::shared_ptr<SqlDatabaseQueue> queue(
        new SqlDatabaseQueue(std::move(path), flags, std::move(vfsName)));
    queue->db_ = queue->openConnection();
    if (!queue->db_) {
        sqlconsole::print("Could not create database queue for path {}",
                          sqlconsole::describe(queue->path()));
        return nullptr;
    }
    return queue;
}

std::shared_ptr<SqlDatabaseQueue> SqlDatabaseQueue::databaseQueueWithPath(
    std::optional<std::string> path, int flags) {
    return create(std::move(path), flags, std::nullopt);
}

std::shared_ptr<SqlDatabaseQueue> SqlDatabaseQueue::databaseQueueWithURL(const foundation::Url& url,
                                                                         int flags) {
    return create(url.filePath().value_or(url.path()), flags, std::nullopt);
}

SqlDatabaseQueue::SqlDatabaseQueue(std::optional<std::string> path, int flags,
                                   std::optional<std::string> vfsName)
    : SqlDatabaseSource(std::move(path), flags, std::move(vfsName)) {
    queue_ = std::make_unique<foundation::SerialQueue>(kQueueLabelPrefix + description());
}

SqlDatabaseQueue::~SqlDatabaseQueue() {
    // The queue's worker finishes what is queued before the connection goes.
    queue_.reset();
}

std::string SqlDatabaseQueue::description() const {
    return fmt::format("<SqlDatabaseQueue: {}>", static_cast<const void*>(this));
}

SqlDatabaseQueue::Connection SqlDatabaseQueue::openConnection() const {
    Connection db = newDatabase();
    if (!openDatabase(*db)) return nullptr;
    return db;
}

SqlDatabaseQueue::Connection SqlDatabaseQueue::database() {
    {
        std::lock_guard lock(mutex_);
        if (db_) return db_;
    }
    Connection db = openConnection();
    if (!db) {
        sqlconsole::print("SqlDatabaseQueue could not reopen database for path {}",
                          sqlconsole::describe(path()));
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (!db_) db_ = std::move(db);
    return db_;
}

void SqlDatabaseQueue::inDatabase(const Block& block) {
    if (queue_->isCurrent()) {
        throw foundation::NamedException(
            "NSInternalInconsistencyException",
            "inDatabase: was called reentrantly on the same queue, which would lead to a deadlock");
    }
    queue_->sync([&] {
        Connection db = database();
        block(db);
        if (db && db->hasOpenResultSets()) {
            sqlconsole::line(
                "Warning: there is at least one open result set around after performing "
                "[SqlDatabaseQueue inDatabase:]");
        }
    });
}

void SqlDatabaseQueue::beginTransactionWithBlock(bool deferred, const TransactionBlock& block) {
    queue_->sync([&] {
        Connection db = database();
        if (db) runTransaction(db, deferred, block);
    });
}

std::optional<foundation::Error> SqlDatabaseQueue::inSavePoint(const TransactionBlock& block) {
    static std::atomic<long> queueSavePoints{0};
    std::optional<foundation::Error> error;
    queue_->sync([&] {
        Connection db = database();
        if (!db) return;
        error =
            runInSavePoint(*db, nextSavePointName(queueSavePoints),
                           [&](bool& rollback) { block(db, rollback); });
    });
    return error;
}

void SqlDatabaseQueue::close() {
    queue_->sync([&] {
        // Closed under the lock that interrupt() takes, so that it never reaches a handle
        // being freed.
        std::lock_guard lock(mutex_);
        Connection db = std::move(db_);
        db_.reset();
        if (db) db->close();
    });
}

bool SqlDatabaseQueue::interrupt() {
    std::lock_guard lock(mutex_);
    return db_ && db_->interrupt();
}
