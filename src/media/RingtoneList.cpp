#include "media/RingtoneList.h"

#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "foundation/PathComponents.h"
#include "foundation/PropertyList.h"

using foundation::Value;

namespace media {

foundation::Array RingtoneList::readFile(const std::string& path, const std::string& folder,
                                         const SizeOfItem& sizeOf) {
    foundation::Array records;
    std::ifstream in(path, std::ios::binary);
    if (!in) return records;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto list = foundation::plist::read(std::string_view(bytes));
    const foundation::Dictionary* ringtones = list ? (*list)["Ringtones"].dictionary() : nullptr;
    if (!ringtones) return records;
    for (const auto& [fileName, entry] : *ringtones) {
        const std::string location = foundation::appendingPathComponent(folder, fileName);
        const std::int64_t length = entry["Total Time"].toInt64().value_or(0);
        records.push_back(Value::dict({
            {"pid", fmt::format("{}", entry["PID"].toInt64().value_or(0))},
            {"artist", entry["Artist"].stringOr()},
            {"album", entry["Album"].stringOr()},
            {"genre", entry["Genre"].stringOr()},
            {"title", entry["Name"].stringOr()},
            {"length", static_cast<std::int32_t>(length)},
            {"is_ringtone", true},
            {"location", location},
            {"size", sizeOf ? sizeOf(location) : std::uint64_t{0}},
        }));
    }
    return records;
}

}  // namespace media
