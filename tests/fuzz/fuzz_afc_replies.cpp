// File service replies come from devices: any byte stream gives whole replies or a clean
// failure, never an allocation of what a header merely claims; file and device
// information made from the replies' texts converts without trouble.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/AFCFileInfo.h"
#include "platform/mobiledevice/AFCPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace packet = mobiledevice::afcpacket;
    std::size_t offset = 0;
    const auto read = [&](std::uint8_t* bytes, std::size_t length) {
        if (length > size - offset) return false;
        std::memcpy(bytes, data + offset, length);
        offset += length;
        return true;
    };
    while (auto reply = packet::readReply(read)) {
        if (reply->payload.size() > packet::kMaxPacketLength) std::abort();
        const auto texts = packet::splitTexts(reply->payload);
        mobiledevice::AFCKeyValues pairs;
        for (std::size_t i = 0; i + 1 < texts.size(); i += 2) pairs.emplace_back(texts[i], texts[i + 1]);
        AFCFileInfo::fileInfoFromPairs(pairs, "/fuzz");
        packet::little64(reply->data);
    }
    return 0;
}
