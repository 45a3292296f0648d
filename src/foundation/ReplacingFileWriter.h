#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/PartialFiles.h"

namespace foundation {

// Writes a file in pieces under a temporary name in the target's folder and puts it in
// place only on commit(), so that a failed or stopped copy leaves the old file (or no
// file) rather than a partial one. Without commit() the temporary is removed. A replaced
// file's permission bits are kept; a new file gets 0644 less the umask. The temporary is
// kept in `partials` when given, where another thread may withdraw it: the writer then
// makes none, and its commit() fails.
class ReplacingFileWriter {
public:
    explicit ReplacingFileWriter(std::string path, std::shared_ptr<PartialFiles> partials = {});
    ~ReplacingFileWriter();
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Creates the temporary; false with a reason when the folder does not take it.
    bool open(std::string* error = nullptr);
    bool append(const std::uint8_t* bytes, std::size_t length, std::string* error = nullptr);
    // Closes and renames over the target; false (temporary removed) on failure.
    bool commit(std::string* error = nullptr);
    // Removes the temporary now.
    void discard();

private:
    std::string path_;
    std::shared_ptr<PartialFiles> partials_;
    std::string temporary_;
    int fd_ = -1;
};

}  // namespace foundation
