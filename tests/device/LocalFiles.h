#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace devicetest {

// A computer file's whole content; empty when it cannot be read.
inline std::string contentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void writeLocal(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace devicetest
