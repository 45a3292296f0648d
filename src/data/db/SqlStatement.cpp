#include "data/db/SqlStatement.h"

#include <sqlite3.h>

#include <fmt/format.h>

#include "data/db/SqlConsole.h"

SqlStatement::~SqlStatement() {
    close();
}

void SqlStatement::close() {
    if (statement_ != nullptr) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
    inUse_ = false;
}

void SqlStatement::reset() {
    if (statement_ != nullptr) sqlite3_reset(statement_);
    inUse_ = false;
}

std::string SqlStatement::description() const {
    return fmt::format("<SqlStatement: {}> {} hit(s) for query {}", static_cast<const void*>(this),
                       useCount_, sqlconsole::describe(query_));
}
