#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/db/SqlDatabaseSource.h"
#include "foundation/Error.h"
#include "foundation/Url.h"

namespace foundation {
class SerialQueue;
}
class SqlDatabase;
class SqlDatabasePool;

// Told about the connections a pool makes.
class SqlDatabasePoolDelegate {
public:
    virtual ~SqlDatabasePoolDelegate() = default;
    // False keeps the connection out of the pool: it is closed and not handed out.
    virtual bool databasePoolShouldAddDatabaseToPool(SqlDatabasePool&, SqlDatabase&) {
        return true;
    }
    virtual void databasePoolDidAddDatabase(SqlDatabasePool&, SqlDatabase&) {}
};

// Hands out idle connections to one database and takes them back, making new ones up to
// an optional limit. Its two lists are only touched on its lock queue.
class SqlDatabasePool : public SqlDatabaseSource {
public:
    // Opens nothing yet.
    static std::shared_ptr<SqlDatabasePool> create(std::optional<std::string> path, int flags,
                                                   std::optional<std::string> vfsName);
    static std::shared_ptr<SqlDatabasePool> databasePoolWithPath(std::optional<std::string> path,
                                                                 int flags = kDefaultOpenFlags);
    static std::shared_ptr<SqlDatabasePool> databasePoolWithURL(const foundation::Url& url,
                                                                int flags = kDefaultOpenFlags);
    ~SqlDatabasePool();

    // Runs the block on the lock queue and waits for it.
    void executeLocked(const std::function<void()>& block);
    // An idle connection, or a new one; nullptr at the limit, when the open fails, or when
    // the delegate refuses it.
    Connection db();
    // Throws when the connection is already idle in this pool.
    void pushDatabaseBackInPool(const Connection& db);

    void inDatabase(const Block& block);
    void inTransaction(const TransactionBlock& block) { beginTransactionWithBlock(false, block); }
    void inDeferredTransaction(const TransactionBlock& block) {
        beginTransactionWithBlock(true, block);
    }
    void beginTransactionWithBlock(bool deferred, const TransactionBlock& block);
    std::optional<foundation::Error> inSavePoint(const TransactionBlock& block);

    std::size_t countOfCheckedInDatabases();
    std::size_t countOfCheckedOutDatabases();
    std::size_t countOfOpenDatabases();
    void releaseAllDatabases();

    std::shared_ptr<SqlDatabasePoolDelegate> delegate() const;
    void setDelegate(std::weak_ptr<SqlDatabasePoolDelegate> delegate);
    std::uint64_t maximumNumberOfDatabasesToCreate() const;
    // 0 means no limit.
    void setMaximumNumberOfDatabasesToCreate(std::uint64_t maximum);
    std::string description() const;

private:
    SqlDatabasePool(std::optional<std::string> path, int flags, std::optional<std::string> vfsName);

    std::unique_ptr<foundation::SerialQueue> lockQueue_;
    std::vector<Connection> databaseInPool_;
    std::vector<Connection> databaseOutPool_;
    // Guarded by mutex_:
    std::weak_ptr<SqlDatabasePoolDelegate> delegate_;
    std::uint64_t maximumNumberOfDatabasesToCreate_ = 0;
};
