// Schema questions, one-value queries, connection state and dates of SqlDatabase.

#include <sqlite3.h>

#include "data/db/SqlConsole.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlDateFormatter.h"
#include "data/db/SqlLowerCase.h"

// --- schema --------------------------------------------------------------------------------

bool SqlDatabase::tableExists(std::string_view tableName) {
    const std::string lower = sqltext::lowerCased(tableName);
    auto rs = executeQuery(
        "select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?", lower);
    if (!rs) return false;
    const bool found = rs->next();
    rs->close();
    return found;
}

SqlDatabase::ResultSet SqlDatabase::getTableSchema(std::string_view tableName) {
    // The name is bound, never spliced into the text: any table name is safe to ask about.
    return executeQuery("SELECT * FROM pragma_table_info(?)", std::string(tableName));
}

bool SqlDatabase::columnExistsInTableWithName(std::string_view columnName,
                                              std::string_view tableName) {
    const std::string column = sqltext::lowerCased(columnName);
    auto rs = getTableSchema(sqltext::lowerCased(tableName));
    if (!rs) return false;
    while (rs->next()) {
        if (sqltext::lowerCased(rs->safeStringForColumn("name")) == column) {
            rs->close();
            return true;
        }
    }
    return false;
}

SqlDatabase::ResultSet SqlDatabase::getSchema() {
    return executeQuery(
        "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL "
        "SELECT * FROM sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' "
        "ORDER BY tbl_name, type DESC, name");
}

bool SqlDatabase::validateSQLError(std::string_view sql, Error* error) {
    const std::string text(sql);
    sqlite3_stmt* stmt = nullptr;
    const int rc =
        db_ != nullptr ? sqlite3_prepare_v2(db_, text.c_str(), -1, &stmt, nullptr) : SQLITE_MISUSE;
    const bool valid = rc == SQLITE_OK;
    if (!valid && error != nullptr) {
        *error = Error{"NSCocoaErrorDomain", lastErrorCode(), lastErrorMessage(), {}};
    }
    sqlite3_finalize(stmt);
    return valid;
}

// --- one-value queries -----------------------------------------------------------------------

std::optional<std::string> SqlDatabase::readString(SqlResultSet& rs) {
    return rs.stringForColumnIndex(0);
}
int SqlDatabase::readInt(SqlResultSet& rs) {
    return rs.intForColumnIndex(0);
}
std::int64_t SqlDatabase::readLong(SqlResultSet& rs) {
    return rs.longForColumnIndex(0);
}
bool SqlDatabase::readBool(SqlResultSet& rs) {
    return rs.boolForColumnIndex(0);
}
double SqlDatabase::readDouble(SqlResultSet& rs) {
    return rs.doubleForColumnIndex(0);
}
std::optional<foundation::Data> SqlDatabase::readData(SqlResultSet& rs) {
    return rs.dataForColumnIndex(0);
}
std::optional<foundation::Date> SqlDatabase::readDate(SqlResultSet& rs) {
    return rs.dateForColumnIndex(0);
}

std::uint32_t SqlDatabase::applicationID() {
    return static_cast<std::uint32_t>(longForQuery("pragma application_id"));
}

void SqlDatabase::setApplicationID(std::uint32_t identifier) {
    executeUpdate(fmt::format("pragma application_id={}", static_cast<std::int32_t>(identifier)));
}

std::string SqlDatabase::applicationIDString() {
    const std::uint32_t code = applicationID();
    std::string text = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        text.push_back(static_cast<char>((code >> shift) & 0xFF));
    }
    text.push_back('\'');
    return text;
}

void SqlDatabase::setApplicationIDString(std::string_view code) {
    if (code.size() != 4) {
        sqlconsole::print(
            "setApplicationIDString: string passed is not exactly 4 chars long. (was {})",
            code.size());
    }
    // A code of another length has no four-character form and stores 0.
    std::uint32_t identifier = 0;
    if (code.size() == 4) {
        for (char c : code) identifier = (identifier << 8) | static_cast<unsigned char>(c);
    }
    setApplicationID(identifier);
}

std::uint32_t SqlDatabase::userVersion() {
    return static_cast<std::uint32_t>(longForQuery("pragma user_version"));
}

void SqlDatabase::setUserVersion(std::uint32_t version) {
    executeUpdate(fmt::format("pragma user_version = {}", static_cast<std::int32_t>(version)));
}

// --- connection state ------------------------------------------------------------------------

bool SqlDatabase::interrupt() {
    if (db_ == nullptr) return false;
    sqlite3_interrupt(db_);
    return true;
}

bool SqlDatabase::goodConnection() {
    if (db_ == nullptr) return false;
    auto rs = executeQuery("select name from sqlite_master where type='table'");
    if (!rs) return false;
    rs->close();
    return true;
}

std::int64_t SqlDatabase::lastInsertRowId() {
    if (isExecutingStatement_) {
        warnInUse();
        return 0;
    }
    return db_ != nullptr ? sqlite3_last_insert_rowid(db_) : 0;
}

int SqlDatabase::changes() {
    if (isExecutingStatement_) {
        warnInUse();
        return 0;
    }
    return db_ != nullptr ? sqlite3_changes(db_) : 0;
}

bool SqlDatabase::setKey(std::string_view key) {
    return setKeyWithData(foundation::Data(key.begin(), key.end()));
}
bool SqlDatabase::setKeyWithData(const foundation::Data&) {
    return false;
}
bool SqlDatabase::rekey(std::string_view key) {
    return rekeyWithData(foundation::Data(key.begin(), key.end()));
}
bool SqlDatabase::rekeyWithData(const foundation::Data&) {
    return false;
}

// --- dates ---------------------------------------------------------------------------------

std::shared_ptr<SqlDateFormatter> SqlDatabase::storeableDateFormat(const std::string& pattern) {
    return SqlDateFormatter::create(pattern);
}

void SqlDatabase::setDateFormat(std::shared_ptr<SqlDateFormatter> formatter) {
    dateFormat_ = std::move(formatter);
}

std::optional<foundation::Date> SqlDatabase::dateFromString(std::string_view text) const {
    if (!dateFormat_) return std::nullopt;
    return dateFormat_->dateFromString(text);
}

std::optional<std::string> SqlDatabase::stringFromDate(foundation::Date date) const {
    if (!dateFormat_) return std::nullopt;
    return dateFormat_->stringFromDate(date);
}
