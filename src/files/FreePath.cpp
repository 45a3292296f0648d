#include "files/FreePath.h"

#include <sys/stat.h>

#include <fmt/format.h>

namespace {

bool taken(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string firstFreePath(const std::string& path, bool isDirectory) {
    if (!taken(path)) return path;

    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : trimmed.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);

    std::string base = name, extension;
    if (!isDirectory) {
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) {
            base = name.substr(0, dot);
            extension = name.substr(dot);
        }
    }
    for (long counter = 1;; ++counter) {
        std::string candidate = fmt::format("{}{} ({}){}", parent, base, counter, extension);
        if (!taken(candidate)) return candidate;
    }
}
