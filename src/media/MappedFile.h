#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace media {

// A whole file mapped read-only, for readers that walk large device databases without
// copying them. The loader reads private copies of the device's files, which nothing else
// changes while they are mapped.
class MappedFile {
public:
    // Not open (`isOpen()` false) when the file cannot be opened or mapped; an empty file is
    // open with no bytes.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    bool isOpen() const { return open_; }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool open_ = false;
};

}  // namespace media
