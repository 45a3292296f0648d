#include "content/InflatedBuffer.h"

#include <sys/mman.h>

namespace content {
namespace {

constexpr std::size_t kHugePage = 2u << 20;

}  // namespace

InflatedBuffer::InflatedBuffer(std::size_t size) {
    if (size == 0 || size > SIZE_MAX - 2 * kHugePage) return;
    // Mapped a huge page larger, then trimmed to start on a huge-page boundary: only
    // aligned stretches can be backed by huge pages.
    const std::size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    auto* start = static_cast<std::uint8_t*>(mapped);
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(start);
    const std::size_t lead = (kHugePage - address % kHugePage) % kHugePage;
    if (lead > 0) ::munmap(start, lead);
    if (kHugePage - lead > 0) ::munmap(start + lead + length, kHugePage - lead);
    data_ = start + lead;
    mapped_ = length;
    size_ = size;
    // Only advice: where huge pages are off, the buffer works with small ones.
    ::madvise(data_, mapped_, MADV_HUGEPAGE);
}

InflatedBuffer::~InflatedBuffer() {
    if (data_) ::munmap(data_, mapped_);
}

}  // namespace content
