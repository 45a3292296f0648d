#include "media/DeviceLibraryDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "data/db/SqlDatabase.h"
#include "data/db/SqlResultSet.h"
#include "logging/LogCall.h"

namespace media {

namespace {

constexpr int kInstructionsPerCheck = 1000;
// SQLite's heap for the whole process; set only where no one set a limit before.
constexpr sqlite3_int64 kHeapLimit = sqlite3_int64{512} << 20;

// Every name the library readers select from, expecting a table.
constexpr std::array<std::string_view, 22> kQueriedTables = {
    "item",          "item_extra",      "album_artist",    "item_artist",       "album",
    "composer",      "item_stats",      "item_playback",   "item_artwork",      "container",
    "container_item", "container_items", "base_location",  "genre",             "genre_map",
    "location_kind", "location_kind_map", "avformat_info", "location",          "artwork",
    "artwork_token", "db_info"};

int spend(void* context) {
    auto& budget = *static_cast<LibraryWorkBudget*>(context);
    if (budget.instructionsLeft <= kInstructionsPerCheck) {
        budget.instructionsLeft = 0;
        return 1;
    }
    budget.instructionsLeft -= kInstructionsPerCheck;
    return 0;
}

bool isQueriedTable(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::find(kQueriedTables.begin(), kQueriedTables.end(), name) != kQueriedTables.end();
}

// False when a queried name is anything but a plain table.
bool hasPlainTables(SqlDatabase& db, const std::string& path, const LibraryWorkBudget& budget) {
    auto rows = db.executeQuery("SELECT type, name, sql FROM sqlite_master;");
    if (!rows) return true;  // not a database: the queries fail on their own
    bool plain = true;
    while (plain && rows->next()) {
        const std::string type = rows->safeStringForColumn("type");
        const std::string name = rows->safeStringForColumn("name");
        const std::string sql = rows->safeStringForColumn("sql");
        if (!isQueriedTable(name)) continue;
        if (type != "table" || sqlite3_strnicmp(sql.c_str(), "CREATE VIRTUAL", 14) == 0) {
            LogError("Refusing the media library {}: \"{}\" is a {} where a table belongs", path,
                     name, type == "table" ? "virtual table" : type);
            plain = false;
        }
    }
    rows->close();
    // A check cut short by the budget proved nothing.
    return plain && !budget.exhausted();
}

}  // namespace

std::shared_ptr<SqlDatabase> openDeviceLibrary(const std::string& path,
                                               LibraryWorkBudget& budget) {
    if (path.empty()) return nullptr;
    if (sqlite3_hard_heap_limit64(-1) == 0) sqlite3_hard_heap_limit64(kHeapLimit);
    auto db = SqlDatabase::databaseWithPath(path);
    // Never create one: a missing copy is no library. A reader uses its connection on one
    // thread only, so SQLite need not lock it around every call (a dozen calls a track).
    if (!db->openWithFlags(SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) return nullptr;
    sqlite3_progress_handler(db->sqliteHandle(), kInstructionsPerCheck, spend, &budget);
    db->setShouldCacheStatements(true);
    if (!hasPlainTables(*db, path, budget)) {
        db->close();
        return nullptr;
    }
    return db;
}

}  // namespace media
