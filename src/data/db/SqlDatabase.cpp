#include "data/db/SqlDatabase.h"

#include <sqlite3.h>

#include <cassert>
#include <chrono>
#include <cstdlib>

#include "data/db/MemImageVfs.h"
#include "data/db/SqlConsole.h"
#include "data/db/SqlDateFormatter.h"
#include "data/db/SqlStatement.h"
#include "foundation/Json.h"

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The text a value binds as when it has no column type of its own.
std::string descriptionOf(const foundation::Value& value) {
    if (const std::string* text = value.string()) return *text;
    return foundation::json::write(value);
}

}  // namespace

std::shared_ptr<SqlDatabase> SqlDatabase::databaseWithPath(std::optional<std::string> path) {
    return std::shared_ptr<SqlDatabase>(new SqlDatabase(std::move(path)));
}

std::shared_ptr<SqlDatabase> SqlDatabase::databaseWithURL(const foundation::Url& url) {
    return databaseWithPath(url.filePath().value_or(url.path()));
}

SqlDatabase::SqlDatabase(std::optional<std::string> path) : databasePath_(std::move(path)) {
    // Connections are used from many threads (each its own); SQLite must serialise itself.
    assert(sqlite3_threadsafe() != 0);
}

SqlDatabase::~SqlDatabase() {
    if (useVFS_ && closeEx()) return;
    close();
    // An image whose connection would not close quietly: close() finalized what held it.
    if (vfsPointer_ != nullptr) {
        vfsPointer_->handle = nullptr;
        memimagevfs_close_db(vfsPointer_);
        delete vfsPointer_;
        vfsPointer_ = nullptr;
    }
}

std::string SqlDatabase::description() const {
    return fmt::format("<SqlDatabase: {}>", static_cast<const void*>(this));
}

std::string SqlDatabase::sqlitePath() const {
    if (!databasePath_) return ":memory:";
    return *databasePath_;
}

std::optional<foundation::Url> SqlDatabase::databaseURL() const {
    if (!databasePath_) return std::nullopt;
    return foundation::Url::fromFilePath(*databasePath_);
}

// --- opening and closing -----------------------------------------------------------------

bool SqlDatabase::open() {
    if (db_ != nullptr) return true;
    return openHandle(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr, false);
}

bool SqlDatabase::openWithFlags(int flags) {
    return openWithFlags(flags, std::nullopt);
}

bool SqlDatabase::openWithFlags(int flags, const std::optional<std::string>& vfsName) {
    if (db_ != nullptr) return true;
    return openHandle(flags, vfsName ? vfsName->c_str() : nullptr, true);
}

bool SqlDatabase::openHandle(int flags, const char* vfsName, bool useV2) {
    const std::string name = sqlitePath();
    sqlite3* handle = nullptr;
    const int rc = useV2 ? sqlite3_open_v2(name.c_str(), &handle, flags, vfsName)
                         : sqlite3_open(name.c_str(), &handle);
    if (rc != SQLITE_OK) {
        // Keep SQLite's answer but not its handle, so that a later open tries again.
        openErrorCode_ = rc;
        openErrorMessage_ = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
        sqlite3_close(handle);
        sqlconsole::print("error opening!: {}", rc);
        return false;
    }
    db_ = handle;
    openErrorCode_ = SQLITE_OK;
    openErrorMessage_.clear();
    if (maxBusyRetryTimeInterval_ > 0) setMaxBusyRetryTimeInterval(maxBusyRetryTimeInterval_);
    return true;
}

void SqlDatabase::closeOpenResultSets() {
    const std::set<SqlResultSet*> open = openResultSets_;
    for (SqlResultSet* rs : open) {
        // Detach first: the result set must not call back into a connection mid-close.
        rs->setParentDB(nullptr);
        rs->close();
        openResultSets_.erase(rs);
    }
}

bool SqlDatabase::close() {
    // Detaching result sets drops their hold on this connection; stay alive until done.
    const std::shared_ptr<SqlDatabase> keepAlive = weak_from_this().lock();
    clearCachedStatements();
    closeOpenResultSets();
    if (db_ == nullptr) return true;

    int rc = sqlite3_close(db_);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        bool finalized = false;
        while (sqlite3_stmt* leaked = sqlite3_next_stmt(db_, nullptr)) {
            sqlconsole::line("Closing leaked statement");
            sqlite3_finalize(leaked);
            finalized = true;
        }
        if (finalized) rc = sqlite3_close(db_);
        // Whatever still holds the handle (a backup, a blob), SQLite frees it afterwards.
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) rc = sqlite3_close_v2(db_);
    }
    if (rc != SQLITE_OK) sqlconsole::print("error closing!: {}", rc);
    db_ = nullptr;
    return true;
}

// --- busy handling -------------------------------------------------------------------------

void SqlDatabase::setMaxBusyRetryTimeInterval(double seconds) {
    maxBusyRetryTimeInterval_ = seconds;
    if (db_ == nullptr) return;
    if (seconds > 0) {
        sqlite3_busy_handler(db_, &SqlDatabase::busyHandler, this);
    } else {
        sqlite3_busy_handler(db_, nullptr, nullptr);
    }
}

int SqlDatabase::busyHandler(void* context, int count) {
    auto* self = static_cast<SqlDatabase*>(context);
    if (count == 0) {
        self->startBusyRetryTime_ = monotonicSeconds();
        return 1;
    }
    const double elapsed = monotonicSeconds() - self->startBusyRetryTime_;
    if (self->maxBusyRetryTimeInterval() > elapsed) {
        unsigned int draw = 0;
        sqlite3_randomness(sizeof draw, &draw);
        const int requested = 50 + static_cast<int>(draw % 50);
        const int actual = sqlite3_sleep(requested);
        if (actual != requested) {
            sqlconsole::print(
                "WARNING: Requested sleep of {} milliseconds, but SQLite returned {}. Maybe SQLite "
                "wasn't built with HAVE_USLEEP=1?",
                requested, actual);
        }
        return 1;
    }
    return 0;
}

int SqlDatabase::busyRetryTimeout() {
    sqlconsole::print("{}:{}", "SqlDatabase::busyRetryTimeout", __LINE__);
    sqlconsole::line(
        "SqlDatabase: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
    return -1;
}

void SqlDatabase::setBusyRetryTimeout(int) {
    sqlconsole::print("{}:{}", "SqlDatabase::setBusyRetryTimeout", __LINE__);
    sqlconsole::line(
        "SqlDatabase: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval");
}

// --- state and errors ----------------------------------------------------------------------

bool SqlDatabase::databaseExists() const {
    if (db_ == nullptr) {
        sqlconsole::print("The SqlDatabase {} is not open.", description());
        return false;
    }
    return true;
}

void SqlDatabase::warnInUse() const {
    sqlconsole::print("The SqlDatabase {} is currently in use.", description());
}

void SqlDatabase::resultSetDidClose(SqlResultSet* resultSet) {
    openResultSets_.erase(resultSet);
}

int SqlDatabase::lastErrorCode() const {
    return db_ != nullptr ? sqlite3_errcode(db_) : openErrorCode_;
}

int SqlDatabase::lastExtendedErrorCode() const {
    return db_ != nullptr ? sqlite3_extended_errcode(db_) : openErrorCode_;
}

std::string SqlDatabase::lastErrorMessage() const {
    if (db_ != nullptr) return sqlite3_errmsg(db_);
    if (openErrorCode_ != SQLITE_OK) return openErrorMessage_;
    return sqlite3_errstr(SQLITE_OK);
}

bool SqlDatabase::hadError() const {
    const int code = lastErrorCode();
    return code > SQLITE_OK && code < SQLITE_ROW;
}

foundation::Error SqlDatabase::lastError() const {
    return errorWithMessage(lastErrorMessage());
}

foundation::Error SqlDatabase::errorWithMessage(std::string message) const {
    return foundation::Error{"SqlDatabase", lastErrorCode(), std::move(message), {}};
}

// --- queries -------------------------------------------------------------------------------

void SqlDatabase::bindObjectToColumnInStatement(const Value& object, int index,
                                                sqlite3_stmt* statement) {
    using Kind = Value::Kind;
    switch (object.kind()) {
        case Kind::Nil:
        case Kind::Null:
            sqlite3_bind_null(statement, index);
            return;
        case Kind::Data: {
            // An empty data object is a zero-length blob, not NULL: SQLite needs a pointer.
            static const std::uint8_t kEmpty = 0;
            const foundation::Data& data = *object.data();
            sqlite3_bind_blob64(statement, index, data.empty() ? &kEmpty : data.data(), data.size(),
                                SQLITE_TRANSIENT);
            return;
        }
        case Kind::Date:
            if (dateFormat_) {
                const std::string text = stringFromDate(*object.date()).value_or(std::string());
                sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                    SQLITE_UTF8);
            } else {
                sqlite3_bind_double(statement, index, object.date()->secondsSince1970);
            }
            return;
        case Kind::Boolean:
            sqlite3_bind_int(statement, index, *object.boolean() ? 1 : 0);
            return;
        case Kind::Int64:
            sqlite3_bind_int64(statement, index, *object.int64());
            return;
        case Kind::UInt64:
            // Above the signed range the value keeps its 64 bits.
            sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(*object.uint64()));
            return;
        case Kind::Double:
            sqlite3_bind_double(statement, index, *object.real());
            return;
        default: {
            // Explicit length and a copy: NUL bytes inside the text survive, and the caller's
            // value need not outlive the statement.
            const std::string text = descriptionOf(object);
            sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
            return;
        }
    }
}

std::shared_ptr<SqlStatement> SqlDatabase::prepareAndBind(std::string_view sql,
                                                          const Array* arguments,
                                                          const Dictionary* dictionary,
                                                          const char* operation, bool& fromCache) {
    fromCache = false;
    if (!databaseExists()) return nullptr;
    if (isExecutingStatement_) {
        warnInUse();
        return nullptr;
    }
    isExecutingStatement_ = true;
    if (traceExecution_) sqlconsole::print("{} {}: {}", description(), operation, sql);

    std::shared_ptr<SqlStatement> statement;
    if (shouldCacheStatements_) {
        statement = cachedStatementForQuery(sql);
        if (statement) {
            statement->reset();
            fromCache = true;
        }
    }
    sqlite3_stmt* stmt = statement ? statement->statement() : nullptr;
    // A copy only where a statement is compiled: SQLite reads the text up to its NUL.
    std::string query;
    if (stmt == nullptr) {
        query.assign(sql);
        const int rc = sqlite3_prepare_v2(db_, query.c_str(), -1, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            if (logsErrors_) {
                sqlconsole::print("DB Error: {} \"{}\"", lastErrorCode(), lastErrorMessage());
                sqlconsole::print("DB Query: {}", query);
                sqlconsole::print("DB Path: {}", sqlconsole::describe(databasePath_));
            }
            sqlite3_finalize(stmt);
            isExecutingStatement_ = false;
            return nullptr;
        }
        statement = std::make_shared<SqlStatement>(stmt);
        fromCache = false;
    }

    const int expected = sqlite3_bind_parameter_count(stmt);
    int bound = 0;
    if (dictionary != nullptr) {
        for (const auto& [key, value] : *dictionary) {
            const std::string parameter = ":" + key;
            if (traceExecution_) sqlconsole::print("{} = {}", parameter, descriptionOf(value));
            const int index = sqlite3_bind_parameter_index(stmt, parameter.c_str());
            if (index > 0) {
                bindObjectToColumnInStatement(value, index, stmt);
                ++bound;
            } else {
                sqlconsole::print("Could not find index for {}", key);
            }
        }
    } else if (arguments != nullptr) {
        for (int i = 0; i < expected && static_cast<std::size_t>(i) < arguments->size(); ++i) {
            const Value& value = (*arguments)[static_cast<std::size_t>(i)];
            if (traceExecution_) {
                if (value.isData()) {
                    sqlconsole::print("data: {} bytes", value.data()->size());
                } else {
                    sqlconsole::print("obj: {}", descriptionOf(value));
                }
            }
            bindObjectToColumnInStatement(value, i + 1, stmt);
            ++bound;
        }
    }

    if (bound != expected) {
        if (std::string_view(operation) == "executeUpdate") {
            sqlconsole::print(
                "Error: the bind count ({}) is not correct for the # of variables in the query "
                "({}) ({}) (executeUpdate)",
                bound, expected, sql);
        } else {
            sqlconsole::line(
                "Error: the bind count is not correct for the # of variables (executeQuery)");
        }
        // A cached statement stays cached; a fresh one is finalized with its wrapper.
        statement->reset();
        isExecutingStatement_ = false;
        return nullptr;
    }
    if (!fromCache && shouldCacheStatements_) setCachedStatementForQuery(statement, query);
    return statement;
}

SqlDatabase::ResultSet SqlDatabase::resultSetForStatement(
    const std::shared_ptr<SqlStatement>& statement, std::string_view sql) {
    if (!statement) return nullptr;
    auto rs =
        SqlResultSet::resultSetWithStatementUsingParentDatabase(statement, shared_from_this());
    rs->setQuery(std::string(sql));
    openResultSets_.insert(rs.get());
    statement->setUseCount(statement->useCount() + 1);
    isExecutingStatement_ = false;
    return rs;
}

SqlDatabase::ResultSet SqlDatabase::executeQueryWithArgumentsInArray(std::string_view sql,
                                                                     const Array& arguments) {
    bool fromCache = false;
    auto statement = prepareAndBind(sql, &arguments, nullptr, "executeQuery", fromCache);
    return resultSetForStatement(statement, sql);
}

SqlDatabase::ResultSet SqlDatabase::executeQueryValuesError(std::string_view sql,
                                                            const Array& values, Error* error) {
    auto rs = executeQueryWithArgumentsInArray(sql, values);
    if (!rs && error != nullptr) *error = lastError();
    return rs;
}

SqlDatabase::ResultSet SqlDatabase::executeQueryWithParameterDictionary(
    std::string_view sql, const Dictionary& arguments) {
    bool fromCache = false;
    auto statement = prepareAndBind(sql, nullptr, &arguments, "executeQuery", fromCache);
    return resultSetForStatement(statement, sql);
}

// --- statement cache -------------------------------------------------------------------------

void SqlDatabase::setShouldCacheStatements(bool value) {
    shouldCacheStatements_ = value;
    if (!value) clearCachedStatements();
}

std::shared_ptr<SqlStatement> SqlDatabase::cachedStatementForQuery(std::string_view query) {
    auto found = cachedStatements_.find(query);
    if (found == cachedStatements_.end()) return nullptr;
    for (const auto& statement : found->second) {
        if (!statement->inUse()) return statement;
    }
    return nullptr;
}

void SqlDatabase::setCachedStatementForQuery(const std::shared_ptr<SqlStatement>& statement,
                                             const std::string& query) {
    statement->setQuery(query);
    cachedStatements_[query].push_back(statement);
}

void SqlDatabase::clearCachedStatements() {
    for (auto& [query, statements] : cachedStatements_) {
        for (auto& statement : statements) statement->close();
    }
    cachedStatements_.clear();
}

// --- library -------------------------------------------------------------------------------

bool SqlDatabase::isSQLiteThreadSafe() {
    return sqlite3_threadsafe() != 0;
}

std::string SqlDatabase::sqliteLibVersion() {
    return sqlite3_libversion();
}

std::string SqlDatabase::layerVersion() {
    return "2.7.2";
}

std::uint32_t SqlDatabase::layerVersionNumber() {
    return 0x272;
}
