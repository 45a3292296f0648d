#include "data/db/SqlSavePoint.h"

#include "data/db/SqlDatabase.h"

std::optional<foundation::Error> runInSavePoint(SqlDatabase& db, const std::string& name,
                                                const std::function<void(bool& rollback)>& block) {
    foundation::Error error;
    if (!db.startSavePointWithNameError(name, &error)) return error;
    bool shouldRollback = false;
    if (block) block(shouldRollback);
    if (shouldRollback) db.rollbackToSavePointWithNameError(name, &error);
    if (!db.releaseSavePointWithNameError(name, &error)) return error;
    return std::nullopt;
}
