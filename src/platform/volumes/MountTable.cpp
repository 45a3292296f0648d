#include "platform/volumes/MountTable.h"

#include <fstream>
#include <sstream>

namespace volumes {

namespace {

// "\040" and the like back to the byte they stand for; anything else is kept as written.
std::string unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            field[i + 1] >= '0' && field[i + 1] <= '3' && field[i + 2] >= '0' &&
            field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const auto start = line.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) break;
        const auto end = line.find_first_of(" \t", start);
        out.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        pos = end;
    }
    return out;
}

}  // namespace

std::vector<MountEntry> parseMountTable(std::string_view text) {
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        const auto parts = fields(line);
        if (parts.size() < 3 || parts[0].starts_with("#")) continue;
        entries.push_back({unescape(parts[0]), unescape(parts[1]), unescape(parts[2])});
    }
    return entries;
}

std::optional<std::vector<MountEntry>> readMountTable(const std::string& path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return parseMountTable(text.str());
}

}  // namespace volumes
