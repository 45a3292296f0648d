#include "data/db/MemImageVfs.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace {

// The pending list and its lock; made once, kept for the life of the process.
struct memimagevfs_env {
    spmembuffer_link* head = nullptr;
    sqlite3_mutex* mutex = nullptr;
};

memimagevfs_env* g_memimagevfs_env = nullptr;
std::once_flag g_memimagevfs_once;

// An open file: SQLite's base object first, then our own fields.
struct spmemfile {
    sqlite3_file base;
    char* path;
    int flags;
    spmembuffer* mem;
};

char* copyName(const char* name) {
    if (name == nullptr) return nullptr;
    const std::size_t length = std::strlen(name);
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, name, length + 1);
    return copy;
}

bool isMainDatabase(const spmemfile* file) {
    return (file->flags & SQLITE_OPEN_MAIN_DB) != 0;
}

// --- file entries ------------------------------------------------------------------------

int spmemfileClose(sqlite3_file* file) {
    auto* f = reinterpret_cast<spmemfile*>(file);
    // The main database's image belongs to the connection's pair, not to the file.
    if (!isMainDatabase(f)) spmembuffer_free(f->mem);
    f->mem = nullptr;
    std::free(f->path);
    f->path = nullptr;
    return SQLITE_OK;
}

int spmemfileRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    auto* f = reinterpret_cast<spmemfile*>(file);
    if (amount < 0 || offset < 0) return SQLITE_IOERR_READ;
    const auto want = static_cast<std::size_t>(amount);
    const auto start = static_cast<std::size_t>(offset);
    const std::size_t used = f->mem != nullptr ? f->mem->used : 0;
    if (start <= used && want <= used - start) {
        std::memcpy(buffer, f->mem->data + start, want);
        return SQLITE_OK;
    }
    const std::size_t available = start < used ? used - start : 0;
    if (available > 0) std::memcpy(buffer, f->mem->data + start, available);
    std::memset(static_cast<char*>(buffer) + available, 0, want - available);
    return SQLITE_IOERR_SHORT_READ;
}

int spmemfileWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    auto* f = reinterpret_cast<spmemfile*>(file);
    if (amount < 0 || offset < 0 || f->mem == nullptr) return SQLITE_IOERR_WRITE;
    spmembuffer* mem = f->mem;
    const auto want = static_cast<std::size_t>(amount);
    const auto start = static_cast<std::size_t>(offset);
    const std::size_t limit = memimagevfs_max_image_size();
    if (start > limit || want > limit - start) return SQLITE_NOMEM;
    const std::size_t end = start + want;
    if (end > mem->total) {
        // Double past the needed end; the limit keeps the sum far from overflowing.
        const std::size_t capacity = 2 * (end + mem->total);
        auto* grown = static_cast<char*>(std::realloc(mem->data, capacity + 1));
        if (grown == nullptr) return SQLITE_NOMEM;
        // Bytes between the old end and the write are read back as zeros.
        std::memset(grown + mem->used, 0, capacity + 1 - mem->used);
        mem->data = grown;
        mem->total = capacity;
    }
    std::memcpy(mem->data + start, buffer, want);
    if (end > mem->used) mem->used = end;
    return SQLITE_OK;
}

int spmemfileTruncate(sqlite3_file* file, sqlite3_int64 size) {
    auto* f = reinterpret_cast<spmemfile*>(file);
    if (size < 0) return SQLITE_IOERR_TRUNCATE;
    if (f->mem != nullptr && static_cast<std::size_t>(size) < f->mem->used) {
        f->mem->used = static_cast<std::size_t>(size);
    }
    return SQLITE_OK;
}

int spmemfileSync(sqlite3_file*, int) {
    return SQLITE_OK;
}

int spmemfileFileSize(sqlite3_file* file, sqlite3_int64* size) {
    auto* f = reinterpret_cast<spmemfile*>(file);
    *size = f->mem != nullptr ? static_cast<sqlite3_int64>(f->mem->used) : 0;
    return SQLITE_OK;
}

int spmemfileLock(sqlite3_file*, int) {
    return SQLITE_OK;
}
int spmemfileUnlock(sqlite3_file*, int) {
    return SQLITE_OK;
}

int spmemfileCheckReservedLock(sqlite3_file*, int* result) {
    *result = 0;
    return SQLITE_OK;
}

int spmemfileFileControl(sqlite3_file*, int, void*) {
    return SQLITE_NOTFOUND;
}
int spmemfileSectorSize(sqlite3_file*) {
    return 0;
}
int spmemfileDeviceCharacteristics(sqlite3_file*) {
    return 0;
}

const sqlite3_io_methods g_spmemfile_io_memthods = {
    1,
    spmemfileClose,
    spmemfileRead,
    spmemfileWrite,
    spmemfileTruncate,
    spmemfileSync,
    spmemfileFileSize,
    spmemfileLock,
    spmemfileUnlock,
    spmemfileCheckReservedLock,
    spmemfileFileControl,
    spmemfileSectorSize,
    spmemfileDeviceCharacteristics,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// --- file-system entries -----------------------------------------------------------------

struct VfsExtra {
    spmembuffer* (*load)(void*, const char*) = nullptr;
    void* loadArgument = nullptr;
    sqlite3_vfs* defaultVfs = nullptr;
};
VfsExtra g_memimagevfs_extra;

int memimagevfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto* f = reinterpret_cast<spmemfile*>(file);
    std::memset(f, 0, sizeof(spmemfile));
    // Only read-only opens: journals and temporary files are never written here.
    if ((flags & SQLITE_OPEN_READONLY) == 0) return SQLITE_ERROR;
    spmembuffer* mem = nullptr;
    if ((flags & SQLITE_OPEN_MAIN_DB) != 0) {
        // No pending image of that name (an ATTACH, for one): nothing to open.
        if (name == nullptr || g_memimagevfs_extra.load == nullptr) return SQLITE_CANTOPEN;
        mem = g_memimagevfs_extra.load(g_memimagevfs_extra.loadArgument, name);
        if (mem == nullptr) return SQLITE_CANTOPEN;
    } else {
        mem = spmembuffer_create(nullptr, 0);
        if (mem == nullptr) return SQLITE_NOMEM;
    }
    f->flags = flags;
    f->mem = mem;
    f->path = copyName(name);
    f->base.pMethods = &g_spmemfile_io_memthods;
    // Saying read-only makes SQLite refuse writes plainly instead of failing on a journal.
    if (outFlags != nullptr) *outFlags = flags;
    return SQLITE_OK;
}

int memimagevfsDelete(sqlite3_vfs*, const char*, int) {
    return SQLITE_OK;
}

int memimagevfsAccess(sqlite3_vfs*, const char*, int, int* result) {
    *result = 0;
    return SQLITE_OK;
}

int memimagevfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    if (size <= 0) return SQLITE_OK;
    std::strncpy(out, name != nullptr ? name : "", static_cast<std::size_t>(size));
    out[size - 1] = '\0';
    return SQLITE_OK;
}

void* memimagevfsDlOpen(sqlite3_vfs*, const char*) {
    return nullptr;
}
void memimagevfsDlError(sqlite3_vfs*, int, char*) {}
void (*memimagevfsDlSym(sqlite3_vfs*, void*, const char*))(void) {
    return nullptr;
}
void memimagevfsDlClose(sqlite3_vfs*, void*) {}

// Time, sleep and randomness come from the default file system: SQL such as
// datetime('now') and random() must give real answers on an image too.
int memimagevfsRandomness(sqlite3_vfs*, int size, char* out) {
    sqlite3_vfs* real = g_memimagevfs_extra.defaultVfs;
    if (real != nullptr && real->xRandomness != nullptr) return real->xRandomness(real, size, out);
    return 0;
}

int memimagevfsSleep(sqlite3_vfs*, int microseconds) {
    sqlite3_vfs* real = g_memimagevfs_extra.defaultVfs;
    if (real != nullptr && real->xSleep != nullptr) return real->xSleep(real, microseconds);
    return 0;
}

int memimagevfsCurrentTime(sqlite3_vfs*, double* julianDay) {
    sqlite3_vfs* real = g_memimagevfs_extra.defaultVfs;
    if (real != nullptr && real->xCurrentTime != nullptr)
        return real->xCurrentTime(real, julianDay);
    return SQLITE_ERROR;
}

sqlite3_vfs g_memimagevfs = {
    1,                  // structure version
    sizeof(spmemfile),  // file-object size
    0,                  // maximum path length, copied from the default at registration
    nullptr,            // next, SQLite's
    kMemImageVfsName,   // name
    nullptr,            // application data
    memimagevfsOpen,
    memimagevfsDelete,
    memimagevfsAccess,
    memimagevfsFullPathname,
    memimagevfsDlOpen,
    memimagevfsDlError,
    memimagevfsDlSym,
    memimagevfsDlClose,
    memimagevfsRandomness,
    memimagevfsSleep,
    memimagevfsCurrentTime,
    nullptr,  // last error
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

// --- images ------------------------------------------------------------------------------

std::size_t memimagevfs_max_image_size() {
    return static_cast<std::size_t>(0xFFFFFFFEull) * 65536u;
}

spmembuffer* spmembuffer_create(const void* bytes, std::size_t length) {
    auto* mem = static_cast<spmembuffer*>(std::calloc(1, sizeof(spmembuffer)));
    if (mem == nullptr) return nullptr;
    mem->data = static_cast<char*>(std::malloc(length + 1));
    if (mem->data == nullptr) {
        std::free(mem);
        return nullptr;
    }
    if (length > 0) std::memcpy(mem->data, bytes, length);
    mem->data[length] = '\0';
    mem->used = length;
    mem->total = length;
    return mem;
}

void spmembuffer_free(spmembuffer* mem) {
    if (mem == nullptr) return;
    std::free(mem->data);
    std::free(mem);
}

spmembuffer_link* spmembuffer_link_remove(spmembuffer_link** head, const char* name) {
    for (spmembuffer_link** slot = head; *slot != nullptr; slot = &(*slot)->next) {
        spmembuffer_link* link = *slot;
        if (std::strcmp(link->path, name) == 0) {
            *slot = link->next;
            link->next = nullptr;
            return link;
        }
    }
    return nullptr;
}

void spmembuffer_link_free(spmembuffer_link* link, bool freeImage) {
    if (link == nullptr) return;
    if (freeImage) spmembuffer_free(link->mem);
    std::free(link->path);
    std::free(link);
}

spmembuffer* load_cb(void* argument, const char* name) {
    auto* env = static_cast<memimagevfs_env*>(argument);
    sqlite3_mutex_enter(env->mutex);
    spmembuffer_link* link = spmembuffer_link_remove(&env->head, name);
    sqlite3_mutex_leave(env->mutex);
    if (link == nullptr) return nullptr;
    spmembuffer* mem = link->mem;
    spmembuffer_link_free(link, false);
    return mem;
}

// --- registration ------------------------------------------------------------------------

int memimagevfs_init(spmembuffer* (*load)(void*, const char*), void* argument) {
    if (g_memimagevfs_extra.defaultVfs != nullptr) return SQLITE_OK;
    sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
    if (real == nullptr) return SQLITE_ERROR;
    g_memimagevfs.mxPathname = real->mxPathname;
    g_memimagevfs.szOsFile = sizeof(spmemfile);
    g_memimagevfs_extra.load = load;
    g_memimagevfs_extra.loadArgument = argument;
    g_memimagevfs_extra.defaultVfs = real;
    return sqlite3_vfs_register(&g_memimagevfs, 0);
}

void memimagevfs_env_init() {
    std::call_once(g_memimagevfs_once, [] {
        auto* env = new memimagevfs_env();
        env->mutex = sqlite3_mutex_alloc(SQLITE_MUTEX_FAST);
        g_memimagevfs_env = env;
        memimagevfs_init(&load_cb, env);
    });
}

void memimagevfs_env_fini() {
    memimagevfs_env* env = g_memimagevfs_env;
    if (env == nullptr) return;
    sqlite3_vfs_unregister(&g_memimagevfs);
    g_memimagevfs_extra = VfsExtra{};
    sqlite3_mutex_enter(env->mutex);
    while (spmembuffer_link* link = env->head) {
        env->head = link->next;
        spmembuffer_link_free(link, true);
    }
    sqlite3_mutex_leave(env->mutex);
    sqlite3_mutex_free(env->mutex);
    delete env;
    g_memimagevfs_env = nullptr;
}

std::size_t memimagevfs_pending_count() {
    memimagevfs_env* env = g_memimagevfs_env;
    if (env == nullptr) return 0;
    std::size_t count = 0;
    sqlite3_mutex_enter(env->mutex);
    for (spmembuffer_link* link = env->head; link != nullptr; link = link->next) ++count;
    sqlite3_mutex_leave(env->mutex);
    return count;
}

// --- connections -------------------------------------------------------------------------

int memimagevfs_open_db(memimagevfs_db* pair, const char* name, spmembuffer* mem) {
    pair->handle = nullptr;
    pair->mem = mem;
    memimagevfs_env* env = g_memimagevfs_env;
    if (env == nullptr || mem == nullptr || name == nullptr) return SQLITE_MISUSE;

    auto* link = static_cast<spmembuffer_link*>(std::calloc(1, sizeof(spmembuffer_link)));
    if (link == nullptr) return SQLITE_NOMEM;
    link->path = copyName(name);
    if (link->path == nullptr) {
        std::free(link);
        return SQLITE_NOMEM;
    }
    link->mem = mem;
    // Our copy reads as the rollback-journal format: a WAL image would need shared memory,
    // which this file system does not offer.
    if (mem->used >= 20) {
        mem->data[18] = 1;
        mem->data[19] = 1;
    }
    sqlite3_mutex_enter(env->mutex);
    link->next = env->head;
    env->head = link;
    sqlite3_mutex_leave(env->mutex);

    const int rc = sqlite3_open_v2(name, &pair->handle, SQLITE_OPEN_READONLY, kMemImageVfsName);
    if (rc != SQLITE_OK) {
        // The image stays with the pair; only the pending entry goes, if still there.
        sqlite3_mutex_enter(env->mutex);
        spmembuffer_link* pending = spmembuffer_link_remove(&env->head, name);
        sqlite3_mutex_leave(env->mutex);
        spmembuffer_link_free(pending, false);
    }
    return rc;
}

int memimagevfs_close_db(memimagevfs_db* pair) {
    if (pair == nullptr) return SQLITE_OK;
    int rc = SQLITE_OK;
    if (pair->handle != nullptr) {
        rc = sqlite3_close(pair->handle);
        // A handle SQLite could not close may still read the image: better kept than freed.
        if (rc != SQLITE_OK) return rc;
        pair->handle = nullptr;
    }
    spmembuffer_free(pair->mem);
    pair->mem = nullptr;
    return rc;
}
