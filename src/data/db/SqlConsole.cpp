#include "data/db/SqlConsole.h"

#include <cstdio>

namespace sqlconsole {

void line(std::string_view text) {
    std::string buffer;
    buffer.reserve(text.size() + 1);
    buffer.append(text);
    buffer.push_back('\n');
    std::fwrite(buffer.data(), 1, buffer.size(), stderr);
    std::fflush(stderr);
}

}  // namespace sqlconsole
