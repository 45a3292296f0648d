#include "media/ArtworkPathLookup.h"

#include <sqlite3.h>

#include "data/db/SqlDatabase.h"
#include "foundation/Utf8.h"
#include "logging/LogCall.h"

namespace media {

ArtworkPathLookup::ArtworkPathLookup(SqlDatabase& db, std::string_view query) {
    sqlite3* handle = db.sqliteHandle();
    if (handle == nullptr) return;
    if (sqlite3_prepare_v2(handle, query.data(), static_cast<int>(query.size()), &statement_,
                           nullptr) != SQLITE_OK) {
        LogInfo("No artwork paths: {}", sqlite3_errmsg(handle));
        end();
    }
}

ArtworkPathLookup::~ArtworkPathLookup() {
    end();
}

void ArtworkPathLookup::end() {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
}

std::optional<std::string> ArtworkPathLookup::pathFor(std::int64_t value) {
    if (statement_ == nullptr) return std::nullopt;
    sqlite3_bind_int64(statement_, 1, value);
    std::optional<std::string> path;
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) {
        if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, 0))) {
            const std::string_view view(
                text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, 0)));
            if (foundation::utf8::isValid(view)) path.emplace(view);
        }
    } else if (rc != SQLITE_DONE) {
        LogInfo("No more artwork paths: {}", sqlite3_errstr(rc));
        end();
        return path;
    }
    sqlite3_reset(statement_);
    return path;
}

}  // namespace media
