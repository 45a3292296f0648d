#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct sqlite3_stmt;

// Owns one compiled SQLite statement and finalizes it when closed or destroyed. A result
// set uses it while open; the connection's statement cache may keep it for reuse.
class SqlStatement {
public:
    explicit SqlStatement(sqlite3_stmt* statement = nullptr) : statement_(statement) {}
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    // Finalizes the handle (when there is one) and marks the statement unused.
    void close();
    // Rewinds the statement, keeping its bindings, and marks it unused.
    void reset();

    // "<SqlStatement: 0x...> 3 hit(s) for query SELECT ..."
    std::string description() const;

    sqlite3_stmt* statement() const { return statement_; }
    void setStatement(sqlite3_stmt* statement) { statement_ = statement; }
    // Set only while the statement sits in a statement cache.
    const std::optional<std::string>& query() const { return query_; }
    void setQuery(std::optional<std::string> query) { query_ = std::move(query); }
    std::int64_t useCount() const { return useCount_; }
    void setUseCount(std::int64_t count) { useCount_ = count; }
    bool inUse() const { return inUse_; }
    void setInUse(bool inUse) { inUse_ = inUse; }

private:
    sqlite3_stmt* statement_ = nullptr;
    std::optional<std::string> query_;
    std::int64_t useCount_ = 0;
    bool inUse_ = false;
};
