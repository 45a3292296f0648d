#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>

#include "DbFixtures.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlStatement.h"

using dbtest::ConsoleCapture;
using foundation::Value;

namespace {

class SqlDatabaseTest : public dbtest::DbFileTest {};

TEST_F(SqlDatabaseTest, PathsNameTheDatabaseSQLiteOpens) {
    struct Case {
        std::optional<std::string> path;
        std::string sqlitePath;
    };
    const std::string missing = folder / "created.db";
    for (const Case& c :
         {Case{std::nullopt, ":memory:"}, Case{std::string(), ""}, Case{missing, missing}}) {
        auto db = SqlDatabase::databaseWithPath(c.path);
        EXPECT_EQ(db->sqlitePath(), c.sqlitePath);
        EXPECT_EQ(db->sqliteHandle(), nullptr) << "creation touches nothing";
        ASSERT_TRUE(db->open());
        EXPECT_TRUE(db->open()) << "a second open keeps the handle";
        EXPECT_FALSE(db->tableExists("anything"));
        EXPECT_TRUE(db->close());
        EXPECT_EQ(db->sqliteHandle(), nullptr);
    }
    struct stat info {};
    EXPECT_EQ(stat(missing.c_str(), &info), 0) << "open creates a missing file";
    EXPECT_EQ(SqlDatabase::databaseWithPath(std::nullopt)->databaseURL(), std::nullopt);
}

TEST_F(SqlDatabaseTest, FailedOpenKeepsTheErrorAndCanBeRetried) {
    const std::string dir = folder / "later";
    auto db = SqlDatabase::databaseWithPath(dir + "/x.db");
    {
        ConsoleCapture console;
        EXPECT_FALSE(db->open());
        EXPECT_EQ(console.text(), "error opening!: 14\n");
    }
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_EQ(db->lastErrorCode(), SQLITE_CANTOPEN);
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastErrorMessage(), "unable to open database file");
    EXPECT_FALSE(db->open()) << "still failing, and answering so";

    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    EXPECT_TRUE(db->open());
    EXPECT_FALSE(db->hadError());
    EXPECT_TRUE(db->executeUpdate("CREATE TABLE t(a)"));
}

TEST_F(SqlDatabaseTest, ArgumentsBindByKind) {
    auto db = SqlDatabase::create();
    ASSERT_TRUE(db->open());
    struct Case {
        const char* name;
        Value argument;
        const char* type;
        const char* hex;
    };
    const Case cases[] = {
        {"nil", Value(), "null", ""},
        {"null", Value::null(), "null", ""},
        {"empty data is a blob", Value(foundation::Data{}), "blob", ""},
        {"data", Value(foundation::Data{1, 2, 0}), "blob", "010200"},
        {"text keeps inner NUL", Value(std::string("a\0b", 3)), "text", "610062"},
        {"true", Value(true), "integer", "31"},
        {"negative", Value(std::int64_t{-5}), "integer", "2D35"},
        {"unsigned keeps its bits", Value(std::uint64_t{0xFFFFFFFFFFFFFFFFull}), "integer", "2D31"},
        {"double", Value(1.5), "real", "312E35"},
        {"date without formatter", Value(foundation::Date{2.5}), "real", "322E35"},
        {"array as its text", Value::list({"a"}), "text", "5B2261225D"},
    };
    for (const Case& c : cases) {
        auto rs = db->executeQuery("SELECT typeof(?1), hex(?1)", c.argument);
        ASSERT_TRUE(rs) << c.name;
        ASSERT_TRUE(rs->next()) << c.name;
        EXPECT_EQ(rs->stringForColumnIndex(0), c.type) << c.name;
        EXPECT_EQ(rs->stringForColumnIndex(1), c.hex) << c.name;
        rs->close();
    }
}

TEST_F(SqlDatabaseTest, BoundValuesOutliveTheirArguments) {
    auto db = openDb("CREATE TABLE t(name TEXT); INSERT INTO t VALUES ('kept');");
    std::shared_ptr<SqlResultSet> rs;
    {
        std::string name = "kept";
        rs = db->executeQuery("SELECT count(*) FROM t WHERE name = ?", name);
        name.assign(64, 'x');
    }
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 1);
}

TEST_F(SqlDatabaseTest, QueryRunsOnlyTheFirstStatementAndNilMatchesNothing) {
    auto db = openDb("CREATE TABLE t(a); INSERT INTO t VALUES (1);");
    auto rs = db->executeQuery("SELECT a FROM t; DELETE FROM t;");
    ASSERT_TRUE(rs);
    EXPECT_TRUE(rs->next());
    rs->close();
    EXPECT_EQ(db->intForQuery("SELECT count(*) FROM t"), 1);

    rs = db->executeQuery("SELECT a FROM t WHERE a = ?", Value());
    ASSERT_TRUE(rs);
    EXPECT_FALSE(rs->next());
}

TEST_F(SqlDatabaseTest, HadErrorIsTrueOnlyForErrorCodes) {
    auto db = openDb("CREATE TABLE t(a); INSERT INTO t VALUES (1);");
    EXPECT_EQ(db->lastErrorCode(), SQLITE_OK);
    EXPECT_FALSE(db->hadError());

    auto rs = db->executeQuery("SELECT a FROM t");
    ASSERT_TRUE(rs);
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(db->lastErrorCode(), SQLITE_ROW);
    EXPECT_FALSE(db->hadError());
    EXPECT_TRUE(rs->hasAnotherRow());
    EXPECT_FALSE(rs->next());
    EXPECT_FALSE(db->hadError()) << "the end of the rows is no error";

    {
        ConsoleCapture console;
        EXPECT_EQ(db->executeQuery("SELEC 1"), nullptr);
        EXPECT_EQ(console.text(),
                  "DB Error: 1 \"near \"SELEC\": syntax error\"\nDB Query: SELEC 1\nDB Path: " +
                      *db->databasePath() + "\n");
    }
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastErrorMessage(), "near \"SELEC\": syntax error");
    const foundation::Error error = db->lastError();
    EXPECT_EQ(error.domain, "SqlDatabase");
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(error.message, db->lastErrorMessage());

    db->setLogsErrors(false);
    ConsoleCapture quiet;
    EXPECT_EQ(db->executeQuery("SELEC 1"), nullptr);
    EXPECT_EQ(quiet.text(), "");
}

TEST_F(SqlDatabaseTest, WrongArgumentCountGivesNilAndLeavesTheConnectionUsable) {
    auto db = openDb("CREATE TABLE t(a, b);");
    {
        ConsoleCapture console;
        EXPECT_EQ(db->executeQuery("SELECT * FROM t WHERE a = ? AND b = ?", 1), nullptr);
        EXPECT_EQ(console.text(),
                  "Error: the bind count is not correct for the # of variables (executeQuery)\n");
    }
    {
        ConsoleCapture console;
        EXPECT_FALSE(db->executeUpdate("INSERT INTO t VALUES (?, ?)", 1));
        EXPECT_EQ(console.text(),
                  "Error: the bind count (1) is not correct for the # of variables in the query "
                  "(2) (INSERT INTO t VALUES (?, ?)) (executeUpdate)\n");
    }
    auto rs = db->executeQuery("SELECT * FROM t WHERE a = ?", 1, "ignored extra");
    ASSERT_TRUE(rs) << "arguments beyond the parameters are not read";
    EXPECT_FALSE(rs->next());
}

TEST_F(SqlDatabaseTest, ClosedConnectionRefusesQueries) {
    auto db = SqlDatabase::databaseWithPath(folder / "never.db");
    ConsoleCapture console;
    EXPECT_TRUE(db->close()) << "closing a connection never opened";
    EXPECT_EQ(db->executeQuery("SELECT 1"), nullptr);
    EXPECT_EQ(console.text(), "The SqlDatabase " + db->description() + " is not open.\n");
}

TEST_F(SqlDatabaseTest, CloseClosesOpenResultSetsFirst) {
    auto db = openDb("CREATE TABLE t(a); INSERT INTO t VALUES (1), (2);");
    auto rs = db->executeQuery("SELECT a FROM t");
    ASSERT_TRUE(rs && rs->next());
    EXPECT_TRUE(db->hasOpenResultSets());
    EXPECT_TRUE(db->close());
    EXPECT_FALSE(db->hasOpenResultSets());
    EXPECT_EQ(rs->statement(), nullptr);
    EXPECT_EQ(rs->parentDB(), nullptr);
    EXPECT_EQ(rs->intForColumnIndex(0), 0) << "reads after close are empty";
}

TEST_F(SqlDatabaseTest, ResultSetKeepsItsConnectionAlive) {
    auto db = openDb("CREATE TABLE t(a); INSERT INTO t VALUES (7), (8);");
    auto rs = db->executeQuery("SELECT a FROM t");
    db.reset();
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->intForColumnIndex(0), 7);
    // Closing through the result set's own reference lets go of the last owner mid-close.
    rs->parentDB()->close();
    EXPECT_EQ(rs->parentDB(), nullptr);
}

TEST_F(SqlDatabaseTest, SchemaQuestionsIgnoreCaseAndAcceptAnyName) {
    auto db = openDb(
        "CREATE TABLE item(id INTEGER PRIMARY KEY, media_type INTEGER NOT NULL DEFAULT 3);"
        "CREATE TABLE \"my table\"(a, b);"
        "CREATE TABLE \"it's\"(c);");
    EXPECT_TRUE(db->tableExists("ITEM"));
    EXPECT_FALSE(db->tableExists("items"));
    EXPECT_TRUE(db->columnExistsInTableWithName("MEDIA_TYPE", "Item"));
    EXPECT_TRUE(db->columnExistsColumnName("item", "Media_Type"));
    EXPECT_FALSE(db->columnExistsInTableWithName("kind", "item"));

    struct Case {
        std::string table;
        int columns;
    };
    for (const Case& c : {Case{"item", 2}, Case{"my table", 2}, Case{"it's", 1},
                          Case{"item'); DROP TABLE item; --", 0}}) {
        auto rs = db->getTableSchema(c.table);
        ASSERT_TRUE(rs) << c.table;
        int rows = 0;
        while (rs->next()) {
            if (rows == 0) {
                EXPECT_EQ(rs->columnCount(), 6);
                EXPECT_EQ(rs->columnNameForIndex(5), "pk");
            }
            ++rows;
        }
        EXPECT_EQ(rows, c.columns) << c.table;
    }
    auto rs = db->getTableSchema("item");
    ASSERT_TRUE(rs && rs->next() && rs->next());
    EXPECT_EQ(rs->stringForColumn("name"), "media_type");
    EXPECT_EQ(rs->intForColumn("notnull"), 1);
    EXPECT_EQ(rs->stringForColumn("dflt_value"), "3");
    rs->close();
    EXPECT_TRUE(db->tableExists("item"));
}

TEST_F(SqlDatabaseTest, BusyDatabaseGivesUpAfterTheInterval) {
    const std::string path = makeFile("CREATE TABLE t(a);");
    auto holder = SqlDatabase::databaseWithPath(path);
    ASSERT_TRUE(holder->open());
    ASSERT_TRUE(holder->beginTransaction());

    struct Case {
        std::optional<double> interval;
        double atLeast;
        double atMost;
    };
    for (const Case& c :
         {Case{0.0, 0.0, 1.0}, Case{0.3, 0.3, 5.0}, Case{std::nullopt, 2.0, 10.0}}) {
        auto waiter = SqlDatabase::databaseWithPath(path);
        if (c.interval) waiter->setMaxBusyRetryTimeInterval(*c.interval);
        ASSERT_TRUE(waiter->open());
        waiter->setLogsErrors(false);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(waiter->executeQuery("SELECT * FROM t"), nullptr);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(waiter->lastErrorCode(), SQLITE_BUSY);
        EXPECT_GE(elapsed, c.atLeast);
        EXPECT_LT(elapsed, c.atMost);
    }
    EXPECT_TRUE(holder->commit());
}

TEST_F(SqlDatabaseTest, BusyStepIsReportedAndClosesTheResultSet) {
    const std::string path = makeFile("CREATE TABLE t(a); INSERT INTO t VALUES (1);");
    auto reader = SqlDatabase::databaseWithPath(path);
    reader->setMaxBusyRetryTimeInterval(0);
    ASSERT_TRUE(reader->open());
    auto rs = reader->executeQuery("SELECT a FROM t");
    ASSERT_TRUE(rs) << "compiled before the lock is taken";

    auto holder = SqlDatabase::databaseWithPath(path);
    ASSERT_TRUE(holder->open());
    ASSERT_TRUE(holder->beginTransaction());
    ConsoleCapture console;
    foundation::Error error;
    EXPECT_FALSE(rs->nextWithError(&error));
    EXPECT_EQ(console.text(),
              "SqlResultSet::nextWithError:168 Database busy (" + path + ")\nDatabase busy\n");
    EXPECT_EQ(error.code, SQLITE_BUSY);
    EXPECT_EQ(rs->statement(), nullptr);
    EXPECT_TRUE(holder->rollback());
}

}  // namespace
