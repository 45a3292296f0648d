#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "data/db/SqlDatabase.h"
#include "foundation/ScratchFolder.h"

namespace dbtest {

// Everything the code under test writes to standard error while it lives.
class ConsoleCapture {
public:
    ConsoleCapture() { testing::internal::CaptureStderr(); }
    ~ConsoleCapture() {
        if (!taken_) testing::internal::GetCapturedStderr();
    }
    std::string text() {
        taken_ = true;
        return testing::internal::GetCapturedStderr();
    }

private:
    bool taken_ = false;
};

// Runs SQL on a fresh database file through SQLite directly, independent of the code
// under test.
inline void runScript(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    EXPECT_EQ(rc, SQLITE_OK) << (message != nullptr ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

inline foundation::Data readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return foundation::Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes of a database file built by the script.
inline foundation::Data imageOf(const std::string& sql) {
    foundationtest::ScratchFolder folder;
    const std::string path = folder / "image.db";
    runScript(path, sql);
    return readFile(path);
}

// A database file made from a script, and a connection to it that tests open as needed.
class DbFileTest : public testing::Test {
protected:
    std::string makeFile(const std::string& sql, const std::string& name = "test.db") {
        const std::string path = folder / name;
        runScript(path, sql);
        return path;
    }
    std::shared_ptr<SqlDatabase> openDb(const std::string& sql) {
        auto db = SqlDatabase::databaseWithPath(makeFile(sql));
        EXPECT_TRUE(db->open());
        return db;
    }

    foundationtest::ScratchFolder folder;
};

}  // namespace dbtest
