#pragma once

#include <fstream>
#include <string>

namespace httptest {

// The process's peak resident size (VmHWM), in bytes; 0 when it cannot be read.
inline long long peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return 0;
}

// Measures how far the process's peak resident size grows during a scope: the peak is
// reset to the current size at the start, so earlier peaks do not hide growth.
class PeakGrowth {
public:
    PeakGrowth() {
        std::ofstream("/proc/self/clear_refs") << "5";
        start_ = peakResidentBytes();
    }
    long long bytes() const { return peakResidentBytes() - start_; }

private:
    long long start_ = 0;
};

inline constexpr long long MemoryBound = 64ll * 1024 * 1024;

}  // namespace httptest
