#include "platform/mobiledevice/PairRecord.h"

#include <usbmuxd.h>

#include <cstdint>
#include <cstdlib>
#include <span>

#include "foundation/PropertyList.h"

namespace mobiledevice {

foundation::Value readPairRecord(const std::string& udid) {
    char* bytes = nullptr;
    std::uint32_t size = 0;
    if (usbmuxd_read_pair_record(udid.c_str(), &bytes, &size) != 0 || !bytes) return {};
    auto record = foundation::plist::read(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes), size));
    std::free(bytes);
    if (!record || !record->isDictionary()) return {};
    return std::move(*record);
}

std::string pairRecordHostId(const std::string& udid) {
    return readPairRecord(udid)["HostID"].stringOr();
}

}  // namespace mobiledevice
