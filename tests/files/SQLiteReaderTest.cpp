#include <gtest/gtest.h>

#include "data/db/SqlDatabase.h"
#include "files/SQLiteReader.h"
#include "foundation/Error.h"

using foundation::Value;

namespace {

Value column(std::int64_t cid, const char* name, const char* type, std::int64_t notnull,
             Value dflt, std::int64_t pk) {
    return Value::dict({{"cid", cid}, {"name", name}, {"type", type}, {"notnull", notnull},
                        {"dflt_value", std::move(dflt)}, {"pk", pk}});
}

class SQLiteReaderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db->open());
        ASSERT_TRUE(db->executeStatements(
            "CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT NOT NULL DEFAULT 'x', blob BLOB);"
            "INSERT INTO t VALUES (1, 'one', x'0102');"
            "CREATE TABLE \"odd name\" (a);"));
    }
    void TearDown() override { db->close(); }

    std::shared_ptr<SqlDatabase> db = SqlDatabase::create();
    SQLiteReader reader{db};
};

TEST_F(SQLiteReaderTest, TablesAndColumnsWithNamesBoundNotSpliced) {
    const Value idColumn = column(0, "id", "INTEGER", 0, Value::null(), 1);
    const Value tColumns =
        Value::list({idColumn, column(1, "name", "TEXT", 1, "'x'", 0), column(2, "blob", "BLOB", 0, Value::null(), 0)});
    const Value withInfo = reader.allTables(Value::dict({{"tableinfo", true}}));
    EXPECT_EQ(withInfo["info"]["t"], tColumns);
    EXPECT_EQ(withInfo["info"]["odd name"], Value::list({column(0, "a", "", 0, Value::null(), 0)}));
    // The page may send the flag as text.
    EXPECT_EQ(reader.allTables(Value::dict({{"tableinfo", "1"}}))["info"]["t"], tColumns);
    EXPECT_EQ(reader.allTables(Value::dict({{"tableinfo", "true"}}))["info"]["t"], tColumns);
    EXPECT_TRUE(reader.allTables(Value::dict({{"tableinfo", "0"}}))["info"].isNil());

    struct Case {
        const char* name;
        Value table;
        Value answer;
    };
    const Case cases[] = {
        {"number", 5, Value::dict({{"result", false}, {"reason", "no table specified"}})},
        {"missing", Value(), Value::dict({{"result", false}, {"reason", "no table specified"}})},
        {"list", Value::list({"t", "nothing"}),
         Value::dict({{"result", true}, {"info", Value::dict({{"t", tColumns}, {"nothing", foundation::Array{}}})}})},
        {"quote in name", "t'); DROP TABLE t; --",
         Value::dict({{"result", true}, {"info", Value::dict({{"t'); DROP TABLE t; --", foundation::Array{}}})}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(reader.columnsOfTable(c.table), c.answer);
    }
    EXPECT_TRUE(db->tableExists("t"));
}

TEST_F(SQLiteReaderTest, RowsInBothFormsWithBlobsAsBase64AndNullAsEmptyText) {
    const Value plain = reader.query(Value::dict({{"query", "SELECT NULL AS a, x'0102' AS b, 2.5 AS c"}}));
    EXPECT_EQ(plain, Value::dict({{"result", true},
                                  {"rows", Value::list({Value::dict({{"a", ""}, {"b", "AQI="}, {"c", 2.5}})})}}));
    const Value full = reader.query(
        Value::dict({{"query", "SELECT NULL AS a, x'0102' AS b"}, {"fullinfo", true}}));
    EXPECT_EQ(full["rows"][0], Value::list({Value::dict({{"name", "a"}, {"value", ""}, {"type", std::int64_t{5}}}),
                                            Value::dict({{"name", "b"}, {"value", "AQI="}, {"type", std::int64_t{4}}})}));
    EXPECT_EQ(reader.query(Value::dict({{"query", "SELECT NULL AS a, x'0102' AS b"}, {"fullinfo", "true"}})),
              full);
    EXPECT_EQ(reader.query(Value::dict({{"query", 7}})),
              Value::dict({{"result", true}, {"rows", foundation::Array{}}}));
}

TEST_F(SQLiteReaderTest, KeyedQueriesKeepTheirOwnErrorsAndMalformedOnesAbandonTheRequest) {
    const Value answer = reader.query(Value::dict(
        {{"query", Value::list({Value::dict({{"key", "good"}, {"sql", "SELECT id FROM t"}}),
                                Value::dict({{"key", "bad"}, {"sql", "SELECT nope FROM t"}})})}}));
    EXPECT_EQ(answer["rows"]["good"],
              Value::dict({{"rows", Value::list({Value::dict({{"id", std::int64_t{1}}})})}}));
    EXPECT_EQ(answer["rows"]["bad"]["rows"], Value(foundation::Array{}));
    EXPECT_EQ(answer["rows"]["bad"]["error"], "no such column: nope");

    try {
        reader.query(Value::dict({{"query", "SELECT nope FROM t"}}));
        ADD_FAILURE() << "no exception";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "SQL Exception");
        EXPECT_EQ(e.reason(), "no such column: nope");
    }
    try {
        reader.query(Value::dict({{"query", Value::list({Value::dict({{"key", "a"}, {"sql", "SELECT 1"}}),
                                                         Value::dict({{"key", "b"}})})}}));
        ADD_FAILURE() << "no exception";
    } catch (const foundation::NamedException& e) {
        EXPECT_EQ(e.name(), "Query Error");
        EXPECT_EQ(e.reason(), "Missing key or sql");
    }
}

// The two open failures differ in case and period; an empty database lists no tables.
TEST(SQLiteReaderOpening, OpenFailuresAndAnEmptyDatabase) {
    SQLiteReader unopenable(SqlDatabase::databaseWithPath("/nonexistent-folder/none/db.sqlite"));
    EXPECT_EQ(unopenable.allTables(Value::dict({})),
              Value::dict({{"result", false}, {"reason", "Failed to open sqlite"}}));
    EXPECT_EQ(unopenable.columnsOfTable("t"),
              Value::dict({{"result", false}, {"reason", "failed to open sqlite."}}));
    EXPECT_EQ(unopenable.query(Value::dict({{"query", "SELECT 1"}})),
              Value::dict({{"result", false}, {"reason", "failed to open sqlite."}}));
    SQLiteReader noConnection(nullptr);
    EXPECT_EQ(noConnection.allTables(Value::dict({}))["reason"], "Failed to open sqlite");

    SQLiteReader empty(SqlDatabase::create());
    EXPECT_EQ(empty.allTables(Value::dict({})),
              Value::dict({{"result", true}, {"tables", foundation::Array{}}}));
    EXPECT_EQ(empty.allTables(Value::dict({{"tableinfo", true}})),
              Value::dict({{"result", true}, {"tables", foundation::Array{}}, {"info", foundation::Dictionary{}}}));
    empty.db()->close();
}

TEST_F(SQLiteReaderTest, ThePlainFunctionsDescribeColumnsAndHandOverRows) {
    EXPECT_EQ(columns_of_table(*db, "odd name"), Value::list({column(0, "a", "", 0, Value::null(), 0)}));
    EXPECT_EQ(columns_of_table(*db, "missing"), Value(foundation::Array{}));
    std::vector<Value> rows;
    row_of_query(*db, "SELECT id, name FROM t", true, [&](Value row) { rows.push_back(std::move(row)); });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], Value::dict({{"name", "name"}, {"value", "one"}, {"type", std::int64_t{3}}}));
    EXPECT_THROW(row_of_query(*db, "SELECT nope", false, [](Value) {}), foundation::NamedException);
}

}  // namespace
