#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class SqlDatabase;

namespace media {

// What the readers of one device library may spend over all its databases. A device's
// database is untrusted input: a crafted schema (a view that recurses, say) would run or grow
// for ever, and a small file can make SQLite hand out the same long text in any number of
// rows, or hold a million records in a few megabytes, each of which costs kilobytes once read.
// Three limits bound it: SQLite's virtual-machine instructions (and work of ours charged in
// the same units), the memory the readers build out of what SQLite hands them (the records
// with their entries and texts, the maps and the lists, as the allocator hands them out;
// SQLite's own heap is capped apart), and the processor time of the reading thread, which also
// bounds the work SQLite does inside one instruction (comparing or copying a long value). The
// first limit reached ends the reading, and `failure` says which.
struct LibraryWorkBudget {
    // Several times what the largest real libraries need, and seconds of work at most.
    static constexpr std::uint64_t kDefaultInstructions = 2'000'000'000;
    // The memory a library's records may take grows with its files. Even in the fewest
    // tables and columns that hold them, real records take no more than some thirty times
    // their files (200,000 tracks with empty texts: 30 MB of files, 930 MiB of records; with
    // long comments and descriptions: 210 MiB of files, 1.1 GiB), while a crafted library
    // packs a record into a few bytes (900,000 of them in 9 MB would take 3.3 GiB; they now
    // stop at 415 MiB). A small library may always take the floor; none more than the ceiling.
    static constexpr std::uint64_t kMemoryFloor = std::uint64_t{256} << 20;
    static constexpr std::uint64_t kMemoryPerFileByte = 48;
    static constexpr std::uint64_t kMemoryCeiling = std::uint64_t{3} << 30;
    // 200,000 tracks read in under two seconds.
    static constexpr double kDefaultSeconds = 20;

    // The budget for a library whose database files hold `fileBytes` in all.
    static LibraryWorkBudget forFiles(std::uint64_t fileBytes);
    static std::uint64_t memoryFor(std::uint64_t fileBytes);

    std::uint64_t instructionsLeft = kDefaultInstructions;
    std::uint64_t bytesLeft = kMemoryFloor;
    double secondsLeft = kDefaultSeconds;
    // Why reading stopped or a database was refused; empty while all is well.
    std::string failure;

    bool exhausted() const { return instructionsLeft == 0 || bytesLeft == 0 || secondsLeft <= 0; }
    // Charges work done outside SQLite's statements (a record built from a row) against the
    // instructions; false once any limit is reached.
    bool spend(std::uint64_t instructions);
    // The same for SQLite's own instructions, which also read the clock now and then.
    bool spendInStatement(std::uint64_t instructions);
    // Charges memory built out of the library; false once any limit is reached.
    bool copy(std::uint64_t bytes);
    // Starts counting the calling thread's processor time; tick() charges what it used since.
    void startClock();
    // False once any limit is reached; a thread whose clock was not started only starts it.
    bool tick();
    // Keeps the first reason given; false.
    bool fail(std::string reason);

private:
    bool check();
    std::thread::id clockThread_{};
    double clockMark_ = 0;  // the thread's processor time at the last tick
    unsigned statementChecks_ = 0;
};

// Opens a local copy of a device's library database read-only, with its statements stopped
// once `budget` is spent, no text, blob or row longer than SQLite's length limit for these
// databases, and SQLite's heap capped. Refuses (nullptr, logged, the reason in the budget's
// failure) a database where a name the readers query as a table is a view, a trigger or a
// virtual table, or a table with computed (generated) columns: all of these run expressions
// of the file's choosing on every read. Check constraints and indexes on expressions run only
// when a row is written, and these connections never write; a column's default, which stands
// for it in every row written before the column was added, is a constant of the schema, and
// the copies it makes count against the budget. A database that does not open gives nullptr
// too. `budget` must outlive the database, and one thread at a time uses it.
std::shared_ptr<SqlDatabase> openDeviceLibrary(const std::string& path, LibraryWorkBudget& budget);

}  // namespace media
