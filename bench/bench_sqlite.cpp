// Reading every row of a 100,000-row table through SqlResultSet, beside the same query
// stepped with SQLite's own calls and beside the sqlite3 shell writing the rows out. The
// final lines give our time / baseline time.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BaselineReport.h"
#include "data/db/SqlDatabase.h"

namespace {

constexpr int kRows = 100000;
constexpr const char* kQuery = "SELECT id, name, value FROM t";

std::string& databasePath() {
    static std::string path;
    return path;
}

void makeDatabase() {
    std::string folder =
        (std::filesystem::temp_directory_path() / "orvandel-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) std::abort();
    databasePath() = folder + "/rows.db";
    sqlite3* db = nullptr;
    sqlite3_open(databasePath().c_str(), &db);
    const std::string script =
        "CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, value REAL);"
        "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
        std::to_string(kRows) +
        ") INSERT INTO t SELECT i, 'track ' || i || ' of the library', i * 0.5 FROM c;";
    if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_close(db);
}

void BM_ResultSetByIndex(benchmark::State& state) {
    auto db = SqlDatabase::databaseWithPath(databasePath());
    db->open();
    for (auto _ : state) {
        auto rs = db->executeQuery(kQuery);
        std::int64_t rows = 0;
        while (rs->next()) {
            benchmark::DoNotOptimize(rs->longForColumnIndex(0));
            benchmark::DoNotOptimize(rs->stringForColumnIndex(1));
            benchmark::DoNotOptimize(rs->doubleForColumnIndex(2));
            ++rows;
        }
        if (rows != kRows) state.SkipWithError("wrong row count");
    }
}
BENCHMARK(BM_ResultSetByIndex)->Unit(benchmark::kMillisecond);

void BM_ResultSetByName(benchmark::State& state) {
    auto db = SqlDatabase::databaseWithPath(databasePath());
    db->open();
    for (auto _ : state) {
        auto rs = db->executeQuery(kQuery);
        while (rs->next()) {
            benchmark::DoNotOptimize(rs->longForColumn("id"));
            benchmark::DoNotOptimize(rs->stringForColumn("name"));
            benchmark::DoNotOptimize(rs->doubleForColumn("value"));
        }
    }
}
BENCHMARK(BM_ResultSetByName)->Unit(benchmark::kMillisecond);

void BM_RawSqlite(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open(databasePath().c_str(), &db);
    for (auto _ : state) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr);
        std::int64_t rows = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 0));
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            benchmark::DoNotOptimize(
                std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, 1))));
            benchmark::DoNotOptimize(sqlite3_column_double(stmt, 2));
            ++rows;
        }
        sqlite3_finalize(stmt);
        if (rows != kRows) state.SkipWithError("wrong row count");
    }
    sqlite3_close(db);
}
BENCHMARK(BM_RawSqlite)->Unit(benchmark::kMillisecond);

void BM_Sqlite3Shell(benchmark::State& state) {
    const std::string command = "sqlite3 '" + databasePath() + "' '" + kQuery + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("sqlite3 failed");
    }
}
BENCHMARK(BM_Sqlite3Shell)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    makeDatabase();
    const int rc = bench::runWithBaselines(argc, argv,
                                           {{"BM_ResultSetByIndex", "BM_RawSqlite"},
                                            {"BM_ResultSetByName", "BM_RawSqlite"},
                                            {"BM_ResultSetByIndex", "BM_Sqlite3Shell"}});
    std::filesystem::remove_all(std::filesystem::path(databasePath()).parent_path());
    return rc;
}
