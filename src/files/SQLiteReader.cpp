#include "files/SQLiteReader.h"

#include <exception>
#include <functional>
#include <utility>

#include "data/db/SqlDatabase.h"
#include "data/db/SqlResultSet.h"
#include "files/RequestArguments.h"
#include "foundation/Base64.h"
#include "foundation/Error.h"
#include "logging/LogCall.h"

using foundation::Value;

namespace {


Value failure(const char* reason) { return Value::dict({{"result", false}, {"reason", reason}}); }

Value pageValue(const Value& value) {
    if (const auto* bytes = value.data()) return foundation::base64::encode(*bytes);
    if (value.isNil() || value.kind() == Value::Kind::Null) return "";
    return value;
}

std::string descriptionOf(const std::exception& exception) {
    if (const auto* named = dynamic_cast<const foundation::NamedException*>(&exception))
        return named->reason();
    return exception.what();
}

}  // namespace

SQLiteReader::SQLiteReader(std::shared_ptr<SqlDatabase> db) : db_(std::move(db)) {}

std::shared_ptr<SqlDatabase> SQLiteReader::db() const {
    std::lock_guard lock(mutex_);
    return db_;
}

void SQLiteReader::setDb(std::shared_ptr<SqlDatabase> db) {
    std::lock_guard lock(mutex_);
    db_ = std::move(db);
}

Value columns_of_table(SqlDatabase& db, const std::string& table) {
    Value columns = foundation::Array{};
    try {
        // Bound, not spliced: a table name is data from the page.
        auto results = db.executeQuery("SELECT * FROM pragma_table_info(?)", table);
        if (!results) return columns;
        while (results->next()) {
            const auto defaultValue = results->stringForColumn("dflt_value");
            columns.append(Value::dict({
                {"cid", static_cast<std::int64_t>(results->intForColumn("cid"))},
                {"name", results->safeStringForColumn("name")},
                {"type", results->safeStringForColumn("type")},
                {"notnull", static_cast<std::int64_t>(results->intForColumn("notnull"))},
                {"dflt_value", defaultValue ? Value(*defaultValue) : Value::null()},
                {"pk", results->longLongIntForColumn("pk")},
            }));
        }
        results->close();
    } catch (const std::exception& exception) {
        LogError("{}", descriptionOf(exception));
    }
    return columns;
}

void row_of_query(SqlDatabase& db, const std::string& sql, bool fullInfo,
                  const std::function<void(Value)>& row) {
    auto results = db.executeQuery(sql);
    if (!results) {
        if (db.hadError()) throw foundation::NamedException("SQL Exception", db.lastErrorMessage());
        return;
    }
    while (results->next()) {
        Value current = fullInfo ? Value(foundation::Array{}) : Value(foundation::Dictionary{});
        for (int column = 0; column < results->columnCount(); ++column) {
            const std::string name = results->columnNameForIndex(column);
            const Value value = pageValue(results->objectForColumnIndex(column));
            if (fullInfo) {
                current.append(Value::dict({{"name", name},
                                            {"value", value},
                                            {"type", static_cast<std::int64_t>(results->columnType(column))}}));
            } else {
                current.set(name, value);
            }
        }
        row(std::move(current));
    }
    // A step can fail too (a refused write, a damaged page): that is no empty result.
    const bool failed = db.hadError();
    results->close();
    if (failed) throw foundation::NamedException("SQL Exception", db.lastErrorMessage());
}

Value SQLiteReader::allTables(const Value& params) {
    const auto database = db();
    if (!database || !database->open()) return failure("Failed to open sqlite");
    const bool wantInfo = RequestArguments::flag(params["tableinfo"]).value_or(false);
    Value tables = foundation::Array{};
    Value info = foundation::Dictionary{};
    auto results = database->executeQuery("SELECT * FROM sqlite_master WHERE type='table';");
    // A file that is no database must not read as an empty one.
    if (!results && database->hadError())
        return Value::dict({{"result", false}, {"reason", database->lastErrorMessage()}});
    while (results && results->next()) {
        const std::string name = results->safeStringForColumn("tbl_name");
        tables.append(name);
        if (wantInfo) info.set(name, columns_of_table(*database, name));
    }
    if (results) results->close();
    Value answer = Value::dict({{"result", true}, {"tables", tables}});
    if (wantInfo) answer.set("info", info);
    return answer;
}

Value SQLiteReader::columnsOfTable(const Value& table) {
    if (!table.string() && !table.array()) return failure("no table specified");
    const auto database = db();
    if (!database || !database->open()) return failure("failed to open sqlite.");
    Value info = foundation::Dictionary{};
    if (const auto* name = table.string()) {
        info.set(*name, columns_of_table(*database, *name));
    } else {
        for (const Value& entry : *table.array()) {
            if (const auto* name = entry.string()) info.set(*name, columns_of_table(*database, *name));
        }
    }
    return Value::dict({{"result", true}, {"info", info}});
}

Value SQLiteReader::query(const Value& params) {
    const auto database = db();
    if (!database || !database->open()) return failure("failed to open sqlite.");
    const bool fullInfo = RequestArguments::flag(params["fullinfo"]).value_or(false);
    const Value& query = params["query"];
    if (const auto* sql = query.string()) {
        Value rows = foundation::Array{};
        row_of_query(*database, *sql, fullInfo, [&](Value row) { rows.append(std::move(row)); });
        return Value::dict({{"result", true}, {"rows", rows}});
    }
    if (const auto* queries = query.array()) {
        Value keyed = foundation::Dictionary{};
        for (const Value& entry : *queries) {
            const std::string key = entry["key"].stringOr();
            const std::string sql = entry["sql"].stringOr();
            if (key.empty() || sql.empty())
                throw foundation::NamedException("Query Error", "Missing key or sql");
            Value rows = foundation::Array{};
            Value result;
            try {
                row_of_query(*database, sql, fullInfo, [&](Value row) { rows.append(std::move(row)); });
            } catch (const std::exception& exception) {
                result.set("error", descriptionOf(exception));
            }
            result.set("rows", rows);
            keyed.set(key, result);
        }
        return Value::dict({{"result", true}, {"rows", keyed}});
    }
    return Value::dict({{"result", true}, {"rows", foundation::Array{}}});
}
