#include "media/DeviceLibraryDatabase.h"

#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "data/db/SqlDatabase.h"
#include "data/db/SqlResultSet.h"
#include "logging/LogCall.h"

namespace media {

namespace {

constexpr int kInstructionsPerCheck = 1000;
// The clock is read every so many checks: reading it costs as much as a few hundred
// instructions.
constexpr unsigned kChecksPerTick = 8;
// SQLite's heap for the whole process; set only where no one set a limit before.
constexpr sqlite3_int64 kHeapLimit = sqlite3_int64{512} << 20;
// No text, blob or row of a real library comes near this; SQLite refuses longer ones, so one
// instruction never moves more.
constexpr int kLengthLimit = 16 << 20;

// Every name the library readers select from, expecting a table.
constexpr std::array<std::string_view, 22> kQueriedTables = {
    "item",          "item_extra",      "album_artist",    "item_artist",       "album",
    "composer",      "item_stats",      "item_playback",   "item_artwork",      "container",
    "container_item", "container_items", "base_location",  "genre",             "genre_map",
    "location_kind", "location_kind_map", "avformat_info", "location",          "artwork",
    "artwork_token", "db_info"};

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// SQLite's progress handler: a non-zero answer stops the statement.
int spendOnProgress(void* context) {
    return static_cast<LibraryWorkBudget*>(context)->spendInStatement(kInstructionsPerCheck) ? 0
                                                                                             : 1;
}

std::string lowerCased(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

bool isQueriedTable(const std::string& lowerName) {
    return std::find(kQueriedTables.begin(), kQueriedTables.end(), lowerName) !=
           kQueriedTables.end();
}

// Whether the table has a column computed on every read (a generated column, stored or not).
bool hasComputedColumns(SqlDatabase& db, std::string_view table) {
    // The name is one of ours, a plain identifier.
    auto columns = db.executeQuery("PRAGMA table_xinfo(\"" + std::string(table) + "\");");
    if (!columns) return false;
    bool computed = false;
    while (!computed && columns->next()) {
        const int hidden = columns->intForColumn("hidden");
        computed = hidden == 2 || hidden == 3;
    }
    columns->close();
    return computed;
}

// Every queried name that exists is a plain table whose columns are stored as they are read;
// otherwise the refusal, logged and kept as the budget's failure.
bool hasPlainTables(SqlDatabase& db, const std::string& path, LibraryWorkBudget& budget) {
    auto rows = db.executeQuery("SELECT type, name, sql FROM sqlite_master;");
    if (!rows) return true;  // not a database: the queries fail on their own
    std::string refusal;
    std::vector<std::string> tables;
    while (refusal.empty() && rows->next()) {
        const std::string type = rows->safeStringForColumn("type");
        const std::string name = lowerCased(rows->safeStringForColumn("name"));
        if (!isQueriedTable(name)) continue;
        const std::string sql = rows->safeStringForColumn("sql");
        if (type != "table" || sqlite3_strnicmp(sql.c_str(), "CREATE VIRTUAL", 14) == 0) {
            refusal = fmt::format("\"{}\" is a {} where a table belongs", name,
                                  type == "table" ? "virtual table" : type);
        } else {
            tables.push_back(name);
        }
    }
    rows->close();
    for (const auto& table : tables) {
        if (!refusal.empty()) break;
        if (hasComputedColumns(db, table)) {
            refusal = fmt::format("the table \"{}\" has computed columns", table);
        }
    }
    if (!refusal.empty()) {
        LogError("Refusing the media library {}: {}", path, refusal);
        return budget.fail(std::move(refusal));
    }
    // A check cut short by the budget proved nothing.
    return !budget.exhausted();
}

}  // namespace

std::uint64_t LibraryWorkBudget::memoryFor(std::uint64_t fileBytes) {
    const std::uint64_t ceilingFiles = kMemoryCeiling / kMemoryPerFileByte;
    if (fileBytes >= ceilingFiles) return kMemoryCeiling;
    return std::max(kMemoryFloor, fileBytes * kMemoryPerFileByte);
}

LibraryWorkBudget LibraryWorkBudget::forFiles(std::uint64_t fileBytes) {
    LibraryWorkBudget budget;
    budget.bytesLeft = memoryFor(fileBytes);
    return budget;
}

bool LibraryWorkBudget::spend(std::uint64_t instructions) {
    instructionsLeft = instructionsLeft > instructions ? instructionsLeft - instructions : 0;
    return check();
}

bool LibraryWorkBudget::spendInStatement(std::uint64_t instructions) {
    if (!spend(instructions)) return false;
    return ++statementChecks_ % kChecksPerTick != 0 || tick();
}

bool LibraryWorkBudget::copy(std::uint64_t bytes) {
    bytesLeft = bytesLeft > bytes ? bytesLeft - bytes : 0;
    return check();
}

void LibraryWorkBudget::startClock() {
    clockThread_ = std::this_thread::get_id();
    clockMark_ = threadSeconds();
}

bool LibraryWorkBudget::tick() {
    if (clockThread_ != std::this_thread::get_id()) {
        startClock();
        return check();
    }
    const double now = threadSeconds();
    secondsLeft -= now - clockMark_;
    clockMark_ = now;
    return check();
}

bool LibraryWorkBudget::fail(std::string reason) {
    if (failure.empty()) failure = std::move(reason);
    return false;
}

bool LibraryWorkBudget::check() {
    if (!exhausted()) return true;
    if (instructionsLeft == 0) return fail("it needs more work than a media library can");
    if (bytesLeft == 0) return fail("it needs more memory than a media library can");
    return fail("it takes longer to read than a media library can");
}

std::shared_ptr<SqlDatabase> openDeviceLibrary(const std::string& path,
                                               LibraryWorkBudget& budget) {
    if (path.empty() || !budget.spend(0)) return nullptr;
    if (sqlite3_hard_heap_limit64(-1) == 0) sqlite3_hard_heap_limit64(kHeapLimit);
    auto db = SqlDatabase::databaseWithPath(path);
    // Never create one: a missing copy is no library. A reader uses its connection on one
    // thread only, so SQLite need not lock it around every call (a dozen calls a track).
    if (!db->openWithFlags(SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) return nullptr;
    budget.startClock();
    sqlite3_limit(db->sqliteHandle(), SQLITE_LIMIT_LENGTH, kLengthLimit);
    sqlite3_progress_handler(db->sqliteHandle(), kInstructionsPerCheck, spendOnProgress, &budget);
    db->setShouldCacheStatements(true);
    if (!hasPlainTables(*db, path, budget)) {
        db->close();
        return nullptr;
    }
    return db;
}

}  // namespace media
