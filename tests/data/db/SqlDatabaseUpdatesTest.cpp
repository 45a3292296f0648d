#include <gtest/gtest.h>
#include <sqlite3.h>

#include "DbFixtures.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlStatement.h"

using dbtest::ConsoleCapture;
using foundation::Value;

namespace {

class SqlDatabaseUpdatesTest : public testing::Test {
protected:
    void SetUp() override {
        db = SqlDatabase::create();
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements("CREATE TABLE t(a, b);"));
    }
    int rows() { return db->intForQuery("SELECT count(*) FROM t"); }

    std::shared_ptr<SqlDatabase> db;
};

TEST_F(SqlDatabaseUpdatesTest, UpdateFormsBindAndReport) {
    EXPECT_TRUE(db->executeUpdate("INSERT INTO t VALUES (?, ?)", 1, "one"));
    EXPECT_EQ(db->lastInsertRowId(), 1);
    EXPECT_TRUE(db->executeUpdateWithParameterDictionary("INSERT INTO t VALUES (:a, :b)",
                                                         {{"a", Value(2)}, {"b", Value("two")}}));
    foundation::Error error;
    EXPECT_TRUE(
        db->executeUpdateWithErrorAndBindings(&error, "UPDATE t SET b = ? WHERE a < ?", "x", 3));
    EXPECT_EQ(db->changes(), 2);
    EXPECT_EQ(db->stringForQuery("SELECT group_concat(b) FROM t"), "x,x");

    ConsoleCapture console;
    EXPECT_FALSE(db->executeUpdateValuesError("INSERT INTO missing VALUES (1)", {}, &error));
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(error.message, "no such table: missing");
    EXPECT_FALSE(db->executeUpdate("SELECT * FROM t")) << "a row is no update";
    const std::string text = console.text();
    EXPECT_NE(text.find("A executeUpdate is being called with a query string 'SELECT * FROM t'"),
              std::string::npos)
        << text;
}

TEST_F(SqlDatabaseUpdatesTest, FormatsBecomeBoundParameters) {
    struct Case {
        const char* format;
        foundation::Array arguments;
        const char* sql;
        foundation::Array bound;
    };
    const Case cases[] = {
        {"SELECT %@, %d", {Value("x"), Value(4)}, "SELECT ?, ?", {Value("x"), Value(4)}},
        {"SELECT %@", {Value()}, "SELECT NULL", {}},
        {"SELECT %c", {Value(65)}, "SELECT ?", {Value("A")}},
        {"SELECT %lld + %hu, %qi",
         {Value(1), Value(2), Value(3)},
         "SELECT ? + ?, ?",
         {Value(1), Value(2), Value(3)}},
        {"SELECT '100%%', %f", {Value(1.5)}, "SELECT '100%', ?", {Value(1.5)}},
        {"SELECT %x", {}, "SELECT %x", {}},
    };
    for (const Case& c : cases) {
        std::string sql;
        foundation::Array bound;
        SqlDatabase::extractSQL(c.format, c.arguments, sql, bound);
        EXPECT_EQ(sql, c.sql) << c.format;
        EXPECT_EQ(bound, c.bound) << c.format;
    }
    EXPECT_TRUE(db->executeUpdateWithFormat("INSERT INTO t VALUES (%d, %@)", 5, "five"));
    auto rs = db->executeQueryWithFormat("SELECT b FROM t WHERE a = %d", 5);
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->stringForColumnIndex(0), "five");
}

TEST_F(SqlDatabaseUpdatesTest, SavePointsRollBackOnRequest) {
    for (bool rollback : {true, false}) {
        const int before = rows();
        auto error = db->inSavePoint([&](bool& shouldRollback) {
            db->executeUpdate("INSERT INTO t VALUES (2, 2)");
            shouldRollback = rollback;
        });
        EXPECT_EQ(error, std::nullopt);
        EXPECT_EQ(rows(), rollback ? before : before + 1);
    }
    foundation::Error error;
    EXPECT_TRUE(db->startSavePointWithNameError("it's", &error)) << "quotes in names are doubled";
    EXPECT_TRUE(db->releaseSavePointWithNameError("it's", &error));
    db->setLogsErrors(false);
    EXPECT_FALSE(db->releaseSavePointWithNameError("unknown", &error));
    EXPECT_EQ(error.message, "no such savepoint: unknown");
}

TEST_F(SqlDatabaseUpdatesTest, BatchesHandEachRowToTheBlock) {
    ASSERT_TRUE(
        db->executeStatements("INSERT INTO t VALUES (1, NULL); INSERT INTO t VALUES (2, 'b');"));
    std::vector<foundation::Dictionary> seen;
    EXPECT_TRUE(db->executeStatementsWithResultBlock("SELECT a, b FROM t ORDER BY a",
                                                     [&](const foundation::Dictionary& row) {
                                                         seen.push_back(row);
                                                         return 0;
                                                     }));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].at("a"), Value("1"));
    EXPECT_TRUE(seen[0].at("b").isNull());
    EXPECT_FALSE(db->executeStatementsWithResultBlock(
        "SELECT a FROM t", [](const foundation::Dictionary&) { return 1; }))
        << "a non-zero answer aborts";
    ConsoleCapture console;
    EXPECT_FALSE(db->executeStatements("INSERT INTO nowhere VALUES (1)"));
    EXPECT_EQ(console.text(), "Error inserting batch: no such table: nowhere\n");
}

TEST_F(SqlDatabaseUpdatesTest, FunctionsRunTheirBlocks) {
    db->makeFunctionNamedArgumentsBlock(
        "twice", 1, [](sqlite3_context* context, int, sqlite3_value** argv) {
            if (SqlDatabase::valueType(argv[0]) == SQLITE_TEXT) {
                const std::string text = SqlDatabase::valueString(argv[0]).value_or("");
                SqlDatabase::resultStringContext(text + text, context);
            } else if (SqlDatabase::valueType(argv[0]) == SQLITE_NULL) {
                SqlDatabase::resultErrorContext("no value", context);
            } else {
                SqlDatabase::resultLongContext(SqlDatabase::valueLong(argv[0]) * 2, context);
            }
        });
    EXPECT_EQ(db->stringForQuery("SELECT twice('ab')"), "abab");
    EXPECT_EQ(db->longForQuery("SELECT twice(21)"), 42);
    db->setLogsErrors(false);
    ConsoleCapture console;
    auto rs = db->executeQuery("SELECT twice(NULL)");
    ASSERT_TRUE(rs);
    EXPECT_FALSE(rs->next());
    EXPECT_EQ(console.text(), "Error calling sqlite3_step (1: no value) rs\n");
}

TEST_F(SqlDatabaseUpdatesTest, CachedStatementsAreReused) {
    db->setShouldCacheStatements(true);
    for (int i = 0; i < 3; ++i) {
        auto rs = db->executeQuery("SELECT ?", i);
        ASSERT_TRUE(rs && rs->next());
        EXPECT_EQ(rs->intForColumnIndex(0), i);
        // A second query of the same text while the first is open gets its own statement.
        auto other = db->executeQuery("SELECT ?", 10);
        ASSERT_TRUE(other && other->next());
        EXPECT_EQ(other->intForColumnIndex(0), 10);
    }
    ASSERT_EQ(db->cachedStatements().size(), 1u);
    const auto& statements = db->cachedStatements().begin()->second;
    ASSERT_EQ(statements.size(), 2u);
    EXPECT_EQ(statements[0]->useCount() + statements[1]->useCount(), 6);
    db->setShouldCacheStatements(false);
    EXPECT_TRUE(db->cachedStatements().empty());
}

TEST_F(SqlDatabaseUpdatesTest, TracingShowsQueriesAndArguments) {
    db->setTraceExecution(true);
    ConsoleCapture console;
    auto rs = db->executeQuery("SELECT ?, ?", "text", foundation::Data{1, 2, 3});
    EXPECT_EQ(console.text(),
              db->description() + " executeQuery: SELECT ?, ?\nobj: text\ndata: 3 bytes\n");
}

TEST_F(SqlDatabaseUpdatesTest, PragmasAndValidation) {
    db->setUserVersion(7);
    EXPECT_EQ(db->userVersion(), 7u);
    db->setApplicationIDString("abcd");
    EXPECT_EQ(db->applicationID(), 0x61626364u);
    EXPECT_EQ(db->applicationIDString(), "'abcd'");
    foundation::Error error;
    EXPECT_TRUE(db->validateSQLError("SELECT a FROM t", &error));
    EXPECT_FALSE(db->validateSQLError("SELECT nope FROM t", &error));
    EXPECT_EQ(error.message, "no such column: nope");
    EXPECT_TRUE(db->goodConnection());
    EXPECT_FALSE(db->setKey("secret"));
    auto schema = db->getSchema();
    ASSERT_TRUE(schema && schema->next());
    EXPECT_EQ(schema->stringForColumn("name"), "t");
}

}  // namespace
