#pragma once

// A fresh folder in the temporary folder (TMPDIR) for a benchmark's files. It goes, with
// everything in it, when its owner does: after the run, and also when setting up or a case
// fails part-way, so that no run leaves its files behind.

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace bench {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix)
        : path_((std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string()) {
        if (::mkdtemp(path_.data()) == nullptr)
            throw std::runtime_error("cannot make a scratch folder like " + path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace bench
