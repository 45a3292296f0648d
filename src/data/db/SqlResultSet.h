#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "foundation/Error.h"
#include "foundation/Value.h"

struct sqlite3_stmt;
class SqlDatabase;
class SqlStatement;

// A forward-only cursor over the rows of one compiled statement. It is born before its
// first row; each next() that answers true moves to a row, and the first that answers
// false (end or failure) closes it. Columns are read by position (0 = first) or by name,
// matched without regard to case. It holds its connection until it closes.
class SqlResultSet {
public:
    // Made by the connection only. Throws when the statement is already in use.
    static std::shared_ptr<SqlResultSet> resultSetWithStatementUsingParentDatabase(
        std::shared_ptr<SqlStatement> statement, std::shared_ptr<SqlDatabase> parentDB);
    ~SqlResultSet();
    SqlResultSet(const SqlResultSet&) = delete;
    SqlResultSet& operator=(const SqlResultSet&) = delete;

    bool next();
    bool nextWithError(foundation::Error* error);
    // Resets and lets go of the statement, tells the connection, lets go of it.
    void close();
    // True when the connection's current code is "row".
    bool hasAnotherRow() const;

    int columnCount() const;
    std::string columnNameForIndex(int index) const;
    // SQLite's type code of the value: 1 integer, 2 float, 3 text, 4 blob, 5 null.
    int columnType(int index) const;
    // -1 (with a console warning) for a name the query does not return.
    int columnIndexForName(std::string_view name);
    // Lower-cased column name to position; the last column of a name wins.
    const std::map<std::string, int, std::less<>>& columnNameToIndexMap();

    // Reads by position. Numbers of a NULL value or of a position outside the row are 0.
    int intForColumnIndex(int index) const;
    std::int64_t longForColumnIndex(int index) const;
    std::int64_t longLongIntForColumnIndex(int index) const { return longForColumnIndex(index); }
    std::uint64_t unsignedLongLongIntForColumnIndex(int index) const;
    bool boolForColumnIndex(int index) const { return intForColumnIndex(index) != 0; }
    double doubleForColumnIndex(int index) const;
    // nullopt for NULL, a position outside the row, or text that is not valid UTF-8.
    std::optional<std::string> stringForColumnIndex(int index) const;
    // The same text without a copy: SQLite's own bytes, valid until the next step or close.
    std::optional<std::string_view> stringViewForColumnIndex(int index) const;
    // A copy of the bytes; nullopt for NULL, outside the row, or a zero-length blob.
    std::optional<foundation::Data> dataForColumnIndex(int index) const;
    // SQLite's own bytes, valid until the next step or close.
    std::optional<std::span<const std::uint8_t>> dataNoCopyForColumnIndex(int index) const;
    std::optional<foundation::Date> dateForColumnIndex(int index) const;
    bool columnIndexIsNull(int index) const { return columnType(index) == 5; }
    // SQLite's own text, valid until the next step or close; nullptr under the guards.
    const char* UTF8StringForColumnIndex(int index) const;
    // Nil outside the row; a number, data, text, or null for NULL and unreadable values.
    foundation::Value objectForColumnIndex(int index) const;
    foundation::Value operator[](int index) { return objectForColumnIndex(index); }

    // Reads by name: the read by position at columnIndexForName.
    int intForColumn(std::string_view name) { return intForColumnIndex(columnIndexForName(name)); }
    std::int64_t longForColumn(std::string_view name) {
        return longForColumnIndex(columnIndexForName(name));
    }
    std::int64_t longLongIntForColumn(std::string_view name) { return longForColumn(name); }
    std::uint64_t unsignedLongLongIntForColumn(std::string_view name) {
        return unsignedLongLongIntForColumnIndex(columnIndexForName(name));
    }
    bool boolForColumn(std::string_view name) {
        return boolForColumnIndex(columnIndexForName(name));
    }
    double doubleForColumn(std::string_view name) {
        return doubleForColumnIndex(columnIndexForName(name));
    }
    std::optional<std::string> stringForColumn(std::string_view name) {
        return stringForColumnIndex(columnIndexForName(name));
    }
    // The text, or "" when there is none.
    std::string safeStringForColumn(std::string_view name) {
        return stringForColumn(name).value_or(std::string());
    }
    std::optional<foundation::Data> dataForColumn(std::string_view name) {
        return dataForColumnIndex(columnIndexForName(name));
    }
    std::optional<std::span<const std::uint8_t>> dataNoCopyForColumn(std::string_view name) {
        return dataNoCopyForColumnIndex(columnIndexForName(name));
    }
    std::optional<foundation::Date> dateForColumn(std::string_view name) {
        return dateForColumnIndex(columnIndexForName(name));
    }
    bool columnIsNull(std::string_view name) { return columnIndexIsNull(columnIndexForName(name)); }
    const char* UTF8StringForColumn(std::string_view name) {
        return UTF8StringForColumnIndex(columnIndexForName(name));
    }
    const char* UTF8StringForColumnName(std::string_view name) { return UTF8StringForColumn(name); }
    foundation::Value objectForColumn(std::string_view name) {
        return objectForColumnIndex(columnIndexForName(name));
    }
    foundation::Value objectForColumnName(std::string_view name) { return objectForColumn(name); }
    foundation::Value operator[](std::string_view name) { return objectForColumn(name); }

    // Every column's name (as SQLite gives it) to its value; nullopt when the row has no
    // data. resultDict keys by the lower-cased names instead.
    std::optional<foundation::Dictionary> resultDictionary() const;
    std::optional<foundation::Dictionary> resultDict();
    // Hands each column whose text is not null to the setter, under the column's name.
    void kvcMagic(
        const std::function<void(const std::string&, const std::string&)>& setValue) const;

    const std::shared_ptr<SqlDatabase>& parentDB() const { return parentDB_; }
    void setParentDB(std::shared_ptr<SqlDatabase> parentDB) { parentDB_ = std::move(parentDB); }
    const std::optional<std::string>& query() const { return query_; }
    void setQuery(std::optional<std::string> query) { query_ = std::move(query); }
    const std::shared_ptr<SqlStatement>& statement() const { return statement_; }
    void setStatement(std::shared_ptr<SqlStatement> statement) {
        statement_ = std::move(statement);
    }

private:
    SqlResultSet() = default;
    sqlite3_stmt* handle() const;
    // The shared guard of the text, data and date reads: a position inside the row whose
    // value is not NULL.
    bool readable(int index) const;

    std::optional<std::map<std::string, int, std::less<>>> columnNameToIndexMap_;
    std::shared_ptr<SqlDatabase> parentDB_;
    std::optional<std::string> query_;
    std::shared_ptr<SqlStatement> statement_;
};
