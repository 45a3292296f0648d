#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class SqlDatabase;
struct sqlite3_stmt;

namespace media {

// The artwork path of one track after another, from one query compiled once and run again
// with each track's value bound: a library has tens of thousands of tracks, and a result set
// per track costs more than the lookup itself. A query that does not compile, or a step that
// fails (a damaged table, the work budget spent), ends the lookups: the same fault would
// meet every later track.
class ArtworkPathLookup {
public:
    ArtworkPathLookup(SqlDatabase& db, std::string_view query);
    ~ArtworkPathLookup();
    ArtworkPathLookup(const ArtworkPathLookup&) = delete;
    ArtworkPathLookup& operator=(const ArtworkPathLookup&) = delete;

    bool usable() const { return statement_ != nullptr; }
    // The first row's path for the bound value; nullopt without a row, for NULL or text that
    // is not UTF-8, and once the lookups have ended.
    std::optional<std::string> pathFor(std::int64_t value);

private:
    void end();

    sqlite3_stmt* statement_ = nullptr;
};

}  // namespace media
