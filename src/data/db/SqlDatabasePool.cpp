#include "data/db/SqlDatabasePool.h"

#include <algorithm>
#include <type_traits>

#include "data/db/SqlConsole.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlSavePoint.h"
#include "foundation/SerialQueue.h"

namespace {

constexpr const char* kQueueLabelPrefix = "orvandel.db.";

bool contains(const std::vector<SqlDatabasePool::Connection>& list,
              const SqlDatabasePool::Connection& db) {
    return std::find(list.begin(), list.end(), db) != list.end();
}

void remove(std::vector<SqlDatabasePool::Connection>& list, const SqlDatabasePool::Connection& db) {
    list.erase(std::remove(list.begin(), list.end(), db), list.end());
}

// Runs the work and gives the connection back to its pool however the work ends.
template <typename Work>
auto runAndGiveBack(SqlDatabasePool& pool, const SqlDatabasePool::Connection& db, Work work) {
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            pool.pushDatabaseBackInPool(db);
        } else {
            auto result = work();
            pool.pushDatabaseBackInPool(db);
            return result;
        }
    } catch (...) {
        pool.pushDatabaseBackInPool(db);
        throw;
    }
}

}  // namespace

std::shared_ptr<SqlDatabasePool> SqlDatabasePool::create(std::optional<std::string> path, int flags,
                                                         std::optional<std::string> vfsName) {
    return std::shared_ptr<SqlDatabasePool>(
        new SqlDatabasePool(std::move(path), flags, std::move(vfsName)));
}

std::shared_ptr<SqlDatabasePool> SqlDatabasePool::databasePoolWithPath(
    std::optional<std::string> path, int flags) {
    return create(std::move(path), flags, std::nullopt);
}

std::shared_ptr<SqlDatabasePool> SqlDatabasePool::databasePoolWithURL(const foundation::Url& url,
                                                                      int flags) {
    return create(url.filePath().value_or(url.path()), flags, std::nullopt);
}

SqlDatabasePool::SqlDatabasePool(std::optional<std::string> path, int flags,
                                 std::optional<std::string> vfsName)
    : SqlDatabaseSource(std::move(path), flags, std::move(vfsName)) {
    lockQueue_ = std::make_unique<foundation::SerialQueue>(kQueueLabelPrefix + description());
}

SqlDatabasePool::~SqlDatabasePool() {
    lockQueue_.reset();
}

std::string SqlDatabasePool::description() const {
    return fmt::format("<SqlDatabasePool: {}>", static_cast<const void*>(this));
}

void SqlDatabasePool::executeLocked(const std::function<void()>& block) {
    lockQueue_->sync(block);
}

SqlDatabasePool::Connection SqlDatabasePool::db() {
    Connection result;
    executeLocked([&] {
        Connection db;
        bool isNew = false;
        if (!databaseInPool_.empty()) {
            db = databaseInPool_.back();
            databaseInPool_.pop_back();
            databaseOutPool_.push_back(db);
        } else {
            const std::uint64_t limit = maximumNumberOfDatabasesToCreate();
            const std::size_t open = databaseOutPool_.size() + databaseInPool_.size();
            if (limit != 0 && open >= limit) {
                sqlconsole::print("Maximum number of databases ({}) has already been reached!",
                                  open);
                return;
            }
            db = newDatabase();
            isNew = true;
        }
        if (!openDatabase(*db)) {
            sqlconsole::print("Could not open up the database at path {}",
                              sqlconsole::describe(db->databasePath()));
            remove(databaseOutPool_, db);
            return;
        }
        const std::shared_ptr<SqlDatabasePoolDelegate> delegate = this->delegate();
        if (delegate && !delegate->databasePoolShouldAddDatabaseToPool(*this, *db)) {
            db->close();
            remove(databaseOutPool_, db);
            return;
        }
        if (!contains(databaseOutPool_, db)) databaseOutPool_.push_back(db);
        if (isNew && delegate) delegate->databasePoolDidAddDatabase(*this, *db);
        result = db;
    });
    return result;
}

void SqlDatabasePool::pushDatabaseBackInPool(const Connection& db) {
    if (!db) return;
    executeLocked([&] {
        if (contains(databaseInPool_, db)) {
            throw foundation::NamedException(
                "Database already in pool",
                "The SqlDatabase being put back into the pool is already present in the pool");
        }
        databaseInPool_.push_back(db);
        remove(databaseOutPool_, db);
    });
}

void SqlDatabasePool::inDatabase(const Block& block) {
    Connection db = this->db();
    runAndGiveBack(*this, db, [&] { block(db); });
}

void SqlDatabasePool::beginTransactionWithBlock(bool deferred, const TransactionBlock& block) {
    Connection db = this->db();
    if (!db) return;
    runAndGiveBack(*this, db, [&] { runTransaction(db, deferred, block); });
}

std::optional<foundation::Error> SqlDatabasePool::inSavePoint(const TransactionBlock& block) {
    Connection db = this->db();
    if (!db) return std::nullopt;
    static std::atomic<long> poolSavePoints{0};
    const std::string name = nextSavePointName(poolSavePoints);
    return runAndGiveBack(*this, db, [&] {
        return runInSavePoint(*db, name, [&](bool& rollback) { block(db, rollback); });
    });
}

std::size_t SqlDatabasePool::countOfCheckedInDatabases() {
    std::size_t count = 0;
    executeLocked([&] { count = databaseInPool_.size(); });
    return count;
}

std::size_t SqlDatabasePool::countOfCheckedOutDatabases() {
    std::size_t count = 0;
    executeLocked([&] { count = databaseOutPool_.size(); });
    return count;
}

std::size_t SqlDatabasePool::countOfOpenDatabases() {
    std::size_t count = 0;
    executeLocked([&] { count = databaseInPool_.size() + databaseOutPool_.size(); });
    return count;
}

void SqlDatabasePool::releaseAllDatabases() {
    executeLocked([&] {
        databaseInPool_.clear();
        databaseOutPool_.clear();
    });
}

std::shared_ptr<SqlDatabasePoolDelegate> SqlDatabasePool::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void SqlDatabasePool::setDelegate(std::weak_ptr<SqlDatabasePoolDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::uint64_t SqlDatabasePool::maximumNumberOfDatabasesToCreate() const {
    std::lock_guard lock(mutex_);
    return maximumNumberOfDatabasesToCreate_;
}

void SqlDatabasePool::setMaximumNumberOfDatabasesToCreate(std::uint64_t maximum) {
    std::lock_guard lock(mutex_);
    maximumNumberOfDatabasesToCreate_ = maximum;
}
