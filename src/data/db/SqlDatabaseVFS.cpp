// Connections over a database image held in memory.

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "data/db/MemImageVfs.h"
#include "data/db/SqlConsole.h"
#include "data/db/SqlDatabase.h"
#include "foundation/NumberFormat.h"
#include "foundation/Paths.h"
#include "logging/LogCall.h"

namespace {

// Seconds from 1970 to the reference date of 1 January 2001.
constexpr double kReferenceDateOffset = 978307200.0;
// Retries of a busy close when the connection sets no interval (images never do).
constexpr int kCloseRetriesWithoutInterval = 100;

// A name no other open can make: the time alone repeats within a microsecond.
std::string imageName() {
    static std::atomic<std::uint64_t> counter{0};
    using namespace std::chrono;
    const double now =
        duration<double>(system_clock::now().time_since_epoch()).count() - kReferenceDateOffset;
    return foundation::Paths::tempDir() + "/" + foundation::formatFixed(now, 6) + "-" +
           std::to_string(counter.fetch_add(1));
}

}  // namespace

std::shared_ptr<SqlDatabase> SqlDatabase::databaseWithData(const foundation::Data& image) {
    auto db = create();
    if (!db->openWithDataFlags(image, 0)) return nullptr;
    return db;
}

bool SqlDatabase::openWithDataFlags(const foundation::Data& image, int) {
    // Opening over a held handle would lose it.
    if (db_ != nullptr) return false;
    setMaxBusyRetryTimeInterval(0.0);
    useVFS_ = true;
    if (image.size() > memimagevfs_max_image_size()) {
        openErrorCode_ = SQLITE_TOOBIG;
        openErrorMessage_ = sqlite3_errstr(SQLITE_TOOBIG);
        return false;
    }

    const std::string name = imageName();
    memimagevfs_env_init();
    auto* pair = new memimagevfs_db();
    spmembuffer* mem = spmembuffer_create(image.data(), image.size());
    const int rc = mem != nullptr ? memimagevfs_open_db(pair, name.c_str(), mem) : SQLITE_NOMEM;
    if (rc != SQLITE_OK) {
        openErrorCode_ = rc;
        openErrorMessage_ =
            pair->handle != nullptr ? sqlite3_errmsg(pair->handle) : sqlite3_errstr(rc);
        if (mem == nullptr) pair->mem = nullptr;
        memimagevfs_close_db(pair);
        delete pair;
        return false;
    }
    db_ = pair->handle;
    vfsPointer_ = pair;
    openErrorCode_ = SQLITE_OK;
    openErrorMessage_.clear();
    // No further database may join an image connection, and sorts too big for the cache
    // stay in memory: this file system has no room for either.
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_exec(db_, "PRAGMA temp_store = MEMORY", nullptr, nullptr, nullptr);
    return true;
}

bool SqlDatabase::closeEx() {
    if (!useVFS_) return close();
    const std::shared_ptr<SqlDatabase> keepAlive = weak_from_this().lock();
    clearCachedStatements();
    // An open result set would keep SQLite busy for ever.
    closeOpenResultSets();
    if (db_ == nullptr) return true;

    int rc = SQLITE_OK;
    int retries = 0;
    for (;;) {
        rc = sqlite3_close(db_);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        const double interval = maxBusyRetryTimeInterval();
        const double limit = interval != 0 ? interval : kCloseRetriesWithoutInterval;
        if (retries > limit) {
            LogInfo("{}:{}", "SqlDatabase::closeEx", 89);
            LogInfo("Database busy, unable to close");
            return false;
        }
        ++retries;
    }
    if (rc != SQLITE_OK) LogInfo("error closing!: {}", rc);

    if (vfsPointer_ != nullptr) {
        vfsPointer_->handle = nullptr;
        memimagevfs_close_db(vfsPointer_);
        delete vfsPointer_;
        vfsPointer_ = nullptr;
    }
    db_ = nullptr;
    return true;
}
