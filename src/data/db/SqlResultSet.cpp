#include "data/db/SqlResultSet.h"

#include <sqlite3.h>

#include "data/db/SqlConsole.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlLowerCase.h"
#include "data/db/SqlStatement.h"
#include "foundation/Utf8.h"

std::shared_ptr<SqlResultSet> SqlResultSet::resultSetWithStatementUsingParentDatabase(
    std::shared_ptr<SqlStatement> statement, std::shared_ptr<SqlDatabase> parentDB) {
    if (statement && statement->inUse()) {
        throw foundation::NamedException("NSInternalInconsistencyException",
                                         "Invalid parameter not satisfying: ![statement inUse]");
    }
    std::shared_ptr<SqlResultSet> rs(new SqlResultSet());
    if (statement) statement->setInUse(true);
    rs->statement_ = std::move(statement);
    rs->parentDB_ = std::move(parentDB);
    return rs;
}

SqlResultSet::~SqlResultSet() {
    close();
}

sqlite3_stmt* SqlResultSet::handle() const {
    return statement_ ? statement_->statement() : nullptr;
}

void SqlResultSet::close() {
    if (statement_) {
        statement_->reset();
        statement_.reset();
    }
    if (parentDB_) {
        // Let go of the connection only after it has forgotten us: this may be its last owner.
        std::shared_ptr<SqlDatabase> parent = std::move(parentDB_);
        parentDB_.reset();
        parent->resultSetDidClose(this);
    }
}

bool SqlResultSet::next() {
    return nextWithError(nullptr);
}

bool SqlResultSet::nextWithError(foundation::Error* error) {
    sqlite3_stmt* stmt = handle();
    const int rc = stmt != nullptr ? sqlite3_step(stmt) : SQLITE_MISUSE;
    if (rc == SQLITE_ROW) return true;

    auto message = [&] {
        if (parentDB_) return parentDB_->lastErrorMessage();
        return std::string(sqlite3_errstr(rc));
    };
    auto fillError = [&] {
        if (error == nullptr) return;
        if (parentDB_) {
            *error = parentDB_->lastError();
        } else {
            *error = foundation::Error{"SqlDatabase", rc, "parentDB does not exist", {}};
        }
    };
    if (rc == SQLITE_DONE) {
        // The end of the rows: no error.
    } else if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        sqlconsole::print(
            "{}:{} Database busy ({})", "SqlResultSet::nextWithError", 168,
            parentDB_ ? sqlconsole::describe(parentDB_->databasePath()) : std::string("(null)"));
        sqlconsole::line("Database busy");
        fillError();
    } else if (rc == SQLITE_MISUSE || rc == SQLITE_ERROR) {
        sqlconsole::print("Error calling sqlite3_step ({}: {}) rs", rc, message());
        fillError();
    } else {
        sqlconsole::print("Unknown error calling sqlite3_step ({}: {}) rs", rc, message());
        fillError();
    }
    close();
    return false;
}

bool SqlResultSet::hasAnotherRow() const {
    return parentDB_ && parentDB_->lastErrorCode() == SQLITE_ROW;
}

int SqlResultSet::columnCount() const {
    return sqlite3_column_count(handle());
}

std::string SqlResultSet::columnNameForIndex(int index) const {
    sqlite3_stmt* stmt = handle();
    if (stmt == nullptr) return std::string();
    const char* name = sqlite3_column_name(stmt, index);
    return name != nullptr ? std::string(name) : std::string();
}

int SqlResultSet::columnType(int index) const {
    sqlite3_stmt* stmt = handle();
    // Without a statement there is no value: the same answer SQLite gives outside the row.
    return stmt != nullptr ? sqlite3_column_type(stmt, index) : SQLITE_NULL;
}

const std::map<std::string, int, std::less<>>& SqlResultSet::columnNameToIndexMap() {
    if (!columnNameToIndexMap_) {
        std::map<std::string, int, std::less<>> map;
        const int count = columnCount();
        for (int i = 0; i < count; ++i) map[sqltext::lowerCased(columnNameForIndex(i))] = i;
        columnNameToIndexMap_ = std::move(map);
    }
    return *columnNameToIndexMap_;
}

int SqlResultSet::columnIndexForName(std::string_view name) {
    const auto& map = columnNameToIndexMap();
    // Keys are lower-case: a name found as given needs no lower-casing (the usual case).
    if (auto exact = map.find(name); exact != map.end()) return exact->second;
    const std::string lower = sqltext::lowerCased(name);
    auto found = map.find(lower);
    if (found != map.end()) return found->second;
    sqlconsole::print("Warning: I could not find the column named '{}'.", lower);
    return -1;
}

int SqlResultSet::intForColumnIndex(int index) const {
    return sqlite3_column_int(handle(), index);
}

std::int64_t SqlResultSet::longForColumnIndex(int index) const {
    return sqlite3_column_int64(handle(), index);
}

std::uint64_t SqlResultSet::unsignedLongLongIntForColumnIndex(int index) const {
    return static_cast<std::uint64_t>(longForColumnIndex(index));
}

double SqlResultSet::doubleForColumnIndex(int index) const {
    return sqlite3_column_double(handle(), index);
}

bool SqlResultSet::readable(int index) const {
    if (index < 0 || handle() == nullptr) return false;
    if (columnType(index) == SQLITE_NULL) return false;
    return index < columnCount();
}

std::optional<std::string> SqlResultSet::stringForColumnIndex(int index) const {
    const auto view = stringViewForColumnIndex(index);
    if (!view) return std::nullopt;
    return std::string(*view);
}

std::optional<std::string_view> SqlResultSet::stringViewForColumnIndex(int index) const {
    if (!readable(index)) return std::nullopt;
    sqlite3_stmt* stmt = handle();
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
    if (text == nullptr) return std::nullopt;
    std::string_view view(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
    if (!foundation::utf8::isValid(view)) return std::nullopt;
    return view;
}

std::optional<foundation::Data> SqlResultSet::dataForColumnIndex(int index) const {
    auto bytes = dataNoCopyForColumnIndex(index);
    if (!bytes || bytes->data() == nullptr) return std::nullopt;
    return foundation::Data(bytes->begin(), bytes->end());
}

std::optional<std::span<const std::uint8_t>> SqlResultSet::dataNoCopyForColumnIndex(
    int index) const {
    if (!readable(index)) return std::nullopt;
    sqlite3_stmt* stmt = handle();
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, index));
    if (bytes == nullptr) return std::span<const std::uint8_t>();
    return std::span<const std::uint8_t>(
        bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

std::optional<foundation::Date> SqlResultSet::dateForColumnIndex(int index) const {
    if (!readable(index)) return std::nullopt;
    if (parentDB_ && parentDB_->hasDateFormatter()) {
        auto text = stringForColumnIndex(index);
        if (!text) return std::nullopt;
        return parentDB_->dateFromString(*text);
    }
    return foundation::Date{doubleForColumnIndex(index)};
}

const char* SqlResultSet::UTF8StringForColumnIndex(int index) const {
    if (!readable(index)) return nullptr;
    return reinterpret_cast<const char*>(sqlite3_column_text(handle(), index));
}

foundation::Value SqlResultSet::objectForColumnIndex(int index) const {
    if (index < 0 || index >= columnCount()) return {};
    foundation::Value value;
    switch (columnType(index)) {
        case SQLITE_INTEGER:
            return foundation::Value(longForColumnIndex(index));
        case SQLITE_FLOAT:
            return foundation::Value(doubleForColumnIndex(index));
        case SQLITE_BLOB:
            if (auto data = dataForColumnIndex(index)) value = std::move(*data);
            break;
        default:
            if (auto text = stringForColumnIndex(index)) value = std::move(*text);
            break;
    }
    if (value.isNil()) return foundation::Value::null();
    return value;
}

std::optional<foundation::Dictionary> SqlResultSet::resultDictionary() const {
    if (sqlite3_data_count(handle()) == 0) {
        sqlconsole::line("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    foundation::Dictionary row;
    const int count = columnCount();
    for (int i = 0; i < count; ++i) row[columnNameForIndex(i)] = objectForColumnIndex(i);
    return row;
}

std::optional<foundation::Dictionary> SqlResultSet::resultDict() {
    if (sqlite3_data_count(handle()) == 0) {
        sqlconsole::line("Warning: There seem to be no columns in this set.");
        return std::nullopt;
    }
    foundation::Dictionary row;
    for (const auto& [name, index] : columnNameToIndexMap())
        row[name] = objectForColumnIndex(index);
    return row;
}

void SqlResultSet::kvcMagic(
    const std::function<void(const std::string&, const std::string&)>& setValue) const {
    sqlite3_stmt* stmt = handle();
    const int count = columnCount();
    for (int i = 0; i < count; ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        if (text == nullptr) continue;
        setValue(columnNameForIndex(i),
                 std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
    }
}
