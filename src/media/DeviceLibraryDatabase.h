#pragma once

#include <cstdint>
#include <memory>
#include <string>

class SqlDatabase;

namespace media {

// The SQLite work the readers of one device library may spend, in virtual-machine
// instructions over all its databases. A device's database is untrusted input: a crafted
// schema (a view that recurses, say) would otherwise run or grow for ever.
struct LibraryWorkBudget {
    // Several times what the largest real libraries need, and seconds of work at most.
    static constexpr std::uint64_t kDefaultInstructions = 2'000'000'000;
    std::uint64_t instructionsLeft = kDefaultInstructions;
    bool exhausted() const { return instructionsLeft == 0; }
    // Charges work done outside SQLite's statements (a record built from a row) against the
    // same budget; false once it is spent.
    bool spend(std::uint64_t instructions) {
        instructionsLeft = instructionsLeft > instructions ? instructionsLeft - instructions : 0;
        return !exhausted();
    }
};

// Opens a local copy of a device's library database read-only, with its statements stopped
// once `budget` is spent and SQLite's heap capped. Refuses (nullptr, logged) a database that
// does not open, or where a name the readers query as a table is a view, a trigger or a
// virtual table. `budget` must outlive the database, and one thread at a time uses it.
std::shared_ptr<SqlDatabase> openDeviceLibrary(const std::string& path, LibraryWorkBudget& budget);

}  // namespace media
