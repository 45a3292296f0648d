#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "foundation/Paths.h"
#include "foundation/Value.h"

namespace foundation {

// Preferences of one domain, kept as a property-list file "<directory>/<domain>.plist"
// (written as a binary property list, read in any form). Changes stay in memory until
// synchronize(), which the destructor also calls. Safe to use from any thread.
//
// A preferences file that cannot be decoded is moved aside to "<name>.corrupt"
// (".corrupt.1", ... when that name is taken) and the domain starts empty; it is never
// overwritten while it is still in place. A file that cannot be read at all (an I/O
// error, too many open files, no permission) is kept: the domain starts empty, and the
// next synchronize reads it again and merges the changes made meanwhile over it, or
// fails without writing while it still cannot be read.
class UserDefaults {
public:
    // Throws std::invalid_argument for a domain that is not a plain file name.
    explicit UserDefaults(std::string domain, std::string directory = Paths::preferencesDir());
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application's domain "com.orvandel.Orvandel", made on first use.
    static UserDefaults& standard();

    const std::string& filePath() const { return path_; }

    // Values answered for keys that have no stored value; never written to the file.
    // Later registrations replace earlier ones key by key.
    void registerDefaults(const Dictionary& defaults);

    // The stored value, else the registered default, else nil.
    Value objectForKey(std::string_view key) const;
    // Booleans and numbers (non-zero is true); false for anything else.
    bool boolForKey(std::string_view key) const;
    // Numbers and booleans as Value::toInt64 reads them; 0 for anything else.
    std::int64_t integerForKey(std::string_view key) const;
    // Numbers and booleans; 0 for anything else.
    double doubleForKey(std::string_view key) const;
    // nullopt unless the value is of that kind.
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;

    // Nil removes the key. A value that has no property-list form (null anywhere, too
    // deep a nesting) is refused with false and a reason, and nothing changes: stored, it
    // would make every later synchronize fail.
    bool setObject(std::string_view key, Value value, std::string* error = nullptr);
    void setBool(std::string_view key, bool value);
    void setInteger(std::string_view key, std::int64_t value);
    void setDouble(std::string_view key, double value);
    void removeObject(std::string_view key);

    // With unsaved changes: writes the file (atomically, creating the folder). Without:
    // reloads the file, so that changes written by another instance show. False with a
    // reason when the file cannot be written; the changes then stay pending.
    bool synchronize(std::string* error = nullptr);

    // The registered defaults overlaid with the stored values.
    Dictionary dictionaryRepresentation() const;

private:
    struct Stored;
    Stored readStore() const;
    // Moves the unreadable file aside; on failure it stays and blocks writing.
    bool setAsideBadFile(const std::string& reason, std::string* error);
    void mutate(std::string_view key, Value value);
    // Reads a file that could not be read before and merges the memory over it.
    bool readUnreadFile(std::string* error);

    const std::string domain_;
    const std::string directory_;
    const std::string path_;

    // Orders file reads and writes, so that an older snapshot never lands after a newer
    // one. Taken before mutex_ and never while holding it.
    std::mutex fileMutex_;
    // Guards the fields below; never held while calling out.
    mutable std::mutex mutex_;
    Dictionary values_;
    Dictionary registered_;
    std::uint64_t generation_ = 0;  // counts changes, to tell a snapshot from newer state
    bool dirty_ = false;
    bool badFileInPlace_ = false;
    bool fileUnread_ = false;  // the file exists but could not be read
    std::set<std::string, std::less<>> removedWhileUnread_;  // keys removed meanwhile
};

}  // namespace foundation
