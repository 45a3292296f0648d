#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/Value.h"

class SqlDatabase;

// Browses an SQLite database taken from a device: its tables, their columns, and queries,
// answered as plain values for the page. The reader neither owns nor closes the
// connection; the caller opens it (read-only) and closes it.
//
// Results carry "result" and, on failure, "reason". Rows are {column: value} or, with
// "fullinfo", [{"name", "value", "type"}] in column order; blobs travel as Base64 text and
// NULL as "" (type 5 in the full form).
class SQLiteReader {
public:
    explicit SQLiteReader(std::shared_ptr<SqlDatabase> db);

    std::shared_ptr<SqlDatabase> db() const;
    void setDb(std::shared_ptr<SqlDatabase> db);

    // {"result", "tables"} and, when params["tableinfo"] is true, "info": {table: columns}.
    foundation::Value allTables(const foundation::Value& params);
    // One table name or a list of them: {"result", "info": {table: columns}}.
    foundation::Value columnsOfTable(const foundation::Value& table);
    // params["query"] is one SQL text ({"result", "rows": [...]}; an SQL error throws the
    // named exception "SQL Exception") or a list of {"key", "sql"} ({"result", "rows":
    // {key: {"rows", "error" when it failed}}}; an entry without key or sql throws "Query
    // Error"). Anything else gives no rows.
    foundation::Value query(const foundation::Value& params);

private:
    mutable std::mutex mutex_;
    std::shared_ptr<SqlDatabase> db_;
};

// The column descriptions of one table: {"cid", "name", "type", "notnull", "dflt_value",
// "pk"} each; empty for a table that does not exist. A failure is logged and what was
// gathered is answered.
foundation::Value columns_of_table(SqlDatabase& db, const std::string& table);

// Runs one SQL text and hands each finished row to `row`, in the plain or the full-info
// form; throws the named exception "SQL Exception" with the database's message when the
// statement fails.
void row_of_query(SqlDatabase& db, const std::string& sql, bool fullInfo,
                  const std::function<void(foundation::Value)>& row);
