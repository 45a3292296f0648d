// SQL functions backed by C++ blocks, and SQLite's value and result calls for their bodies.

#include <sqlite3.h>

#include "data/db/SqlDatabase.h"

namespace {

void callBlock(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto* block = static_cast<SqlDatabase::FunctionBlock*>(sqlite3_user_data(context));
    try {
        (*block)(context, argc, argv);
    } catch (const std::exception& e) {
        sqlite3_result_error(context, e.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "function failed", -1);
    }
}

}  // namespace

void SqlDatabase::makeFunctionNamedArgumentsBlock(const std::string& name, int arguments,
                                                  FunctionBlock block) {
    if (!databaseExists()) return;
    // The connection keeps the block alive for as long as SQLite may call it.
    openFunctions_.push_back(std::make_unique<FunctionBlock>(std::move(block)));
    sqlite3_create_function(db_, name.c_str(), arguments, SQLITE_UTF8, openFunctions_.back().get(),
                            &callBlock, nullptr, nullptr);
}

void SqlDatabase::makeFunctionNamedMaximumArgumentsWithBlock(const std::string& name, int arguments,
                                                             FunctionBlock block) {
    makeFunctionNamedArgumentsBlock(name, arguments, std::move(block));
}

int SqlDatabase::valueType(sqlite3_value* value) {
    return sqlite3_value_type(value);
}
int SqlDatabase::valueInt(sqlite3_value* value) {
    return sqlite3_value_int(value);
}
std::int64_t SqlDatabase::valueLong(sqlite3_value* value) {
    return sqlite3_value_int64(value);
}
double SqlDatabase::valueDouble(sqlite3_value* value) {
    return sqlite3_value_double(value);
}

std::optional<foundation::Data> SqlDatabase::valueData(sqlite3_value* value) {
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_value_blob(value));
    if (bytes == nullptr) return std::nullopt;
    return foundation::Data(bytes, bytes + sqlite3_value_bytes(value));
}

std::optional<std::string> SqlDatabase::valueString(sqlite3_value* value) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
}

void SqlDatabase::resultNullInContext(sqlite3_context* context) {
    sqlite3_result_null(context);
}

void SqlDatabase::resultIntContext(int value, sqlite3_context* context) {
    sqlite3_result_int(context, value);
}

void SqlDatabase::resultLongContext(std::int64_t value, sqlite3_context* context) {
    sqlite3_result_int64(context, value);
}

void SqlDatabase::resultDoubleContext(double value, sqlite3_context* context) {
    sqlite3_result_double(context, value);
}

void SqlDatabase::resultDataContext(const foundation::Data& value, sqlite3_context* context) {
    static const std::uint8_t kEmpty = 0;
    sqlite3_result_blob64(context, value.empty() ? &kEmpty : value.data(), value.size(),
                          SQLITE_TRANSIENT);
}

void SqlDatabase::resultStringContext(std::string_view value, sqlite3_context* context) {
    // An empty text still needs a pointer, or SQLite answers NULL.
    sqlite3_result_text64(context, value.empty() ? "" : value.data(), value.size(),
                          SQLITE_TRANSIENT, SQLITE_UTF8);
}

void SqlDatabase::resultErrorContext(std::string_view message, sqlite3_context* context) {
    sqlite3_result_error(context, message.data(), static_cast<int>(message.size()));
}

void SqlDatabase::resultErrorCodeContext(int code, sqlite3_context* context) {
    sqlite3_result_error_code(context, code);
}

void SqlDatabase::resultErrorNoMemoryInContext(sqlite3_context* context) {
    sqlite3_result_error_nomem(context);
}

void SqlDatabase::resultErrorTooBigInContext(sqlite3_context* context) {
    sqlite3_result_error_toobig(context);
}
