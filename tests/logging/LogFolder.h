#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// A fresh temporary folder per test, removed afterwards, with small file helpers.
class LogFolder {
public:
    LogFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvandel-logs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~LogFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    LogFolder(const LogFolder&) = delete;
    LogFolder& operator=(const LogFolder&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

    // A file of `size` bytes (sparse, so that large sizes cost nothing).
    void make(const std::string& name, std::uint64_t size = 0, const std::string& text = {}) const {
        std::ofstream(file(name), std::ios::binary) << text;
        if (size > text.size()) std::filesystem::resize_file(file(name), size);
    }

    // Names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            result.push_back(entry.path().filename().string());
        }
        std::sort(result.begin(), result.end());
        return result;
    }

    static std::string read(const std::string& filePath) {
        std::ifstream in(filePath, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    // The raw value of an extended attribute; nullopt when it is not there.
    static std::optional<std::string> attribute(const std::string& filePath, const char* name) {
        char buffer[64];
        const ssize_t length = ::getxattr(filePath.c_str(), name, buffer, sizeof buffer);
        if (length < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(length));
    }

    std::string path;
};
