#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class SqlDatabase;

// What a pool and a queue of connections share: the database path, the open flags and the
// VFS their connections open with, how a connection is made, and the transaction around a
// block of work on one connection.
class SqlDatabaseSource {
public:
    using Connection = std::shared_ptr<SqlDatabase>;
    using Block = std::function<void(const Connection&)>;
    using TransactionBlock = std::function<void(const Connection&, bool& rollback)>;
    // Read-write, created when missing.
    static constexpr int kDefaultOpenFlags = 6;

    // How connections are made.
    static Connection (*databaseClass())(std::optional<std::string>);

    std::optional<std::string> path() const;
    void setPath(std::optional<std::string> path);
    int openFlags() const { return openFlags_; }
    std::optional<std::string> vfsName() const;
    void setVfsName(std::optional<std::string> name);

protected:
    SqlDatabaseSource(std::optional<std::string> path, int flags,
                      std::optional<std::string> vfsName);
    ~SqlDatabaseSource() = default;
    SqlDatabaseSource(const SqlDatabaseSource&) = delete;
    SqlDatabaseSource& operator=(const SqlDatabaseSource&) = delete;

    // A new connection to the path, not yet open.
    Connection newDatabase() const;
    // Opens the connection with this source's flags and VFS.
    bool openDatabase(SqlDatabase& db) const;
    // Begins (deferred or not), runs the block, then rolls back when it set its flag and
    // commits otherwise.
    static void runTransaction(const Connection& db, bool deferred, const TransactionBlock& block);
    // The next savepoint name of a process-wide counter: the queues count theirs apart
    // from the pools.
    static std::string nextSavePointName(std::atomic<long>& counter);

    mutable std::mutex mutex_;  // guards path_, vfsName_ and what subclasses add

private:
    int openFlags_;
    std::optional<std::string> path_;
    std::optional<std::string> vfsName_;
};
