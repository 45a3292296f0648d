#include "content/PathText.h"

#include <algorithm>

#include "foundation/Url.h"

namespace content {

std::string foldDoubleSlashes(std::string_view path) {
    // One pass replaces each "//" once, so "///" becomes "//", as a plain replace does.
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        out += path[i];
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/') ++i;
    }
    return out;
}

std::string cutAtQuery(std::string_view path) {
    return std::string(path.substr(0, path.find('?')));
}

std::optional<std::string> servedFileName(std::string_view path) {
    const std::string folded = foldDoubleSlashes(cutAtQuery(path));
    std::string_view name = folded;
    if (!name.empty() && name.front() == '/') name.remove_prefix(1);
    if (name.empty()) return "index.html";
    std::string decoded = foundation::Url::percentDecode(name);
    if (decoded.empty() || decoded.front() == '/' || decoded.find('\0') != std::string::npos)
        return std::nullopt;
    for (std::size_t start = 0; start <= decoded.size();) {
        const std::size_t end = std::min(decoded.find('/', start), decoded.size());
        if (decoded.compare(start, end - start, "..") == 0) return std::nullopt;
        start = end + 1;
    }
    return decoded;
}

}  // namespace content
