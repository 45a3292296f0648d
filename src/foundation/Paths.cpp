#include "foundation/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

namespace foundation {

namespace {

constexpr const char* kAppFolder = "Orvandel";

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The variable's value when it is an absolute path.
std::string absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return withoutTrailingSlashes(value);
}

std::string join(const std::string& folder, const std::string& name) {
    return folder == "/" ? folder + name : folder + "/" + name;
}

std::string fromEnvironmentOrHome(const char* name, const char* homeRelative) {
    std::string path = absoluteFromEnvironment(name);
    return path.empty() ? join(Paths::homeDir(), homeRelative) : path;
}

std::string homeFromUserDatabase() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    passwd entry{};
    passwd* found = nullptr;
    while (true) {
        int result = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (result == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != 0 || found == nullptr || found->pw_dir == nullptr ||
            found->pw_dir[0] != '/') {
            return {};
        }
        return withoutTrailingSlashes(found->pw_dir);
    }
}

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

std::string errnoText(int code) {
    return std::error_code(code, std::system_category()).message();
}

}  // namespace

std::string Paths::homeDir() {
    std::string home = absoluteFromEnvironment("HOME");
    if (home.empty()) home = homeFromUserDatabase();
    return home.empty() ? "/" : home;
}

std::string Paths::configHome() {
    return fromEnvironmentOrHome("XDG_CONFIG_HOME", ".config");
}
std::string Paths::dataHome() {
    return fromEnvironmentOrHome("XDG_DATA_HOME", ".local/share");
}
std::string Paths::stateHome() {
    return fromEnvironmentOrHome("XDG_STATE_HOME", ".local/state");
}
std::string Paths::cacheHome() {
    return fromEnvironmentOrHome("XDG_CACHE_HOME", ".cache");
}
std::string Paths::musicDir() {
    return userDir("MUSIC", "Music");
}

namespace {

// The value of `XDG_<name>_DIR="..."` in the user-dirs file: "$HOME/..." or an absolute
// path, backslash escapes taken literally; empty when the file has no usable entry.
std::string userDirFromFile(const std::string& name) {
    std::ifstream file(join(Paths::configHome(), "user-dirs.dirs"));
    const std::string prefix = "XDG_" + name + "_DIR=\"";
    std::string line, found;
    while (std::getline(file, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0)
            continue;
        std::string value;
        bool closed = false;
        for (std::size_t i = start + prefix.size(); i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                value += line[++i];
            } else if (line[i] == '"') {
                closed = true;
                break;
            } else {
                value += line[i];
            }
        }
        if (!closed) continue;
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            value = value.size() <= 6 ? Paths::homeDir() : join(Paths::homeDir(), value.substr(6));
        } else if (value.empty() || value[0] != '/') {
            continue;
        }
        found = withoutTrailingSlashes(value);  // the last entry wins, as the shell reads it
    }
    return found;
}

}  // namespace

std::string Paths::userDir(const std::string& name, const std::string& fallback) {
    std::string path = absoluteFromEnvironment(("XDG_" + name + "_DIR").c_str());
    if (path.empty()) path = userDirFromFile(name);
    return path.empty() ? join(homeDir(), fallback) : path;
}

std::string Paths::tempDir() {
    std::string path = absoluteFromEnvironment("TMPDIR");
    return path.empty() ? "/tmp" : path;
}

std::string Paths::preferencesDir() {
    return join(configHome(), kAppFolder);
}
std::string Paths::applicationSupportDir() {
    return join(dataHome(), kAppFolder);
}
std::string Paths::logsDir() {
    return join(join(stateHome(), kAppFolder), "Logs");
}
std::string Paths::cachesDir() {
    return join(cacheHome(), kAppFolder);
}

bool Paths::ensureDirectory(const std::string& path, std::string* error) {
    if (path.empty()) {
        setError(error, "empty folder path");
        return false;
    }
    // Each prefix ending before a "/", then the whole path.
    std::size_t next = 0;
    while (next != std::string::npos) {
        next = path.find('/', next + 1);
        std::string prefix = path.substr(0, next);
        if (prefix.empty() || prefix.back() == '/') continue;
        if (mkdir(prefix.c_str(), 0700) == 0) continue;
        int code = errno;
        struct stat info {};
        if (code == EEXIST && stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
        if (code == EEXIST) {
            setError(error, "\"" + prefix + "\" exists and is not a folder");
        } else {
            setError(error, "could not create folder \"" + prefix + "\": " + errnoText(code));
        }
        return false;
    }
    return true;
}

}  // namespace foundation
