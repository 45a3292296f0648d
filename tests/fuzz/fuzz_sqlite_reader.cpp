// SQLite files come from devices: any bytes opened as a database image must let the reader
// list, describe and query its tables, or fail cleanly, and what it answers must be JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>

#include "data/db/SqlDatabase.h"
#include "files/SQLiteReader.h"
#include "foundation/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using foundation::Value;
    auto db = SqlDatabase::databaseWithData(foundation::Data(data, data + size));
    if (!db) return 0;
    db->executeStatements("PRAGMA query_only = ON;");
    SQLiteReader reader(db);
    const Value tables = reader.allTables(Value::dict({{"tableinfo", true}}));
    foundation::json::write(tables);
    const Value& names = tables["tables"];
    for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
        std::string name = names[i].stringOr();
        for (std::size_t at = 0; (at = name.find('"', at)) != std::string::npos; at += 2) name.insert(at, 1, '"');
        const std::string sql = "SELECT * FROM \"" + name + "\" LIMIT 20";
        try {
            foundation::json::write(reader.query(Value::dict({{"query", sql}, {"fullinfo", i % 2 == 0}})));
        } catch (const std::exception&) {
        }
    }
    db->closeEx();
    return 0;
}
