#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "DbFixtures.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlDatabasePool.h"
#include "data/db/SqlDatabaseQueue.h"
#include "support/Latch.h"

using dbtest::ConsoleCapture;

namespace {

using Connection = std::shared_ptr<SqlDatabase>;

class SqlDatabaseQueueTest : public testing::Test {
protected:
    void SetUp() override {
        queue = SqlDatabaseQueue::databaseQueueWithPath(folder / "queue.db");
        ASSERT_TRUE(queue);
        queue->inDatabase([](const Connection& db) { db->executeUpdate("CREATE TABLE t(a)"); });
    }
    int rows() {
        int count = -1;
        queue->inDatabase(
            [&](const Connection& db) { count = db->intForQuery("SELECT count(*) FROM t"); });
        return count;
    }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<SqlDatabaseQueue> queue;
};

TEST_F(SqlDatabaseQueueTest, BlocksFromManyThreadsRunOneAtATime) {
    std::atomic<int> active{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                queue->inDatabase([&](const Connection& db) {
                    if (active.fetch_add(1) != 0) ++overlaps;
                    db->executeUpdate("INSERT INTO t VALUES (?)", i);
                    active.fetch_sub(1);
                });
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(rows(), 200);
}

TEST_F(SqlDatabaseQueueTest, ReentrantUseThrowsInsteadOfDeadlocking) {
    std::string reason;
    queue->inDatabase([&](const Connection&) {
        try {
            queue->inDatabase([](const Connection&) {});
        } catch (const foundation::NamedException& e) {
            reason = e.reason();
        }
    });
    EXPECT_EQ(reason,
              "inDatabase: was called reentrantly on the same queue, which would lead to a "
              "deadlock");
}

TEST_F(SqlDatabaseQueueTest, WarnsAboutResultSetsLeftOpen) {
    std::shared_ptr<SqlResultSet> leftOpen;
    ConsoleCapture console;
    queue->inDatabase(
        [&](const Connection& db) { leftOpen = db->executeQuery("SELECT * FROM t"); });
    EXPECT_EQ(console.text(),
              "Warning: there is at least one open result set around after performing "
              "[SqlDatabaseQueue inDatabase:]\n");
    leftOpen.reset();
}

TEST_F(SqlDatabaseQueueTest, TransactionsAndSavePointsCommitOrRollBack) {
    for (bool rollback : {true, false}) {
        queue->inTransaction([&](const Connection& db, bool& shouldRollback) {
            EXPECT_TRUE(db->isInTransaction());
            db->executeUpdate("INSERT INTO t VALUES (1)");
            shouldRollback = rollback;
        });
        queue->inDeferredTransaction([&](const Connection& db, bool& shouldRollback) {
            db->executeUpdate("INSERT INTO t VALUES (2)");
            shouldRollback = rollback;
        });
        auto error = queue->inSavePoint([&](const Connection& db, bool& shouldRollback) {
            db->executeUpdate("INSERT INTO t VALUES (3)");
            shouldRollback = rollback;
        });
        EXPECT_EQ(error, std::nullopt);
    }
    EXPECT_EQ(rows(), 3);
    EXPECT_FALSE(queue->database()->isInTransaction());
}

TEST_F(SqlDatabaseQueueTest, ClosedConnectionIsOpenedAgainOrReportsWhyNot) {
    Connection first = queue->database();
    queue->close();
    EXPECT_EQ(first->sqliteHandle(), nullptr);
    EXPECT_EQ(rows(), 0) << "a new connection serves the next block";
    EXPECT_NE(queue->database(), first);

    queue->close();
    const std::string bad = folder / "missing/queue.db";
    queue->setPath(bad);
    ConsoleCapture console;
    EXPECT_EQ(queue->database(), nullptr);
    EXPECT_EQ(
        console.text(),
        "error opening!: 14\nSqlDatabaseQueue could not reopen database for path " + bad + "\n");
}

TEST_F(SqlDatabaseQueueTest, InterruptFromAnotherThreadWhileTheConnectionCloses) {
    std::atomic<bool> done{false};
    testsupport::Latch started(1);
    std::thread interrupter([&] {
        started.count_down();
        while (!done) queue->interrupt();
    });
    started.wait();
    for (int i = 0; i < 1000; ++i) {
        rows();  // the connection stays open for a query, which may be interrupted
        queue->close();
    }
    done = true;
    interrupter.join();
    EXPECT_FALSE(queue->interrupt()) << "nothing to interrupt once closed";
}

TEST(SqlDatabaseQueueCreateTest, UnopenablePathGivesNoQueue) {
    foundationtest::ScratchFolder folder;
    const std::string bad = folder / "missing/queue.db";
    ConsoleCapture console;
    EXPECT_EQ(SqlDatabaseQueue::databaseQueueWithPath(bad), nullptr);
    EXPECT_EQ(console.text(),
              "error opening!: 14\nCould not create database queue for path " + bad + "\n");
}

class CountingDelegate : public SqlDatabasePoolDelegate {
public:
    bool databasePoolShouldAddDatabaseToPool(SqlDatabasePool&, SqlDatabase&) override {
        return accept;
    }
    void databasePoolDidAddDatabase(SqlDatabasePool&, SqlDatabase&) override { ++added; }
    bool accept = true;
    int added = 0;
};

class SqlDatabasePoolTest : public testing::Test {
protected:
    void SetUp() override {
        pool = SqlDatabasePool::databasePoolWithPath(folder / "pool.db");
        pool->setDelegate(delegate);
    }
    std::vector<std::size_t> counts() {
        return {pool->countOfCheckedInDatabases(), pool->countOfCheckedOutDatabases(),
                pool->countOfOpenDatabases()};
    }

    foundationtest::ScratchFolder folder;
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
    std::shared_ptr<SqlDatabasePool> pool;
};

TEST_F(SqlDatabasePoolTest, HandsOutIdleConnectionsBeforeMakingNewOnes) {
    EXPECT_EQ(counts(), (std::vector<std::size_t>{0, 0, 0})) << "creation opens nothing";
    Connection a = pool->db();
    Connection b = pool->db();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(counts(), (std::vector<std::size_t>{0, 2, 2}));
    pool->pushDatabaseBackInPool(a);
    EXPECT_EQ(counts(), (std::vector<std::size_t>{1, 1, 2}));
    EXPECT_EQ(pool->db(), a) << "the idle connection is reused";
    EXPECT_EQ(delegate->added, 2);
    pool->releaseAllDatabases();
    EXPECT_EQ(counts(), (std::vector<std::size_t>{0, 0, 0}));
}

TEST_F(SqlDatabasePoolTest, RefusesBeyondTheLimitAndWhenTheDelegateSaysNo) {
    pool->setMaximumNumberOfDatabasesToCreate(1);
    Connection a = pool->db();
    ASSERT_TRUE(a);
    {
        ConsoleCapture console;
        EXPECT_EQ(pool->db(), nullptr);
        EXPECT_EQ(console.text(), "Maximum number of databases (1) has already been reached!\n");
    }
    pool->pushDatabaseBackInPool(a);
    try {
        pool->pushDatabaseBackInPool(a);
        ADD_FAILURE() << "a connection given back twice";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "Database already in pool");
    }

    pool->releaseAllDatabases();
    delegate->accept = false;
    Connection refused = pool->db();
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(counts(), (std::vector<std::size_t>{0, 0, 0}));
}

TEST_F(SqlDatabasePoolTest, BlocksGiveTheirConnectionBack) {
    pool->inDatabase([](const Connection& db) { db->executeUpdate("CREATE TABLE t(a)"); });
    pool->inTransaction([](const Connection& db, bool& rollback) {
        db->executeUpdate("INSERT INTO t VALUES (1)");
        rollback = true;
    });
    EXPECT_EQ(pool->inSavePoint([](const Connection& db, bool&) {
        db->executeUpdate("INSERT INTO t VALUES (2)");
    }),
              std::nullopt);
    EXPECT_THROW(pool->inDatabase([](const Connection&) { throw std::runtime_error("boom"); }),
                 std::runtime_error);
    EXPECT_EQ(counts(), (std::vector<std::size_t>{1, 0, 1}));
    int total = 0;
    pool->inDatabase(
        [&](const Connection& db) { total = db->intForQuery("SELECT sum(a) FROM t"); });
    EXPECT_EQ(total, 2);
}

TEST_F(SqlDatabasePoolTest, UnopenablePathIsReported) {
    const std::string bad = folder / "missing/pool.db";
    pool->setPath(bad);
    ConsoleCapture console;
    EXPECT_EQ(pool->db(), nullptr);
    EXPECT_EQ(console.text(),
              "error opening!: 14\nCould not open up the database at path " + bad + "\n");
    EXPECT_EQ(counts(), (std::vector<std::size_t>{0, 0, 0}));
}

}  // namespace

namespace {

// The number of the savepoint the block runs in: the one "ROLLBACK TO" finds open.
long openSavePointNumber(const std::shared_ptr<SqlDatabase>& db) {
    db->setLogsErrors(false);
    for (long n = 0; n < 1000; ++n) {
        if (db->executeUpdate("ROLLBACK TO savePoint" + std::to_string(n))) return n;
    }
    return -1;
}

// A queue's savepoints and a pool's are numbered by counters of their own.
TEST(SqlSavePointNamesTest, QueuesAndPoolsNumberTheirSavepointsApart) {
    foundationtest::ScratchFolder folder;
    auto queue = SqlDatabaseQueue::databaseQueueWithPath(folder / "queue.db");
    auto pool = SqlDatabasePool::databasePoolWithPath(folder / "pool.db");
    ASSERT_TRUE(queue && pool);
    long numbers[4] = {-1, -1, -1, -1};
    auto inQueue = [&](long& number) {
        queue->inSavePoint([&](const std::shared_ptr<SqlDatabase>& db, bool&) {
            number = openSavePointNumber(db);
        });
    };
    auto inPool = [&](long& number) {
        pool->inSavePoint([&](const std::shared_ptr<SqlDatabase>& db, bool&) {
            number = openSavePointNumber(db);
        });
    };
    inQueue(numbers[0]);
    inPool(numbers[1]);
    inQueue(numbers[2]);
    inPool(numbers[3]);
    ASSERT_GE(numbers[0], 0);
    ASSERT_GE(numbers[1], 0);
    EXPECT_EQ(numbers[2], numbers[0] + 1);
    EXPECT_EQ(numbers[3], numbers[1] + 1);
}

}  // namespace
