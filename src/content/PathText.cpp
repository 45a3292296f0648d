#include "content/PathText.h"

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

}  // namespace content
