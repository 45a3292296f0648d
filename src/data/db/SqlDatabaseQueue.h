#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "data/db/SqlDatabaseSource.h"
#include "foundation/Error.h"
#include "foundation/Url.h"

namespace foundation {
class SerialQueue;
}
class SqlDatabase;

// Shares one connection between threads: every piece of work runs on the connection
// through one serial queue, and the caller waits for it.
class SqlDatabaseQueue : public SqlDatabaseSource {
public:
    // Opens the connection at once; nullptr (with a console line) when it cannot.
    static std::shared_ptr<SqlDatabaseQueue> create(std::optional<std::string> path, int flags,
                                                    std::optional<std::string> vfsName);
    static std::shared_ptr<SqlDatabaseQueue> databaseQueueWithPath(std::optional<std::string> path,
                                                                   int flags = kDefaultOpenFlags);
    static std::shared_ptr<SqlDatabaseQueue> databaseQueueWithURL(const foundation::Url& url,
                                                                  int flags = kDefaultOpenFlags);
    ~SqlDatabaseQueue();

    // The connection, opened again when it was closed; nullptr when that fails.
    Connection database();
    // Runs the block on the queue with the connection. Calling it from a block already on
    // this queue throws instead of deadlocking.
    void inDatabase(const Block& block);
    void inTransaction(const TransactionBlock& block) { beginTransactionWithBlock(false, block); }
    void inDeferredTransaction(const TransactionBlock& block) {
        beginTransactionWithBlock(true, block);
    }
    // Begins, runs the block, then rolls back when it set its flag and commits otherwise.
    void beginTransactionWithBlock(bool deferred, const TransactionBlock& block);
    std::optional<foundation::Error> inSavePoint(const TransactionBlock& block);
    // Closes the connection and drops it; database() opens a new one.
    void close();
    // Asks the running statement to stop; callable from any thread.
    bool interrupt();

    std::string description() const;

private:
    SqlDatabaseQueue(std::optional<std::string> path, int flags,
                     std::optional<std::string> vfsName);
    Connection openConnection() const;

    std::unique_ptr<foundation::SerialQueue> queue_;
    Connection db_;  // guarded by mutex_
};
