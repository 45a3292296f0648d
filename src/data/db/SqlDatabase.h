#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "data/db/SqlResultSet.h"
#include "foundation/Error.h"
#include "foundation/Url.h"
#include "foundation/Value.h"

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;
struct memimagevfs_db;

class SqlDateFormatter;
class SqlResultSet;
class SqlStatement;

// One SQLite connection: a database file named by a path, or a database image held in
// memory (databaseWithData). It prepares queries, binds their arguments and hands out
// forward-only result sets; it keeps SQLite's last error for its callers and reports its
// failures on the console. It has no thread and no lock: one thread uses it at a time.
//
// Connections live in shared pointers: each open result set holds its connection until the
// result set closes, while the connection only knows its open result sets by address.
class SqlDatabase : public std::enable_shared_from_this<SqlDatabase> {
public:
    using Value = foundation::Value;
    using Array = foundation::Array;
    using Dictionary = foundation::Dictionary;
    using Error = foundation::Error;
    using ResultSet = std::shared_ptr<SqlResultSet>;
    // An SQL function body: the call's context and its arguments.
    using FunctionBlock = std::function<void(sqlite3_context*, int, sqlite3_value**)>;

    // A connection that is not open; no file is touched. A missing path opens SQLite's
    // private in-memory database, an empty one its private temporary database.
    static std::shared_ptr<SqlDatabase> databaseWithPath(std::optional<std::string> path);
    static std::shared_ptr<SqlDatabase> databaseWithURL(const foundation::Url& url);
    static std::shared_ptr<SqlDatabase> create() { return databaseWithPath(std::nullopt); }
    ~SqlDatabase();
    SqlDatabase(const SqlDatabase&) = delete;
    SqlDatabase& operator=(const SqlDatabase&) = delete;

    // --- opening and closing ------------------------------------------------------------
    // True on success or when a handle is already held. A failed open keeps SQLite's error
    // code and text (lastErrorCode, lastErrorMessage), holds no handle, and may be retried.
    bool open();
    bool openWithFlags(int flags);
    bool openWithFlags(int flags, const std::optional<std::string>& vfsName);
    // Closes the open result sets first; always true.
    bool close();

    // --- queries ------------------------------------------------------------------------
    // One argument for each "?" of the statement, in order; nullptr when the connection is
    // not open, in use, the text does not compile, or too few arguments were given.
    template <typename... Args>
    ResultSet executeQuery(std::string_view sql, Args&&... args) {
        return executeQueryWithArgumentsInArray(sql, Array{Value(std::forward<Args>(args))...});
    }
    ResultSet executeQueryWithArgumentsInArray(std::string_view sql, const Array& arguments);
    ResultSet executeQueryValuesError(std::string_view sql, const Array& values, Error* error);
    // Binds each key to the parameter named ":key".
    ResultSet executeQueryWithParameterDictionary(std::string_view sql,
                                                  const Dictionary& arguments);
    // Each printf-style conversion of the format becomes "?" bound to its argument.
    template <typename... Args>
    ResultSet executeQueryWithFormat(std::string_view format, Args&&... args) {
        std::string sql;
        Array bound;
        extractSQL(format, Array{Value(std::forward<Args>(args))...}, sql, bound);
        return executeQueryWithArgumentsInArray(sql, bound);
    }

    // --- updates (prepare, bind, step once) ---------------------------------------------
    template <typename... Args>
    bool executeUpdate(std::string_view sql, Args&&... args) {
        return executeUpdateWithArgumentsInArray(sql, Array{Value(std::forward<Args>(args))...});
    }
    bool executeUpdateWithArgumentsInArray(std::string_view sql, const Array& arguments);
    bool executeUpdateValuesError(std::string_view sql, const Array& values, Error* error);
    bool executeUpdateWithParameterDictionary(std::string_view sql, const Dictionary& arguments);
    template <typename... Args>
    bool executeUpdateWithErrorAndBindings(Error* error, std::string_view sql, Args&&... args) {
        return executeUpdateValuesError(sql, Array{Value(std::forward<Args>(args))...}, error);
    }
    template <typename... Args>
    bool updateWithErrorAndBindings(std::string_view sql, Error* error, Args&&... args) {
        return executeUpdateValuesError(sql, Array{Value(std::forward<Args>(args))...}, error);
    }
    template <typename... Args>
    bool executeUpdateWithFormat(std::string_view format, Args&&... args) {
        std::string sql;
        Array bound;
        extractSQL(format, Array{Value(std::forward<Args>(args))...}, sql, bound);
        return executeUpdateWithArgumentsInArray(sql, bound);
    }
    // Runs a text of several statements. The block gets each result row (column name to
    // text, or null); a non-zero answer aborts.
    bool executeStatements(std::string_view sql);
    bool executeStatementsWithResultBlock(std::string_view sql,
                                          const std::function<int(const Dictionary&)>& block);

    // Turns a printf-style format into SQL with "?" for each conversion and collects the
    // arguments to bind; a nil argument of "%@" is written as NULL into the text.
    static void extractSQL(std::string_view format, const Array& arguments, std::string& sql,
                           Array& bound);

    // --- transactions and savepoints ----------------------------------------------------
    bool beginTransaction();
    bool beginDeferredTransaction();
    bool commit();
    bool rollback();
    bool inTransaction() const { return isInTransaction_; }
    bool isInTransaction() const { return isInTransaction_; }
    bool startSavePointWithNameError(const std::string& name, Error* error);
    bool releaseSavePointWithNameError(const std::string& name, Error* error);
    bool rollbackToSavePointWithNameError(const std::string& name, Error* error);
    // Runs the block inside a savepoint; the block sets its flag to roll back. Gives the
    // error of the last savepoint operation.
    std::optional<Error> inSavePoint(const std::function<void(bool& rollback)>& block);

    // --- errors -------------------------------------------------------------------------
    // True exactly when the last code is an error (1 to 99); row and done are not errors.
    bool hadError() const;
    int lastErrorCode() const;
    int lastExtendedErrorCode() const;
    std::string lastErrorMessage() const;
    Error lastError() const;
    Error errorWithMessage(std::string message) const;
    bool logsErrors() const { return logsErrors_; }
    void setLogsErrors(bool logs) { logsErrors_ = logs; }

    // --- statement cache ----------------------------------------------------------------
    bool shouldCacheStatements() const { return shouldCacheStatements_; }
    void setShouldCacheStatements(bool value);
    std::shared_ptr<SqlStatement> cachedStatementForQuery(std::string_view query);
    void setCachedStatementForQuery(const std::shared_ptr<SqlStatement>& statement,
                                    const std::string& query);
    void clearCachedStatements();
    // Found by the query's text without copying it.
    using StatementCache =
        std::map<std::string, std::vector<std::shared_ptr<SqlStatement>>, std::less<>>;
    const StatementCache& cachedStatements() const { return cachedStatements_; }

    // --- connection state ---------------------------------------------------------------
    bool interrupt();
    bool goodConnection();
    std::int64_t lastInsertRowId();
    int changes();
    // No database encryption is available: these answer false.
    bool setKey(std::string_view key);
    bool setKeyWithData(const foundation::Data& key);
    bool rekey(std::string_view key);
    bool rekeyWithData(const foundation::Data& key);

    // --- dates --------------------------------------------------------------------------
    // A formatter for the pattern in GMT and the "en_US" locale; once set on a connection,
    // dates are bound and read as its text.
    static std::shared_ptr<SqlDateFormatter> storeableDateFormat(const std::string& pattern);
    void setDateFormat(std::shared_ptr<SqlDateFormatter> formatter);
    bool hasDateFormatter() const { return dateFormat_ != nullptr; }
    std::optional<foundation::Date> dateFromString(std::string_view text) const;
    std::optional<std::string> stringFromDate(foundation::Date date) const;
    const std::shared_ptr<SqlDateFormatter>& dateFormat() const { return dateFormat_; }

    // --- SQL functions ------------------------------------------------------------------
    void makeFunctionNamedArgumentsBlock(const std::string& name, int arguments,
                                         FunctionBlock block);
    void makeFunctionNamedMaximumArgumentsWithBlock(const std::string& name, int arguments,
                                                    FunctionBlock block);
    // SQLite's value and result calls, for use inside such a function.
    static int valueType(sqlite3_value* value);
    static int valueInt(sqlite3_value* value);
    static std::int64_t valueLong(sqlite3_value* value);
    static double valueDouble(sqlite3_value* value);
    static std::optional<foundation::Data> valueData(sqlite3_value* value);
    static std::optional<std::string> valueString(sqlite3_value* value);
    static void resultNullInContext(sqlite3_context* context);
    static void resultIntContext(int value, sqlite3_context* context);
    static void resultLongContext(std::int64_t value, sqlite3_context* context);
    static void resultDoubleContext(double value, sqlite3_context* context);
    static void resultDataContext(const foundation::Data& value, sqlite3_context* context);
    static void resultStringContext(std::string_view value, sqlite3_context* context);
    static void resultErrorContext(std::string_view message, sqlite3_context* context);
    static void resultErrorCodeContext(int code, sqlite3_context* context);
    static void resultErrorNoMemoryInContext(sqlite3_context* context);
    static void resultErrorTooBigInContext(sqlite3_context* context);

    // --- additions: schema and one-value queries ----------------------------------------
    bool tableExists(std::string_view tableName);
    // One row per column of the table (cid, name, type, notnull, dflt_value, pk).
    ResultSet getTableSchema(std::string_view tableName);
    bool columnExistsInTableWithName(std::string_view columnName, std::string_view tableName);
    bool columnExistsColumnName(std::string_view tableName, std::string_view columnName) {
        return columnExistsInTableWithName(columnName, tableName);
    }
    ResultSet getSchema();
    template <typename... Args>
    std::optional<std::string> stringForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readString);
    }
    template <typename... Args>
    int intForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readInt);
    }
    template <typename... Args>
    std::int64_t longForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readLong);
    }
    template <typename... Args>
    bool boolForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readBool);
    }
    template <typename... Args>
    double doubleForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readDouble);
    }
    template <typename... Args>
    std::optional<foundation::Data> dataForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readData);
    }
    template <typename... Args>
    std::optional<foundation::Date> dateForQuery(std::string_view sql, Args&&... args) {
        return firstValue(executeQuery(sql, std::forward<Args>(args)...), &readDate);
    }
    std::uint32_t applicationID();
    void setApplicationID(std::uint32_t identifier);
    // The identifier as a four-character code in single quotes ("'abcd'").
    std::string applicationIDString();
    void setApplicationIDString(std::string_view code);
    std::uint32_t userVersion();
    void setUserVersion(std::uint32_t version);
    // Compiles the text without running it; the error is in the Cocoa domain.
    bool validateSQLError(std::string_view sql, Error* error);

    // --- library ------------------------------------------------------------------------
    static bool isSQLiteThreadSafe();
    static std::string sqliteLibVersion();
    // This layer's own version, as text and as a number (0x272).
    static std::string layerVersion();
    static std::uint32_t layerVersionNumber();

    // --- accessors ----------------------------------------------------------------------
    sqlite3* sqliteHandle() const { return db_; }
    const std::optional<std::string>& databasePath() const { return databasePath_; }
    std::optional<foundation::Url> databaseURL() const;
    // The name handed to SQLite: ":memory:" without a path, "" for an empty one.
    std::string sqlitePath() const;
    double maxBusyRetryTimeInterval() const { return maxBusyRetryTimeInterval_; }
    void setMaxBusyRetryTimeInterval(double seconds);
    // Replaced by the busy interval: they only say so on the console.
    int busyRetryTimeout();
    void setBusyRetryTimeout(int timeout);
    bool hasOpenResultSets() const { return !openResultSets_.empty(); }
    // True with a handle; otherwise logs that the connection is not open.
    bool databaseExists() const;
    void warnInUse() const;
    void resultSetDidClose(SqlResultSet* resultSet);
    // Binds one value at a position counted from 1.
    void bindObjectToColumnInStatement(const Value& object, int index, sqlite3_stmt* statement);
    bool traceExecution() const { return traceExecution_; }
    void setTraceExecution(bool value) { traceExecution_ = value; }
    bool checkedOut() const { return checkedOut_; }
    void setCheckedOut(bool value) { checkedOut_ = value; }
    bool crashOnErrors() const { return crashOnErrors_; }
    void setCrashOnErrors(bool value) { crashOnErrors_ = value; }
    // "<SqlDatabase: 0x...>"
    std::string description() const;

    // --- databases held in memory -------------------------------------------------------
    // Opens a private copy of the image read-only; nullptr when SQLite refuses it or the
    // image is larger than an SQLite database can be. The caller's bytes never change.
    static std::shared_ptr<SqlDatabase> databaseWithData(const foundation::Data& image);
    // The flags are not used.
    bool openWithDataFlags(const foundation::Data& image, int flags);
    // Closes a connection over an image and frees the image; for other connections the
    // same as close. False only when SQLite stays busy.
    bool closeEx();
    bool useVFS() const { return useVFS_; }
    void setUseVFS(bool value) { useVFS_ = value; }
    memimagevfs_db* vfsPointer() const { return vfsPointer_; }
    void setVfsPointer(memimagevfs_db* pair) { vfsPointer_ = pair; }

private:
    explicit SqlDatabase(std::optional<std::string> path);

    // Checks, compiles (or takes from the cache) and binds; on failure nullptr and the
    // logging of the query path. Leaves isExecutingStatement_ set on success.
    std::shared_ptr<SqlStatement> prepareAndBind(std::string_view sql, const Array* arguments,
                                                 const Dictionary* dictionary,
                                                 const char* operation, bool& fromCache);
    // Wraps a prepared statement (nullptr gives nullptr) in a result set this database tracks.
    ResultSet resultSetForStatement(const std::shared_ptr<SqlStatement>& statement,
                                    std::string_view sql);
    bool runUpdate(std::string_view sql, const Array* arguments, const Dictionary* dictionary,
                   Error* error);
    bool openHandle(int flags, const char* vfsName, bool useV2);
    static int busyHandler(void* context, int count);
    void closeOpenResultSets();

    static std::optional<std::string> readString(SqlResultSet& rs);
    static int readInt(SqlResultSet& rs);
    static std::int64_t readLong(SqlResultSet& rs);
    static bool readBool(SqlResultSet& rs);
    static double readDouble(SqlResultSet& rs);
    static std::optional<foundation::Data> readData(SqlResultSet& rs);
    static std::optional<foundation::Date> readDate(SqlResultSet& rs);
    template <typename Read>
    static auto firstValue(const ResultSet& rs, Read read) -> decltype(read(*rs));

    sqlite3* db_ = nullptr;
    bool isExecutingStatement_ = false;
    double startBusyRetryTime_ = 0;
    std::set<SqlResultSet*> openResultSets_;
    std::vector<std::unique_ptr<FunctionBlock>> openFunctions_;
    std::shared_ptr<SqlDateFormatter> dateFormat_;
    bool shouldCacheStatements_ = false;
    bool traceExecution_ = false;
    bool checkedOut_ = false;
    bool crashOnErrors_ = false;
    bool logsErrors_ = true;
    bool isInTransaction_ = false;
    double maxBusyRetryTimeInterval_ = 2.0;
    StatementCache cachedStatements_;
    std::optional<std::string> databasePath_;
    // SQLite's answer to the last failed open, kept after its handle is closed.
    int openErrorCode_ = 0;
    std::string openErrorMessage_;
    bool useVFS_ = false;
    memimagevfs_db* vfsPointer_ = nullptr;
};

template <typename Read>
auto SqlDatabase::firstValue(const ResultSet& rs, Read read) -> decltype(read(*rs)) {
    if (!rs) return {};
    decltype(read(*rs)) value{};
    if (rs->next()) value = read(*rs);
    rs->close();
    return value;
}
