#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace foundation {

// Writes a file in pieces under a temporary name in the target's folder and puts it in
// place only on commit(), so that a failed or stopped copy leaves the old file (or no
// file) rather than a partial one. Without commit() the temporary is removed. A replaced
// file's permission bits are kept; a new file gets 0644 less the umask.
class ReplacingFileWriter {
public:
    explicit ReplacingFileWriter(std::string path);
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
    std::string temporary_;
    int fd_ = -1;
};

}  // namespace foundation
