#include <gtest/gtest.h>
#include <sqlite3.h>

#include "DbFixtures.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlDateFormatter.h"
#include "data/db/SqlStatement.h"

using dbtest::ConsoleCapture;
using foundation::Value;

namespace {

// One row holding a value of every kind, and a few rows for stepping.
class SqlResultSetTest : public dbtest::DbFileTest {
protected:
    void SetUp() override {
        db = openDb(
            "CREATE TABLE item(id INTEGER, name TEXT, price REAL, picture BLOB, empty BLOB,"
            " bad TEXT, blank);"
            "INSERT INTO item VALUES (42, 'Tëst', 2.5, x'0102', x'',"
            " CAST(x'C328' AS TEXT), NULL);"
            "CREATE TABLE other(id INTEGER, label TEXT);"
            "INSERT INTO other VALUES (7, 'seven');");
        ASSERT_TRUE(db);
    }
    std::shared_ptr<SqlResultSet> firstRow(const std::string& sql) {
        auto rs = db->executeQuery(sql);
        EXPECT_TRUE(rs && rs->next()) << sql;
        return rs;
    }

    std::shared_ptr<SqlDatabase> db;
};

TEST_F(SqlResultSetTest, ReadsByNameIgnoreCase) {
    auto rs = firstRow("SELECT * FROM item");
    struct Case {
        const char* column;
        std::optional<std::string> text;
        std::int64_t number;
        int type;
    };
    const Case cases[] = {
        {"ID", "42", 42, SQLITE_INTEGER},      {"Name", "Tëst", 0, SQLITE_TEXT},
        {"price", "2.5", 2, SQLITE_FLOAT},     {"Blank", std::nullopt, 0, SQLITE_NULL},
        {"bad", std::nullopt, 0, SQLITE_TEXT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rs->stringForColumn(c.column), c.text) << c.column;
        EXPECT_EQ(rs->safeStringForColumn(c.column), c.text.value_or("")) << c.column;
        EXPECT_EQ(rs->longForColumn(c.column), c.number) << c.column;
        EXPECT_EQ(rs->intForColumn(c.column), c.number) << c.column;
        EXPECT_EQ(rs->boolForColumn(c.column), c.number != 0) << c.column;
        EXPECT_EQ(rs->columnType(rs->columnIndexForName(c.column)), c.type) << c.column;
    }
    EXPECT_DOUBLE_EQ(rs->doubleForColumn("PRICE"), 2.5);
    EXPECT_EQ(rs->dataForColumn("picture"), (foundation::Data{1, 2}));
    EXPECT_EQ(rs->dataForColumn("empty"), std::nullopt) << "a zero-length blob has no bytes";
    EXPECT_TRUE(rs->columnIsNull("blank"));
    EXPECT_STREQ(rs->UTF8StringForColumn("id"), "42");
    auto noCopy = rs->dataNoCopyForColumn("picture");
    ASSERT_TRUE(noCopy);
    EXPECT_EQ(noCopy->size(), 2u);
}

TEST_F(SqlResultSetTest, ObjectsByPosition) {
    auto rs = firstRow("SELECT * FROM item");
    const int count = rs->columnCount();
    ASSERT_EQ(count, 7);
    const Value expected[] = {
        Value(std::int64_t{42}), Value("Tëst"), Value(2.5),    Value(foundation::Data{1, 2}),
        Value::null(),           Value::null(), Value::null(),
    };
    for (int i = 0; i < count; ++i) EXPECT_EQ(rs->objectForColumnIndex(i), expected[i]) << i;
    EXPECT_TRUE(rs->objectForColumnIndex(-1).isNil());
    EXPECT_TRUE(rs->objectForColumnIndex(count).isNil());
    EXPECT_EQ(rs->columnType(count), SQLITE_NULL);
    EXPECT_EQ((*rs)[0], Value(std::int64_t{42}));
    EXPECT_EQ((*rs)[std::string_view("NAME")], Value("Tëst"));
}

TEST_F(SqlResultSetTest, LastColumnOfADuplicateNameWins) {
    auto rs = firstRow("SELECT i.id, o.id, o.label FROM item i JOIN other o");
    EXPECT_EQ(rs->intForColumn("id"), 7);
    EXPECT_EQ(rs->intForColumn("ID"), 7);
    EXPECT_EQ(rs->columnIndexForName("Id"), 1);
    EXPECT_EQ(firstRow("SELECT 5 AS \"ÄRA\"")->intForColumn("ära"), 5);  // non-ASCII case
    auto dictionary = rs->resultDictionary();
    ASSERT_TRUE(dictionary);
    EXPECT_EQ((*dictionary)["id"], Value(std::int64_t{7}));
    EXPECT_EQ(dictionary->size(), 2u);
}

TEST_F(SqlResultSetTest, MissingColumnWarnsAndReadsEmpty) {
    auto rs = firstRow("SELECT * FROM item");
    ConsoleCapture console;
    EXPECT_EQ(rs->intForColumn("Nope"), 0);
    EXPECT_EQ(console.text(), "Warning: I could not find the column named 'nope'.\n");
    EXPECT_EQ(rs->safeStringForColumn("nope"), "");
    EXPECT_EQ(rs->dataForColumn("nope"), std::nullopt);
    EXPECT_TRUE(rs->objectForColumn("nope").isNil());
}

TEST_F(SqlResultSetTest, TypeFollowsEachRow) {
    auto rs = db->executeQuery(
        "SELECT 1 UNION ALL SELECT 'x' UNION ALL SELECT 2.5 UNION ALL "
        "SELECT NULL UNION ALL SELECT x'00'");
    ASSERT_TRUE(rs);
    std::vector<int> types;
    while (rs->next()) types.push_back(rs->columnType(0));
    EXPECT_EQ(types, (std::vector<int>{1, 3, 2, 5, 4}));
}

TEST_F(SqlResultSetTest, EndOfRowsClosesQuietlyAndStepAfterwardsIsMisuse) {
    auto rs = db->executeQuery("SELECT * FROM item WHERE id = ?", 0);
    ASSERT_TRUE(rs);
    {
        ConsoleCapture console;
        EXPECT_FALSE(rs->next());
        EXPECT_EQ(console.text(), "");
    }
    EXPECT_EQ(rs->statement(), nullptr);
    EXPECT_FALSE(db->hasOpenResultSets());
    EXPECT_EQ(rs->columnCount(), 0);

    ConsoleCapture console;
    foundation::Error error;
    EXPECT_FALSE(rs->nextWithError(&error));
    EXPECT_EQ(console.text(),
              "Error calling sqlite3_step (21: bad parameter or other API misuse) rs\n");
    EXPECT_EQ(error.code, SQLITE_MISUSE);
    EXPECT_EQ(error.message, "parentDB does not exist");
    rs->close();
}

TEST_F(SqlResultSetTest, FirstFailingStepClosesTheResultSet) {
    auto rs = db->executeQuery("SELECT abs(-9223372036854775807 - 1) FROM item");
    ASSERT_TRUE(rs) << "the overflow shows only when stepping";
    ConsoleCapture console;
    foundation::Error error;
    EXPECT_FALSE(rs->nextWithError(&error));
    EXPECT_EQ(console.text(), "Error calling sqlite3_step (1: integer overflow) rs\n");
    EXPECT_EQ(error.domain, "SqlDatabase");
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(rs->statement(), nullptr);
    EXPECT_FALSE(db->hasOpenResultSets());
    EXPECT_TRUE(db->hadError());
}

TEST_F(SqlResultSetTest, RowAsDictionaries) {
    auto rs = db->executeQuery("SELECT id AS Id, label FROM other");
    ASSERT_TRUE(rs);
    {
        ConsoleCapture console;
        EXPECT_EQ(rs->resultDictionary(), std::nullopt) << "no row yet";
        EXPECT_EQ(console.text(), "Warning: There seem to be no columns in this set.\n");
    }
    ASSERT_TRUE(rs->next());
    EXPECT_EQ(rs->resultDictionary(),
              (foundation::Dictionary{{"Id", Value(std::int64_t{7})}, {"label", Value("seven")}}));
    EXPECT_EQ(rs->resultDict(),
              (foundation::Dictionary{{"id", Value(std::int64_t{7})}, {"label", Value("seven")}}));
    std::map<std::string, std::string> set;
    rs->kvcMagic([&](const std::string& key, const std::string& text) { set[key] = text; });
    EXPECT_EQ(set, (std::map<std::string, std::string>{{"Id", "7"}, {"label", "seven"}}));
}

TEST_F(SqlResultSetTest, DatesAsSecondsOrFormattedText) {
    auto rs = firstRow("SELECT 86400.5 AS d, '1970-01-02 00:00:01' AS t");
    EXPECT_EQ(rs->dateForColumn("d"), foundation::Date{86400.5});
    rs->close();

    db->setDateFormat(SqlDatabase::storeableDateFormat("yyyy-MM-dd HH:mm:ss"));
    ASSERT_TRUE(db->hasDateFormatter());
    rs = db->executeQuery("SELECT ? AS b, '1970-01-02 00:00:01' AS t, 'not a date' AS u",
                          foundation::Date{86401});
    ASSERT_TRUE(rs && rs->next());
    EXPECT_EQ(rs->stringForColumn("b"), "1970-01-02 00:00:01");
    EXPECT_EQ(rs->dateForColumn("t"), foundation::Date{86401});
    EXPECT_EQ(rs->dateForColumn("u"), std::nullopt);
}

}  // namespace
