#pragma once

// The peak resident size of this process, measured from a mark: the tests that bound a
// reader's memory run it in a child process of their own and read the growth there.

#include <malloc.h>

#include <fstream>
#include <string>

namespace mediatest {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
inline double statusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1));
    }
    return 0;
}

// Starts the peak again from the present size; gives that size in KiB.
inline double markPeak() {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusKiB("VmRSS");
}

// How far the peak rose above the mark, in MiB.
inline double peakGrowthMiB(double markKiB) {
    return (statusKiB("VmHWM") - markKiB) / 1024;
}

}  // namespace mediatest
