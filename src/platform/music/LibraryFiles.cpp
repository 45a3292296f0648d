#include "platform/music/LibraryFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/Paths.h"

namespace music::LibraryFiles {

namespace {

constexpr int kMaxNameTries = 1000;

std::string errnoText(int code) {
    return std::error_code(code, std::system_category()).message();
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// "Title.m4a" as "Title" and ".m4a".
std::pair<std::string, std::string> stemAndExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    if (!hasExtension) return {path, std::string()};
    return {path.substr(0, dot), path.substr(dot)};
}

// Links `from` to the first free candidate; link() fails rather than replace a file.
std::optional<std::string> linkFree(const std::string& from, const std::string& wanted,
                                    std::string* error, int lastNumber = kMaxNameTries) {
    for (int attempt = 1; attempt <= std::min(lastNumber, kMaxNameTries); ++attempt) {
        const std::string target = numberedName(wanted, attempt);
        if (::link(from.c_str(), target.c_str()) == 0) return target;
        if (errno != EEXIST) {
            if (error) *error = "cannot place " + target + ": " + errnoText(errno);
            return std::nullopt;
        }
    }
    if (error) *error = "no free file name for " + wanted;
    return std::nullopt;
}

bool copyBytes(int in, int out, std::string* error) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (error) *error = "cannot read the track file: " + errnoText(errno);
            return false;
        }
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, std::size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                if (error) *error = "cannot write the library copy: " + errnoText(errno);
                return false;
            }
            done += put;
        }
    }
}

}  // namespace

std::string numberedName(const std::string& wanted, int number) {
    if (number <= 1) return wanted;
    const auto [stem, extension] = stemAndExtension(wanted);
    return stem + " " + std::to_string(number) + extension;
}

std::optional<int> freeNameNumber(const std::string& path, const std::string& wanted) {
    if (path == wanted) return 1;
    const auto [stem, extension] = stemAndExtension(wanted);
    const std::string prefix = stem + " ";
    if (path.size() <= prefix.size() + extension.size() || !path.starts_with(prefix) ||
        !path.ends_with(extension)) {
        return std::nullopt;
    }
    const std::string digits =
        path.substr(prefix.size(), path.size() - prefix.size() - extension.size());
    if (digits.size() > 4 || digits.front() == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int number = std::stoi(digits);
    if (number < 2 || number > kMaxNameTries) return std::nullopt;
    return number;
}

std::optional<std::string> copyToFreeName(const std::string& source, const std::string& wantedPath,
                                          const std::string& stagingFolder, std::string* error) {
    if (!foundation::Paths::ensureDirectory(folderOf(wantedPath), error) ||
        !foundation::Paths::ensureDirectory(stagingFolder, error)) {
        return std::nullopt;
    }
    const std::string& folder = stagingFolder;
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        if (error) *error = "cannot open " + source + ": " + errnoText(errno);
        return std::nullopt;
    }
    std::string temporary = folder + "/import-XXXXXX";
    int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    // Another library on the folder may have just removed the emptied staging folder.
    if (out < 0 && errno == ENOENT && foundation::Paths::ensureDirectory(folder)) {
        temporary = folder + "/import-XXXXXX";
        out = ::mkostemp(temporary.data(), O_CLOEXEC);
    }
    if (out < 0) {
        if (error) *error = "cannot create a file in " + folder + ": " + errnoText(errno);
        ::close(in);
        return std::nullopt;
    }
    bool copied = copyBytes(in, out, error);
    if (copied && ::fsync(out) != 0) {
        if (error) *error = "cannot flush the library copy: " + errnoText(errno);
        copied = false;
    }
    ::fchmod(out, 0644);
    ::close(in);
    if (::close(out) != 0 && copied) {
        if (error) *error = "cannot write the library copy: " + errnoText(errno);
        copied = false;
    }
    std::optional<std::string> placed;
    if (copied) placed = linkFree(temporary, wantedPath, error);
    ::unlink(temporary.c_str());
    return placed;
}

std::optional<std::string> linkToFreeName(const std::string& existing,
                                          const std::string& wantedPath, std::string* error,
                                          int lastNumber) {
    if (!foundation::Paths::ensureDirectory(folderOf(wantedPath), error)) return std::nullopt;
    return linkFree(existing, wantedPath, error, lastNumber);
}

std::optional<std::string> canonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return std::nullopt;
    return std::string(resolved);
}

void emptyFolder(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

void removeEmptyFolders(const std::string& folder, const std::string& root) {
    std::string current = folder;
    // rmdir() removes only an empty folder, so nothing of anyone's can go.
    while (isInside(current, root) && ::rmdir(current.c_str()) == 0) current = folderOf(current);
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isInside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace music::LibraryFiles
