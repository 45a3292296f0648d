#pragma once

// A small SQLite file system ("memimagevfs") that serves database images held in memory.
// An open registers its image under a made-up file name in a pending list; when SQLite
// opens that name through this file system, the main database file takes the image and
// reads it from then on. Nothing touches the disk.

#include <cstddef>

struct sqlite3;

// An image: its bytes (one NUL byte after them), the bytes in use and the block's capacity.
struct spmembuffer {
    char* data = nullptr;
    std::size_t used = 0;
    std::size_t total = 0;
};

// An image waiting for SQLite to open its name; the newest is at the head of the list.
struct spmembuffer_link {
    char* path = nullptr;
    spmembuffer* mem = nullptr;
    spmembuffer_link* next = nullptr;
};

// One connection over an image: the SQLite handle and the image, which it owns.
struct memimagevfs_db {
    sqlite3* handle = nullptr;
    spmembuffer* mem = nullptr;
};

inline constexpr const char* kMemImageVfsName = "memimagevfs";

// Makes the pending list and registers the file system, once per process; safe to call
// from several threads at once.
void memimagevfs_env_init();
// Registers the file system with the load function and its argument unless done already.
int memimagevfs_init(spmembuffer* (*load)(void* argument, const char* name), void* argument);
// Unregisters the file system and frees every pending image (for orderly shutdowns).
void memimagevfs_env_fini();

// A new image holding a copy of the bytes; nullptr when memory runs out.
spmembuffer* spmembuffer_create(const void* bytes, std::size_t length);
void spmembuffer_free(spmembuffer* mem);
// The largest image accepted: SQLite's largest database (its page limit times the
// largest page). Larger sizes could only overflow the buffer arithmetic.
std::size_t memimagevfs_max_image_size();

// Opens the image read-only under the name. The pair owns the image from here on, whether
// the open succeeds or not; memimagevfs_close_db frees it. Answers SQLite's open code.
int memimagevfs_open_db(memimagevfs_db* pair, const char* name, spmembuffer* mem);
// Closes the pair's handle (when any) and frees its image; answers the close's code.
int memimagevfs_close_db(memimagevfs_db* pair);

// Takes the newest pending image of that name off the list; nullptr when there is none.
spmembuffer* load_cb(void* env, const char* name);
// Unlinks and answers the first pending image of that name from the head, or nullptr.
spmembuffer_link* spmembuffer_link_remove(spmembuffer_link** head, const char* name);
// Frees a pending image's link and name copy (and, with freeImage, its image).
void spmembuffer_link_free(spmembuffer_link* link, bool freeImage);

// How many images wait to be opened (for diagnostics and tests).
std::size_t memimagevfs_pending_count();
