#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <thread>
#include <vector>

#include "DbFixtures.h"
#include "data/db/MemImageVfs.h"
#include "data/db/SqlDatabase.h"

using dbtest::ConsoleCapture;
using dbtest::imageOf;

namespace {

const char* const kMarkerScript =
    "CREATE TABLE marker(v INTEGER, label TEXT); INSERT INTO marker VALUES (1, 'one');";

std::vector<std::string> tableNames(SqlDatabase& db) {
    std::vector<std::string> names;
    auto rs = db.executeQuery("SELECT * FROM sqlite_master WHERE type='table';");
    if (!rs) return names;
    while (rs->next()) names.push_back(rs->safeStringForColumn("tbl_name"));
    return names;
}

TEST(SqlDatabaseImageTest, ImagesOpenReadOnlyAndReadTheirTables) {
    struct Case {
        const char* name;
        foundation::Data image;
        std::vector<std::string> tables;
    };
    foundationtest::ScratchFolder folder;
    const std::string walPath = folder / "wal.db";
    dbtest::runScript(walPath, std::string("PRAGMA journal_mode=WAL;") + kMarkerScript);
    const foundation::Data wal = dbtest::readFile(walPath);
    ASSERT_GE(wal.size(), 20u);
    ASSERT_EQ(wal[18], 2) << "the fixture is in the WAL format";

    const Case cases[] = {
        {"rollback journal", imageOf(kMarkerScript), {"marker"}},
        {"write-ahead log", wal, {"marker"}},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        const foundation::Data before = c.image;
        auto db = SqlDatabase::databaseWithData(c.image);
        ASSERT_TRUE(db) << c.name;
        EXPECT_EQ(db->databasePath(), std::nullopt);
        EXPECT_TRUE(db->open()) << "an image connection is already open";
        EXPECT_EQ(tableNames(*db), c.tables) << c.name;
        EXPECT_EQ(c.image, before) << "the caller's bytes never change";
        ASSERT_NE(db->vfsPointer(), nullptr);
        const spmembuffer* copy = db->vfsPointer()->mem;
        ASSERT_EQ(copy->used, c.image.size());
        if (copy->used >= 20) {
            EXPECT_EQ(copy->data[18], 1) << "the private copy reads as rollback-journal format";
            EXPECT_EQ(copy->data[19], 1);
        }
        if (!c.tables.empty()) {
            EXPECT_EQ(db->stringForQuery("SELECT label FROM marker WHERE v = ?", 1), "one");
            EXPECT_TRUE(db->columnExistsInTableWithName("LABEL", "marker"));
            db->setLogsErrors(false);
            EXPECT_FALSE(db->executeUpdate("INSERT INTO marker VALUES (2, 'two')"))
                << "images are read-only";
            EXPECT_EQ(db->lastErrorMessage(), "attempt to write a readonly database");
        }
        EXPECT_TRUE(db->closeEx());
        EXPECT_TRUE(db->closeEx()) << "a second closeEx finds nothing to do";
    }
}

TEST(SqlDatabaseImageTest, BytesThatAreNoDatabaseFailAtTheFirstQuery) {
    const std::string text = "these bytes are plain text and no database at all";
    for (const foundation::Data& image : {foundation::Data(text.begin(), text.end()),
                                          foundation::Data(text.begin(), text.begin() + 10)}) {
        auto db = SqlDatabase::databaseWithData(image);
        ASSERT_TRUE(db) << "the header is only read by the first statement";
        const spmembuffer* copy = db->vfsPointer()->mem;
        if (image.size() < 20) {
            EXPECT_EQ(foundation::Data(copy->data, copy->data + copy->used), image)
                << "an image shorter than the header is copied unchanged";
        }
        db->setLogsErrors(false);
        EXPECT_EQ(db->executeQuery("SELECT * FROM sqlite_master"), nullptr);
        EXPECT_TRUE(db->hadError());
        EXPECT_EQ(db->lastErrorMessage(), "file is not a database");
    }
}

TEST(SqlDatabaseImageTest, AttachOnAnImageConnectionIsRefused) {
    auto db = SqlDatabase::databaseWithData(imageOf(kMarkerScript));
    ASSERT_TRUE(db);
    db->setLogsErrors(false);
    EXPECT_FALSE(db->executeUpdate("ATTACH DATABASE 'elsewhere' AS other"));
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastErrorMessage(), "too many attached databases - max 0");
    EXPECT_EQ(db->intForQuery("SELECT v FROM marker"), 1) << "the connection still works";

    // The file system itself refuses a database name that no image waits for.
    sqlite3* handle = nullptr;
    EXPECT_EQ(sqlite3_open_v2("no such image", &handle, SQLITE_OPEN_READONLY, kMemImageVfsName),
              SQLITE_CANTOPEN);
    sqlite3_close(handle);
}

TEST(SqlDatabaseImageTest, CloseExClosesOpenResultSetsOnImageAndFileConnections) {
    foundationtest::ScratchFolder folder;
    for (auto db : {SqlDatabase::databaseWithData(imageOf(kMarkerScript)),
                    SqlDatabase::databaseWithPath(folder / "file.db")}) {
        ASSERT_TRUE(db && db->open());
        auto rs = db->executeQuery("SELECT 1");
        ASSERT_TRUE(rs && rs->next());
        EXPECT_TRUE(db->closeEx());
        EXPECT_EQ(rs->statement(), nullptr);
        EXPECT_EQ(rs->parentDB(), nullptr);
        EXPECT_EQ(db->sqliteHandle(), nullptr);
        EXPECT_EQ(db->vfsPointer(), nullptr);
    }
}

TEST(SqlDatabaseImageTest, TimeRandomnessAndLargeSortsWork) {
    auto db = SqlDatabase::databaseWithData(
        imageOf("CREATE TABLE t(n INTEGER, pad TEXT);"
                "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 4000)"
                " INSERT INTO t SELECT i, hex(randomblob(200)) FROM c;"));
    ASSERT_TRUE(db);
    const std::int64_t now = std::time(nullptr);
    const std::int64_t sqlNow = db->longForQuery("SELECT CAST(strftime('%s', 'now') AS INTEGER)");
    EXPECT_LT(std::llabs(sqlNow - now), 60) << "datetime('now') comes from the real clock";
    EXPECT_NE(db->longForQuery("SELECT random()"), db->longForQuery("SELECT random()"));

    // A sort far larger than the page cache would need a temporary file.
    ASSERT_TRUE(db->executeStatements("PRAGMA cache_size = 8"));
    auto rs = db->executeQuery("SELECT n FROM t ORDER BY pad");
    ASSERT_TRUE(rs);
    int rows = 0;
    while (rs->next()) ++rows;
    EXPECT_EQ(rows, 4000);
    EXPECT_FALSE(db->hadError()) << db->lastErrorMessage();
}

TEST(SqlDatabaseImageTest, ManyThreadsOpenImagesAtOnce) {
    constexpr int kThreads = 8;
    constexpr int kOpens = 500;
    std::vector<foundation::Data> images;
    for (int t = 0; t < kThreads; ++t) {
        images.push_back(imageOf("CREATE TABLE marker(v); INSERT INTO marker VALUES (" +
                                 std::to_string(t) + ");"));
    }
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kOpens; ++i) {
                auto db = SqlDatabase::databaseWithData(images[static_cast<std::size_t>(t)]);
                if (!db || db->intForQuery("SELECT v FROM marker") != t)
                    ++mismatches[static_cast<std::size_t>(t)];
                if (db) db->closeEx();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
    EXPECT_EQ(memimagevfs_pending_count(), 0u);
}

// The file entries, driven the way SQLite drives them, on a file that is not the main
// database (it gets a fresh, growable buffer).
TEST(SqlDatabaseImageTest, FileEntriesReadWriteAndGrow) {
    memimagevfs_env_init();
    sqlite3_vfs* vfs = sqlite3_vfs_find(kMemImageVfsName);
    ASSERT_NE(vfs, nullptr);
    std::vector<char> storage(static_cast<std::size_t>(vfs->szOsFile));
    auto* file = reinterpret_cast<sqlite3_file*>(storage.data());

    EXPECT_EQ(
        vfs->xOpen(vfs, "scratch", file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_TEMP_DB, nullptr),
        SQLITE_ERROR)
        << "only read-only opens";
    ASSERT_EQ(vfs->xOpen(vfs, "scratch", file, SQLITE_OPEN_READONLY | SQLITE_OPEN_TEMP_DB, nullptr),
              SQLITE_OK);
    const sqlite3_io_methods* io = file->pMethods;

    EXPECT_EQ(io->xWrite(file, "abcde", 5, 10), SQLITE_OK);
    sqlite3_int64 size = 0;
    io->xFileSize(file, &size);
    EXPECT_EQ(size, 15);

    char buffer[20];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(io->xRead(file, buffer, 15, 0), SQLITE_OK);
    EXPECT_EQ(std::string(buffer, 15), std::string(10, '\0') + "abcde");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(io->xRead(file, buffer, 8, 12), SQLITE_IOERR_SHORT_READ);
    EXPECT_EQ(std::string(buffer, 8), std::string("cde") + std::string(5, '\0'));
    EXPECT_EQ(io->xRead(file, buffer, 4, 1000), SQLITE_IOERR_SHORT_READ);
    EXPECT_EQ(std::string(buffer, 4), std::string(4, '\0'));

    EXPECT_EQ(io->xWrite(file, "z", 1, std::numeric_limits<sqlite3_int64>::max() - 1), SQLITE_NOMEM)
        << "a write past any possible image changes nothing";
    io->xFileSize(file, &size);
    EXPECT_EQ(size, 15);

    EXPECT_EQ(io->xTruncate(file, 12), SQLITE_OK);
    io->xFileSize(file, &size);
    EXPECT_EQ(size, 12);
    EXPECT_EQ(io->xClose(file), SQLITE_OK);

    int exists = 1;
    EXPECT_EQ(vfs->xAccess(vfs, "scratch", SQLITE_ACCESS_EXISTS, &exists), SQLITE_OK);
    EXPECT_EQ(exists, 0);
}

TEST(SqlDatabaseImageTest, NewestPendingImageOfANameIsTakenFirst) {
    spmembuffer_link* head = nullptr;
    std::vector<spmembuffer> images(3);
    const char* names[] = {"same", "other", "same"};
    for (int i = 0; i < 3; ++i) {
        auto* link = static_cast<spmembuffer_link*>(std::calloc(1, sizeof(spmembuffer_link)));
        link->path = strdup(names[i]);
        link->mem = &images[static_cast<std::size_t>(i)];
        link->next = head;
        head = link;
    }
    spmembuffer_link* taken = spmembuffer_link_remove(&head, "same");
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->mem, &images[2]);
    spmembuffer_link_free(taken, false);
    EXPECT_EQ(spmembuffer_link_remove(&head, "missing"), nullptr);
    while (spmembuffer_link* link = spmembuffer_link_remove(&head, head ? head->path : "")) {
        spmembuffer_link_free(link, false);
        if (head == nullptr) break;
    }
    EXPECT_EQ(head, nullptr);
}

}  // namespace
