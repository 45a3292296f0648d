#include "data/ZipHelper/ZipHelper.h"

#include "data/ZipHelper/GzipInflate.h"

std::optional<foundation::Data> ZipHelper::ungzip(std::span<const std::uint8_t> data) {
    return ziphelper::inflateGzipMember(data);
}
