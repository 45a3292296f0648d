// Updates, batches of statements, transactions and savepoints of SqlDatabase.

#include <sqlite3.h>

#include <atomic>

#include "data/db/SqlConsole.h"
#include "data/db/SqlDatabase.h"
#include "data/db/SqlSavePoint.h"
#include "data/db/SqlStatement.h"

bool SqlDatabase::runUpdate(std::string_view sql, const Array* arguments,
                            const Dictionary* dictionary, Error* error) {
    bool fromCache = false;
    auto statement = prepareAndBind(sql, arguments, dictionary, "executeUpdate", fromCache);
    if (!statement) {
        if (error != nullptr) *error = lastError();
        return false;
    }
    sqlite3_stmt* stmt = statement->statement();
    const int rc = sqlite3_step(stmt);
    const bool succeeded = rc == SQLITE_DONE || rc == SQLITE_OK;
    if (logsErrors_ && !succeeded) {
        const std::string message = lastErrorMessage();
        if (rc == SQLITE_ROW) {
            sqlconsole::print("A executeUpdate is being called with a query string '{}'", sql);
        } else if (rc == SQLITE_ERROR) {
            sqlconsole::print("Error calling sqlite3_step ({}: {}) SQLITE_ERROR", rc, message);
        } else if (rc == SQLITE_MISUSE) {
            sqlconsole::print("Error calling sqlite3_step ({}: {}) SQLITE_MISUSE", rc, message);
        } else if (rc == SQLITE_INTERRUPT) {
            sqlconsole::print(
                "Error calling sqlite3_step. Query was interrupted ({}: {}) SQLITE_INTERRUPT", rc,
                message);
        } else {
            sqlconsole::print("Unknown error calling sqlite3_step ({}: {}) eu", rc, message);
        }
        sqlconsole::print("DB Query: {}", sql);
    }
    if (!succeeded && error != nullptr) *error = lastError();

    int closeRc = SQLITE_OK;
    if (fromCache || shouldCacheStatements_) {
        closeRc = sqlite3_reset(stmt);
        statement->setInUse(false);
    } else {
        closeRc = sqlite3_finalize(stmt);
        statement->setStatement(nullptr);
    }
    if (closeRc != SQLITE_OK && logsErrors_) {
        sqlconsole::print("Unknown error finalizing or resetting statement ({}: {})", closeRc,
                          lastErrorMessage());
        sqlconsole::print("DB Query: {}", sql);
    }
    isExecutingStatement_ = false;
    return succeeded;
}

bool SqlDatabase::executeUpdateWithArgumentsInArray(std::string_view sql, const Array& arguments) {
    return runUpdate(sql, &arguments, nullptr, nullptr);
}

bool SqlDatabase::executeUpdateValuesError(std::string_view sql, const Array& values,
                                           Error* error) {
    return runUpdate(sql, &values, nullptr, error);
}

bool SqlDatabase::executeUpdateWithParameterDictionary(std::string_view sql,
                                                       const Dictionary& arguments) {
    return runUpdate(sql, nullptr, &arguments, nullptr);
}

namespace {

struct BatchContext {
    const std::function<int(const foundation::Dictionary&)>* block;
};

int batchRow(void* context, int columns, char** values, char** names) {
    const auto* batch = static_cast<BatchContext*>(context);
    foundation::Dictionary row;
    for (int i = 0; i < columns; ++i) {
        row[names[i]] =
            values[i] != nullptr ? foundation::Value(values[i]) : foundation::Value::null();
    }
    return (*batch->block)(row);
}

}  // namespace

bool SqlDatabase::executeStatements(std::string_view sql) {
    return executeStatementsWithResultBlock(sql, nullptr);
}

bool SqlDatabase::executeStatementsWithResultBlock(
    std::string_view sql, const std::function<int(const Dictionary&)>& block) {
    if (!databaseExists()) return false;
    const std::string text(sql);
    BatchContext context{&block};
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, text.c_str(), block ? &batchRow : nullptr,
                                block ? &context : nullptr, &message);
    if (message != nullptr) {
        if (logsErrors_) sqlconsole::print("Error inserting batch: {}", message);
        sqlite3_free(message);
    }
    return rc == SQLITE_OK;
}

void SqlDatabase::extractSQL(std::string_view format, const Array& arguments, std::string& sql,
                             Array& bound) {
    std::size_t nextArgument = 0;
    auto take = [&]() -> Value {
        if (nextArgument < arguments.size()) return arguments[nextArgument++];
        ++nextArgument;
        return {};
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            sql.push_back(c);
            continue;
        }
        if (format[i + 1] == '%') {
            sql.push_back('%');
            ++i;
            continue;
        }
        // A length modifier (h, l, ll, q) and then the conversion itself.
        std::size_t end = i + 1;
        while (end < format.size() && end < i + 3 &&
               (format[end] == 'h' || format[end] == 'l' || format[end] == 'q')) {
            ++end;
        }
        if (end >= format.size()) {
            sql.append(format.substr(i));
            break;
        }
        const std::string_view modifier = format.substr(i + 1, end - i - 1);
        const char conversion = format[end];
        static constexpr std::string_view kPlain = "@cs";
        static constexpr std::string_view kNumbers = "diDuUfg";
        const bool known =
            (modifier.empty() && (kPlain.find(conversion) != std::string_view::npos ||
                                  kNumbers.find(conversion) != std::string_view::npos)) ||
            ((modifier == "l" || modifier == "ll") && (conversion == 'd' || conversion == 'u')) ||
            (modifier == "q" && (conversion == 'i' || conversion == 'u')) ||
            (modifier == "h" && (conversion == 'i' || conversion == 'u'));
        if (!known) {
            sql.append(format.substr(i, end - i + 1));
            i = end;
            continue;
        }
        Value argument = take();
        if (conversion == '@' && argument.isNil()) {
            sql.append("NULL");
        } else if (conversion == 'c') {
            std::string character;
            if (const std::string* text = argument.string()) {
                character = text->substr(0, 1);
            } else if (auto code = argument.toInt64()) {
                character.push_back(static_cast<char>(*code));
            }
            sql.push_back('?');
            bound.push_back(Value(std::move(character)));
        } else {
            sql.push_back('?');
            bound.push_back(std::move(argument));
        }
        i = end;
    }
}

// --- transactions and savepoints -----------------------------------------------------------

bool SqlDatabase::beginTransaction() {
    const bool ok = executeUpdate("begin exclusive transaction");
    if (ok) isInTransaction_ = true;
    return ok;
}

bool SqlDatabase::beginDeferredTransaction() {
    const bool ok = executeUpdate("begin deferred transaction");
    if (ok) isInTransaction_ = true;
    return ok;
}

bool SqlDatabase::commit() {
    const bool ok = executeUpdate("commit transaction");
    if (ok) isInTransaction_ = false;
    return ok;
}

bool SqlDatabase::rollback() {
    const bool ok = executeUpdate("rollback transaction");
    if (ok) isInTransaction_ = false;
    return ok;
}

namespace {

std::string quotedName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    return out;
}

}  // namespace

bool SqlDatabase::startSavePointWithNameError(const std::string& name, Error* error) {
    const bool ok = executeUpdate(fmt::format("savepoint '{}';", quotedName(name)));
    if (!ok && error != nullptr) *error = lastError();
    return ok;
}

bool SqlDatabase::releaseSavePointWithNameError(const std::string& name, Error* error) {
    const bool ok = executeUpdate(fmt::format("release savepoint '{}';", quotedName(name)));
    if (!ok && error != nullptr) *error = lastError();
    return ok;
}

bool SqlDatabase::rollbackToSavePointWithNameError(const std::string& name, Error* error) {
    const bool ok =
        executeUpdate(fmt::format("rollback transaction to savepoint '{}';", quotedName(name)));
    if (!ok && error != nullptr) *error = lastError();
    return ok;
}

std::optional<foundation::Error> SqlDatabase::inSavePoint(
    const std::function<void(bool& rollback)>& block) {
    static std::atomic<long> savePointCounter{0};
    return runInSavePoint(*this, fmt::format("dbSavePoint{}", savePointCounter.fetch_add(1)),
                          block);
}
