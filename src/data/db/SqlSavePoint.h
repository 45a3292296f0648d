#pragma once

#include <functional>
#include <optional>
#include <string>

#include "foundation/Error.h"

class SqlDatabase;

// Runs the block inside the named savepoint: rolls back to it when the block sets its flag,
// then releases it. Gives the error of the last savepoint operation, or nullopt.
std::optional<foundation::Error> runInSavePoint(SqlDatabase& db, const std::string& name,
                                                const std::function<void(bool& rollback)>& block);
