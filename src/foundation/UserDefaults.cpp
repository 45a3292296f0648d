#include "foundation/UserDefaults.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "foundation/AtomicFile.h"
#include "foundation/ConsolePrint.h"
#include "foundation/NumberFormat.h"
#include "foundation/PropertyList.h"

namespace foundation {

namespace {

constexpr int kMaxSetAsideNames = 100;

bool fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

std::string validatedDomain(std::string domain) {
    if (domain.empty() || domain == "." || domain == ".." ||
        domain.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
        throw std::invalid_argument("invalid user defaults domain \"" + domain + "\"");
    }
    return domain;
}

std::string filePathFor(const std::string& directory, const std::string& domain) {
    return (directory.ends_with('/') ? directory : directory + "/") + domain + ".plist";
}

// Renames without replacing anything already at `to`.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // The file system cannot refuse to replace: check first.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

struct UserDefaults::Stored {
    // Bad: read but undecodable. Unreadable: the reading itself failed (too many open
    // files, an I/O error, no permission), which says nothing about the contents.
    enum class State { Loaded, Missing, Bad, Unreadable } state = State::Missing;
    Dictionary values;
    std::string problem;
};

UserDefaults::UserDefaults(std::string domain, std::string directory)
    : domain_(validatedDomain(std::move(domain))),
      directory_(std::move(directory)),
      path_(filePathFor(directory_, domain_)) {
    Stored stored = readStore();
    if (stored.state == Stored::State::Loaded) {
        values_ = std::move(stored.values);
    } else if (stored.state == Stored::State::Bad) {
        setAsideBadFile(stored.problem, nullptr);
    } else if (stored.state == Stored::State::Unreadable) {
        foundation::printToConsole("UserDefaults: preferences file \"{}\" could not be read ({}); it is kept, "
                   "and read again before it is written\n",
                   path_, stored.problem);
        fileUnread_ = true;
    }
}

UserDefaults::~UserDefaults() {
    bool pending;
    {
        std::lock_guard lock(mutex_);
        pending = dirty_ || badFileInPlace_;
    }
    if (!pending) return;
    std::string error;
    if (!synchronize(&error)) {
        foundation::printToConsole("UserDefaults: changes to \"{}\" are lost: {}\n", path_, error);
    }
}

UserDefaults& UserDefaults::standard() {
    static UserDefaults defaults("com.orvandel.Orvandel");
    return defaults;
}

UserDefaults::Stored UserDefaults::readStore() const {
    Stored stored;
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0) {
        if (errno == ENOENT) return stored;
        stored.state = Stored::State::Unreadable;
        stored.problem = std::strerror(errno);
        return stored;
    }

    std::optional<Data> bytes = readFile(path_, &stored.problem);
    if (!bytes) {
        // Gone between the two looks: as good as never there.
        if (::lstat(path_.c_str(), &info) != 0 && errno == ENOENT) return Stored{};
        stored.state = Stored::State::Unreadable;
        return stored;
    }
    stored.state = Stored::State::Bad;
    std::string problem;
    std::optional<Value> value = plist::read(*bytes, &problem);
    if (!value) {
        stored.problem = problem.empty() ? "not a property list" : problem;
        return stored;
    }
    if (!value->isDictionary()) {
        stored.problem = fmt::format("holds {} instead of a dictionary", kindName(value->kind()));
        return stored;
    }
    stored.state = Stored::State::Loaded;
    stored.values = std::move(*value->dictionary());
    return stored;
}

bool UserDefaults::setAsideBadFile(const std::string& reason, std::string* error) {
    int code = 0;
    for (int attempt = 0; attempt < kMaxSetAsideNames; ++attempt) {
        std::string aside = path_ + ".corrupt";
        if (attempt > 0) aside += "." + formatInteger(attempt);
        code = renameNoReplace(path_, aside);
        if (code == 0) {
            foundation::printToConsole("UserDefaults: preferences file \"{}\" could not be read ({}); "
                       "moved it to \"{}\" and started empty\n",
                       path_, reason, aside);
            std::lock_guard lock(mutex_);
            badFileInPlace_ = false;
            return true;
        }
        if (code == ENOENT) {
            // Gone meanwhile: nothing left to protect.
            std::lock_guard lock(mutex_);
            badFileInPlace_ = false;
            return true;
        }
        if (code != EEXIST) break;
    }
    std::string message = fmt::format(
        "preferences file \"{}\" could not be read ({}) nor moved aside ({}); "
        "it is left in place and not overwritten",
        path_, reason, std::strerror(code));
    foundation::printToConsole("UserDefaults: {}\n", message);
    std::lock_guard lock(mutex_);
    badFileInPlace_ = true;
    return fail(error, message);
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) registered_.insert_or_assign(key, value);
}

Value UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (auto found = values_.find(key); found != values_.end()) return found->second;
    if (auto found = registered_.find(key); found != registered_.end()) return found->second;
    return Value();
}

bool UserDefaults::boolForKey(std::string_view key) const {
    return objectForKey(key).toBool().value_or(false);
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
    return objectForKey(key).toInt64().value_or(0);
}

double UserDefaults::doubleForKey(std::string_view key) const {
    return objectForKey(key).toDouble().value_or(0);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (const std::string* text = value.string()) return *text;
    return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (Dictionary* dictionary = value.dictionary()) return std::move(*dictionary);
    return std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (Array* array = value.array()) return std::move(*array);
    return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (const Data* data = value.data()) return *data;
    return std::nullopt;
}

void UserDefaults::mutate(std::string_view key, Value value) {
    std::lock_guard lock(mutex_);
    if (fileUnread_) {
        // Removals must survive the merge with the file once it can be read.
        if (value.isNil()) {
            removedWhileUnread_.emplace(key);
        } else if (auto removed = removedWhileUnread_.find(key);
                   removed != removedWhileUnread_.end()) {
            removedWhileUnread_.erase(removed);
        }
    }
    auto found = values_.find(key);
    if (value.isNil()) {
        if (found == values_.end()) return;
        values_.erase(found);
    } else if (found == values_.end()) {
        values_.emplace(std::string(key), std::move(value));
    } else {
        if (found->second == value) return;
        found->second = std::move(value);
    }
    ++generation_;
    dirty_ = true;
}

bool UserDefaults::setObject(std::string_view key, Value value, std::string* error) {
    if (!value.isNil()) {
        // Checked as it will be written: inside the top-level dictionary.
        Dictionary probe;
        probe.emplace(std::string(key), value);
        std::string problem;
        if (!plist::writeBinary(Value(std::move(probe)), &problem)) {
            return fail(error, "\"" + std::string(key) + "\" cannot be stored: " + problem);
        }
    }
    mutate(key, std::move(value));
    return true;
}

void UserDefaults::setBool(std::string_view key, bool value) {
    mutate(key, Value(value));
}

void UserDefaults::setInteger(std::string_view key, std::int64_t value) {
    mutate(key, Value(value));
}

void UserDefaults::setDouble(std::string_view key, double value) {
    mutate(key, Value(value));
}

void UserDefaults::removeObject(std::string_view key) {
    mutate(key, Value());
}

bool UserDefaults::synchronize(std::string* error) {
    std::lock_guard fileLock(fileMutex_);

    bool dirty;
    bool badFileInPlace;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        dirty = dirty_;
        badFileInPlace = badFileInPlace_;
        generation = generation_;
    }
    if (badFileInPlace && !setAsideBadFile("still unreadable", error)) return false;
    if (!readUnreadFile(error)) return false;

    if (!dirty) {
        Stored stored = readStore();
        if (stored.state == Stored::State::Unreadable) {
            return fail(error, fmt::format("could not read the preferences file \"{}\": {}", path_,
                                           stored.problem));
        }
        if (stored.state == Stored::State::Bad) {
            // Keep what is in memory and write it in place of the bad file.
            if (!setAsideBadFile(stored.problem, error)) return false;
        } else {
            std::lock_guard lock(mutex_);
            if (generation_ == generation) values_ = std::move(stored.values);
            return true;
        }
    }

    Dictionary snapshot;
    {
        std::lock_guard lock(mutex_);
        snapshot = values_;
        generation = generation_;
    }
    std::string problem;
    std::optional<Data> bytes = plist::writeBinary(Value(std::move(snapshot)), &problem);
    if (!bytes) return fail(error, "could not encode the preferences: " + problem);
    if (!Paths::ensureDirectory(directory_, &problem)) return fail(error, problem);
    if (!writeFileAtomically(path_, *bytes, &problem)) return fail(error, problem);

    std::lock_guard lock(mutex_);
    if (generation_ == generation) dirty_ = false;
    return true;
}

bool UserDefaults::readUnreadFile(std::string* error) {
    {
        std::lock_guard lock(mutex_);
        if (!fileUnread_) return true;
    }
    Stored stored = readStore();
    switch (stored.state) {
        case Stored::State::Unreadable:
            return fail(error, fmt::format("preferences file \"{}\" still cannot be read ({}); "
                                           "it is kept and not overwritten",
                                           path_, stored.problem));
        case Stored::State::Bad:
            if (!setAsideBadFile(stored.problem, error)) return false;
            break;
        case Stored::State::Loaded: {
            // The file's values under the changes made meanwhile.
            std::lock_guard lock(mutex_);
            Dictionary merged = std::move(stored.values);
            for (const auto& key : removedWhileUnread_) {
                if (auto found = merged.find(key); found != merged.end()) merged.erase(found);
            }
            for (auto& [key, value] : values_) merged.insert_or_assign(key, std::move(value));
            values_ = std::move(merged);
            ++generation_;
            break;
        }
        case Stored::State::Missing:
            break;
    }
    std::lock_guard lock(mutex_);
    fileUnread_ = false;
    removedWhileUnread_.clear();
    return true;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    Dictionary merged = registered_;
    for (const auto& [key, value] : values_) merged.insert_or_assign(key, value);
    return merged;
}

}  // namespace foundation
