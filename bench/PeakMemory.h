#pragma once

// The process's resident memory as /proc/self/status gives it, for the memory figures the
// benchmarks print beside their times.

#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace bench {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); 0 when it is not there.
inline double statusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1));
    }
    return 0;
}

// Lets the peak (VmHWM) start again from the present resident size.
inline void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The rise of the peak resident size in MiB over the resident size when it was made.
class PeakRise {
public:
    // Freed memory the allocator still holds would hide the rise: it goes back first.
    PeakRise() {
        ::malloc_trim(0);
        resetPeak();
        before_ = statusKiB("VmRSS");
    }
    double mebibytes() const { return (statusKiB("VmHWM") - before_) / 1024.0; }

private:
    double before_ = 0;
};

// The process's peak resident size in MiB.
inline double peakResidentMiB() {
    return statusKiB("VmHWM") / 1024.0;
}

// A shell command's own peak resident size in MiB, measured by running it once more under
// /usr/bin/time (children forked from here would count this process's memory); 0 when it
// fails. `scratch` names a file it may use for the figure.
inline double commandPeakMiB(const std::string& command, const std::string& scratch) {
    const std::string measured = "/usr/bin/time -f %M -o '" + scratch + "' " + command;
    double kib = 0;
    if (std::system(measured.c_str()) == 0) std::ifstream(scratch) >> kib;
    std::error_code ignored;
    std::filesystem::remove(scratch, ignored);
    return kib / 1024.0;
}

}  // namespace bench
